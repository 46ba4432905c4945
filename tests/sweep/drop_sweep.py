#!/usr/bin/env python3
"""The link dropped near the end: handset-sim closes the pty after N bytes from the PC, for
N over the last WINDOW bytes of each procedure, and brenvik-cli must never report success
while the handset lacks bytes. Every STRIDE-th offset is tried (1: every one). Prints one
JSON line per procedure: runs, false successes, hangs, signals, and the window that went
unseen (the largest distance from the end at which a drop was missed).
Usage: python3 -m tests.sweep.drop_sweep CLI SIM [--stride N] [--window BYTES] [--jobs N]"""
import argparse
import concurrent.futures
import json
import os
import sys
import tempfile

from tests.sweep import pty_flash
from tests.sweep.pty_flash import BOOT, BOUND, pattern, stream

# name -> (file name, image, handset-sim's extra arguments, brenvik-cli's extra arguments)
PROCEDURES = {
    "blocks": ("fw.dio", pattern(0x40000 + 70000, 1), [], []),
    "img": ("fw.img", pattern(BOOT, 2) + stream([(0x80001000 + i * 0x1000, pattern(4096, i)) for i in range(24)]), [], []),
    "raw": ("fw.raw", pattern(BOOT + 4096, 3), [], []),
    "large bin": ("fw.bin", stream([(0x80100000 + i * 0x10000, pattern(0x10000, i)) for i in range(9)]), [], []),
    "blocks, no auto upgrade": ("nb.img", pattern(BOOT + 70000, 4), ["--no-auto-upgrade"], ["--no-auto-upgrade"]),
}


def flash(cli, sim, tmp, image, sim_args, cli_args, tag, drop=None):
    """One run; returns (cli exit code, sim exit code, seconds, summary or None)."""
    out = os.path.join(tmp, "out-" + tag)
    ending = ["--out", out] if drop is None else ["--fault", "drop-after=%d" % drop]
    r, took, sim_code = pty_flash.flash(cli, sim, tmp, tag, image, ["--timeout", "5", "--linger", "1", *sim_args, *ending],
                                        cli_args, "2")
    summary = None
    if drop is None:
        with open(os.path.join(out, "summary.json")) as f:
            summary = json.load(f)
    return r.returncode, sim_code, took, summary


def sweep(cli, sim, tmp, name, stride, window, jobs):
    file_name, data, sim_args, cli_args = PROCEDURES[name]
    image = os.path.join(tmp, file_name)
    with open(image, "wb") as f:
        f.write(data)
    code, _, _, summary = flash(cli, sim, tmp, image, sim_args, cli_args, name.replace(" ", "_"))
    assert code == 0 and summary["complete"], (name, code, summary)
    # What the PC sends up to the end of the download; the repeated end command after the
    # final text is no part of what the handset needs.
    total = summary["bytes"]["received"] - (16 if summary["procedure"] == "records" else 0)
    offsets = range(max(0, total - window), total, stride)
    tally = {"procedure": name, "bytes": total, "runs": 0, "false_successes": 0, "hangs": 0, "signals": 0,
             "unseen_window": 0}

    def one(n):
        return n, flash(cli, sim, tmp, image, sim_args, cli_args, "%s-%d" % (name.replace(" ", "_"), n), drop=n)

    with concurrent.futures.ThreadPoolExecutor(jobs) as pool:
        for n, (code, sim_code, took, _) in pool.map(one, offsets):
            tally["runs"] += 1
            if code == 0:
                tally["false_successes"] += 1
                tally["unseen_window"] = max(tally["unseen_window"], total - n)
            if took >= BOUND:
                tally["hangs"] += 1
            if code < 0 or code > 3:
                tally["signals"] += 1
    return tally


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("cli")
    ap.add_argument("sim")
    ap.add_argument("--stride", type=int, default=1)
    ap.add_argument("--window", type=int, default=65536)
    ap.add_argument("--jobs", type=int, default=2)
    ap.add_argument("--allow-window", type=int, default=0,
                    help="drops this close to the end may go unseen (what a pty cannot show)")
    a = ap.parse_args()
    ok = True
    with tempfile.TemporaryDirectory() as tmp:
        for name in PROCEDURES:
            t = sweep(a.cli, a.sim, tmp, name, a.stride, a.window, a.jobs)
            print(json.dumps(t), flush=True)
            ok = ok and t["hangs"] == 0 and t["signals"] == 0 and t["unseen_window"] <= a.allow_window
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
