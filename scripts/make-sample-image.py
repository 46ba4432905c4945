#!/usr/bin/env python3
"""Makes a sample handset image: an img (boot area + BIN record stream) or a large bin."""
import argparse
import random
import struct


def bin_stream(records, entry_point, image_start=0x80001000):
    length = sum(len(d) for _, d in records)
    out = bytearray(b"B000FF\n" + struct.pack("<II", image_start, length))
    for address, data in records:
        out += struct.pack("<III", address, len(data), sum(data) & 0xFFFFFFFF) + data
    out += struct.pack("<III", 0, entry_point, 0)
    return bytes(out)


def main():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument("output", help="file to write; its last three characters choose the kind (img or bin)")
    p.add_argument("--records", type=int, default=48, help="number of BIN records")
    p.add_argument("--record-size", type=int, default=16384, help="bytes per record")
    p.add_argument("--seed", type=int, default=7)
    a = p.parse_args()

    rng = random.Random(a.seed)
    base = 0x80001000
    records = [(base + i * a.record_size, rng.randbytes(a.record_size)) for i in range(a.records)]
    stream = bin_stream(records, entry_point=base)
    with open(a.output, "wb") as f:
        if a.output.endswith("img"):
            boot = bytes(rng.randbytes(0x20000))
            f.write(boot)
        f.write(stream)


if __name__ == "__main__":
    main()
