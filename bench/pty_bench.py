#!/usr/bin/env python3
"""Flash throughput over a pty against the raw channel, and peak memory, in one run.

A 256 MiB plain image and a 256 MiB img of 4 KiB records are flashed by brenvik-cli into
handset-sim over a pty; the baseline writes the same bytes in 4096-byte pieces through the
same kind of pty. Peak memory is the CLI's own (anonymous) memory, sampled while it runs,
for a small and a large image: the image is mapped, never copied. Every figure is given as
minimum, median and maximum over the rounds (BRENVIK_BENCH_ROUNDS, 3 by default).

Each round also flashes into pty_answer_peer, a handset that only answers: the flash's own
limit on a pty, so that handset-sim can be told apart from the link's round trips. A flash
of one block measures what every flash pays once (start-up, handshake, the final drain).
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
PEER = os.path.join(BUILD, "bench", "pty_answer_peer")
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


def flash(image, peer=False, sample_memory=False):
    """Bytes per second, the seconds the CLI took and (when sampled) its peak anonymous memory;
    from the answering peer, instead of the memory, the seconds it waited on ready round trips.

    Timed runs are not sampled: the sampler shares the two cores and notices the end late.
    """
    pty_file = os.path.join(WORK, "pty")
    if os.path.exists(pty_file):
        os.unlink(pty_file)
    sim_args = [PEER, pty_file] if peer else [SIM, "--path-file", pty_file, "--timeout", "120"]
    sim = subprocess.Popen(sim_args, stdout=subprocess.PIPE if peer else subprocess.DEVNULL, stderr=subprocess.PIPE)
    for _ in range(200):
        if os.path.exists(pty_file) and os.path.getsize(pty_file) > 0:
            break
        time.sleep(0.02)
    device = open(pty_file).read().split()[0]
    start = time.monotonic()
    cli = subprocess.Popen([CLI, "flash", "--device", device, "--timeout", "30", image],
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    peak = peak_anon_kib(cli.pid, cli) if sample_memory else None
    out = cli.communicate()[0].decode(errors="replace")
    seconds = time.monotonic() - start
    said, complaint = sim.communicate(timeout=30)
    if cli.returncode != 0 or sim.returncode != 0:
        sys.exit(f"flash of {image} failed ({cli.returncode}/{sim.returncode}):\n{out}\n{complaint.decode()}")
    if peer:
        # Seconds the peer waited between each ready packet and the next block header.
        return os.path.getsize(image) / seconds, seconds, float(said.split()[1])
    return os.path.getsize(image) / seconds, seconds, peak


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

    one_block = os.path.join(WORK, "one-block.dio")
    make_plain(one_block, 256 * 1024)

    rounds = int(os.environ.get("BRENVIK_BENCH_ROUNDS", "3"))
    results = {}
    # What every flash pays once, whatever its size: start-up, handshake and the final
    # drain with its hang-up grace. Measured on an image of one block.
    fixed_sim = [flash(one_block)[1] for _ in range(rounds)]
    fixed_peer = [flash(one_block, peer=True)[1] for _ in range(rounds)]
    fixed = statistics.median(fixed_sim)
    results["one_block_ms"] = {"handset-sim": spread([t * 1000 for t in fixed_sim]),
                               "peer": spread([t * 1000 for t in fixed_peer])}
    for name, image in (("plain blocks", plain), ("img, 4 KiB records", img)):
        # Baseline, flash and answering peer alternate, so that all see the same machine;
        # each round is held against the mean of the baselines just before and after it,
        # which follows a load that drifts while the round runs.
        measured, speeds, peers, seconds, round_trips = [raw_channel(image)], [], [], [], []
        for _ in range(rounds):
            speed, took, _ = flash(image)
            speeds.append(speed)
            seconds.append(took)
            speed, took, waited = flash(image, peer=True)
            peers.append(speed)
            round_trips.append(waited / took)
            measured.append(raw_channel(image))
        raws = [(a + b) / 2 for a, b in zip(measured, measured[1:])]
        streamed = [size / max(t - fixed, 1e-6) for t in seconds]
        results[name] = {
            "flash_MBps": spread([s / 1e6 for s in speeds]),
            "raw_MBps": spread([r / 1e6 for r in raws]),
            "peer_MBps": spread([p / 1e6 for p in peers]),
            "ratio": spread([s / r for s, r in zip(speeds, raws)]),
            "ratio_without_fixed_cost": spread([s / r for s, r in zip(streamed, raws)]),
            "peer_ratio": spread([p / r for p, r in zip(peers, raws)]),
            "sim_vs_peer": spread([s / p for s, p in zip(speeds, peers)]),
            "peer_share_in_round_trips": spread(round_trips),
            "peak_anon_KiB": flash(image, sample_memory=True)[2], "rounds": rounds}
    small_peak = flash(small, sample_memory=True)[2]
    results["peak_anon_KiB_16MiB_img"] = small_peak

    def triple(d, f="{:.2f}"):
        return "/".join(f.format(d[k]) for k in ("min", "median", "max"))

    print(f"{size // MIB} MiB, {rounds} rounds; each figure is min/median/max over the rounds")
    for name in ("plain blocks", "img, 4 KiB records"):
        r = results[name]
        print(f"{name}: flash {triple(r['flash_MBps'], '{:.1f}')} MB/s, raw {triple(r['raw_MBps'], '{:.1f}')} MB/s, "
              f"answering peer {triple(r['peer_MBps'], '{:.1f}')} MB/s")
        print(f"  ratio {triple(r['ratio'])} of raw ({triple(r['ratio_without_fixed_cost'])} without the fixed cost); "
              f"peer {triple(r['peer_ratio'])} of raw; handset-sim {triple(r['sim_vs_peer'])} of the peer")
        print(f"  share of the peer's flash spent waiting on ready round trips: {triple(r['peer_share_in_round_trips'])}")
    print(f"fixed cost (one-block flash) ms: handset-sim {triple(results['one_block_ms']['handset-sim'], '{:.0f}')}, "
          f"peer {triple(results['one_block_ms']['peer'], '{:.0f}')}")
    print(f"peak anon KiB: {results['plain blocks']['peak_anon_KiB']} (plain), "
          f"{results['img, 4 KiB records']['peak_anon_KiB']} (img), {small_peak} (16 MiB img)")
    with open(os.path.join(WORK, "results.json"), "w") as f:
        json.dump(results, f, indent=2)


def spread(values):
    return {"min": min(values), "median": statistics.median(values), "max": max(values)}


if __name__ == "__main__":
    main()
