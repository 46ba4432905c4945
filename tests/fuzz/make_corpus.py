#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into corpus/<target>/: a few well-formed
inputs and the malformed ones a person would try first. The files are committed; run this
again only to change the seeds."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
KIND_MAGIC, BLOCK_TAG = 0x01234567, 0x123
DATA_MAGIC, COMMAND_MAGIC = 0xF9FBFDFF, 0xFFFDFBF9
BOOT, RECORD = 0x10000, 0x20000
TRANSFER_END, DOWNLOAD_END = 0x200000, 0x800000


def le(*values):
    return struct.pack("<%dI" % len(values), *values)


def pattern(n, seed):
    return bytes((i * 131 + seed * 7) & 0xFF for i in range(n))


def record(address, data, checksum=None):
    return le(address, len(data), sum(data) & 0xFFFFFFFF if checksum is None else checksum) + data


def stream(*records, entry=0x80001000, sync=b"B000FF\n"):
    body = b"".join(records)
    return sync + le(0x80001000, len(body)) + body + le(0, entry, 0)


def bin_stream_seeds():
    good = stream(record(0x80001000, pattern(300, 1)), record(0x80002000, pattern(40, 2)))
    return {
        "three-records": stream(record(0x80001000, pattern(200, 1)), record(0, pattern(16, 2)),
                                record(0x80003000, pattern(64, 3), checksum=0)),
        "end-record-only": stream(),
        "empty-first-record": stream(record(0x80001000, b""), record(0x80002000, pattern(8, 4))),
        "no-end-record": good[:-12],
        "record-header-cut": good[:-12] + le(0x80009000)[:3],
        "record-data-past-end": stream()[:-12] + le(0x80001000, 0x7FFFFFFF, 1) + pattern(20, 5),
        "bad-sync": stream(record(0x80001000, pattern(30, 6)), sync=b"X000FF\n"),
        "wrong-checksum": stream(record(0x80001000, pattern(30, 7), checksum=1)),
        "header-only": b"B000FF\n" + le(0, 0),
        "empty": b"",
    }


def kind(k, magic=KIND_MAGIC):
    return le(magic, k & 0xFFFFFFFF)


def data_header(type_, address, length, magic=DATA_MAGIC):
    return le(magic, type_, address, length)


def command(code, r0=0, r1=0):
    return le(COMMAND_MAGIC, code, r0, r1)


def transfer(type_, address, data):
    return data_header(type_, address, len(data)) + data + command(TRANSFER_END)


def session_seeds():
    # First byte: bit 0 auto upgrade, the rest picks how the stream is cut.
    auto, plain = b"\x01", b"\x00"
    one_block = le(0, 100, BLOCK_TAG) + pattern(100, 1)
    records = transfer(RECORD, 0x80001000, pattern(64, 2)) + transfer(RECORD, 0, pattern(9, 3))
    return {
        "blocks-auto": auto + kind(1) + one_block,
        "blocks-plain": plain + one_block,
        "blocks-kind9": b"\x07" + kind(9) + one_block,
        "blocks-two": b"\x21" + kind(2) + le(1, 0x40000, BLOCK_TAG) + pattern(64, 4),
        "large-bin": auto + kind(6) + records + command(DOWNLOAD_END) + command(DOWNLOAD_END),
        "raw-boot-cut": auto + kind(7) + data_header(BOOT, 0, 0x20000) + pattern(200, 5),
        "img-record-first": auto + kind(5) + transfer(RECORD, 0x80001000, pattern(8, 6)),
        "bad-kind-magic": auto + kind(5, magic=0x01234566),
        "kind-unknown": auto + kind(8),
        "transfer-end-alone": auto + kind(6) + command(TRANSFER_END),
        "block-bad-tag": plain + le(0, 16, 0x124) + pattern(16, 7),
        "empty-record": auto + kind(6) + data_header(RECORD, 0x1000, 0),
        "reserved-words": auto + kind(6) + command(DOWNLOAD_END, 1, 0),
    }


def classify_seeds():
    def case(size, path):
        return le(size) + path
    return {
        "img": case(100, b"C:\\fw\\x.img"),
        "dio-empty": case(0, b"x.DIO"),
        "bin-large": case(512001, b"/tmp/a.bin"),
        "bin-small": case(512000, b"abin"),
        "bin-too-small": case(307200, b"x.bin"),
        "nb0-2048": case(2048, b"x.nb0"),
        "nb0-letter-o": case(262144, b"x.nbO"),
        "raw-straw": case(7, b"straw"),
        "short-path": case(5, b"ab"),
        "nul-in-path": case(9, b"x.im\x00g"),
    }


def write(target, seeds):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("bin_stream", bin_stream_seeds())
    write("session", session_seeds())
    write("classify", classify_seeds())
