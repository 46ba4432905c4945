#!/usr/bin/env python3
"""Flash throughput over a pty against the raw channel, and peak memory, in one run.

A 256 MiB plain image and a 256 MiB img of 4 KiB records are flashed by brenvik-cli into
handset-sim over a pty; the baseline writes the same bytes in 4096-byte pieces through the
same kind of pty. Peak memory is the CLI's own (anonymous) memory, sampled while it runs,
for a small and a large image: the image is mapped, never copied.
"""
import json
import os
import statistics
import struct
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "linux")
CLI = os.path.join(BUILD, "cli", "brenvik-cli")
SIM = os.path.join(BUILD, "handset", "handset-sim")
RAW = os.path.join(BUILD, "bench", "pty_raw_bench")
WORK = os.path.join(BUILD, "bench-data")
MIB = 1 << 20


def make_plain(path, size):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    chunk = bytes((i * 31 + 7) & 0xFF for i in range(4096))
    with open(path, "wb") as f:
        for _ in range(size // 4096):
            f.write(chunk)


def make_img(path, size):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    data = bytes((i * 13 + 1) & 0xFF for i in range(4096))
    checksum = sum(data)
    with open(path, "wb") as f:
        f.write(b"\x5a" * 0x20000)
        f.write(b"B000FF\n" + struct.pack("<II", 0x80000000, 0))
        written = 0x20000 + 15
        address = 0x80000000
        while written + 12 + 4096 + 12 <= size:
            f.write(struct.pack("<III", address, 4096, checksum) + data)
            written += 12 + 4096
            address += 4096
        f.write(struct.pack("<III", 0, 0x80000000, 0))
        written += 12
        f.write(b"\0" * (size - written))


def peak_anon_kib(pid, proc):
    peak = 0
    while proc.poll() is None:
        try:
            with open(f"/proc/{pid}/status") as f:
                for line in f:
                    if line.startswith("RssAnon:"):
                        peak = max(peak, int(line.split()[1]))
        except OSError:
            break
        time.sleep(0.005)
    return peak


def flash(image, auto_upgrade=True):
    pty_file = os.path.join(WORK, "pty")
    if os.path.exists(pty_file):
        os.unlink(pty_file)
    sim_args = [SIM, "--path-file", pty_file, "--timeout", "120"]
    if not auto_upgrade:
        sim_args.append("--no-auto-upgrade")
    sim = subprocess.Popen(sim_args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    for _ in range(200):
        if os.path.exists(pty_file) and os.path.getsize(pty_file) > 0:
            break
        time.sleep(0.02)
    device = open(pty_file).read().split()[0]
    start = time.monotonic()
    cli = subprocess.Popen([CLI, "flash", "--device", device, "--timeout", "30", image],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    peak = peak_anon_kib(cli.pid, cli)
    out = cli.communicate()[0].decode(errors="replace")
    seconds = time.monotonic() - start
    sim.wait(timeout=30)
    if cli.returncode != 0 or sim.returncode != 0:
        sys.exit(f"flash of {image} failed ({cli.returncode}/{sim.returncode}):\n{out}\n{sim.stderr.read().decode()}")
    return os.path.getsize(image) / seconds, peak


def raw_channel(image):
    out = subprocess.run([RAW, image], check=True, capture_output=True, text=True).stdout
    return float(out.strip())


def main():
    size = int(os.environ.get("BRENVIK_BENCH_MIB", "256")) * MIB
    os.makedirs(WORK, exist_ok=True)
    plain = os.path.join(WORK, "plain.dio")
    img = os.path.join(WORK, "records.img")
    small = os.path.join(WORK, "small.img")
    make_plain(plain, size)
    make_img(img, size)
    make_img(small, 16 * MIB)

    rounds = int(os.environ.get("BRENVIK_BENCH_ROUNDS", "3"))
    results = {}
    for name, image in (("plain blocks", plain), ("img, 4 KiB records", img)):
        # Baseline and flash alternate, so that both see the same machine; medians of each.
        raws, speeds, peaks = [], [], []
        for _ in range(rounds):
            raws.append(raw_channel(image))
            speed, peak = flash(image)
            speeds.append(speed)
            peaks.append(peak)
        raw, speed = statistics.median(raws), statistics.median(speeds)
        results[name] = {"flash_MBps": speed / 1e6, "raw_MBps": raw / 1e6, "ratio": speed / raw,
                         "peak_anon_KiB": max(peaks), "rounds": rounds}
    _, small_peak = flash(small)
    results["peak_anon_KiB_16MiB_img"] = small_peak

    print(f"{'image (%d MiB)' % (size // MIB):<22}{'flash MB/s':>12}{'raw MB/s':>10}{'ratio':>8}{'peak anon KiB':>15}")
    for name in ("plain blocks", "img, 4 KiB records"):
        r = results[name]
        print(f"{name:<22}{r['flash_MBps']:>12.1f}{r['raw_MBps']:>10.1f}{r['ratio']:>8.2f}{r['peak_anon_KiB']:>15}")
    print(f"peak anon KiB of a 16 MiB img: {small_peak}")
    with open(os.path.join(WORK, "results.json"), "w") as f:
        json.dump(results, f, indent=2)


if __name__ == "__main__":
    main()
