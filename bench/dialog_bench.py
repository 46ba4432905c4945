#!/usr/bin/env python3
"""Brenvik.exe against brenvik-cli.exe under Wine: the same img of 4 KiB records flashed into
handset-sim through the same COM port in the same Wine prefix, the two programs alternating,
medians of each.

The dialog is started with `-device COM7 IMAGE` through the UI driver; its time runs from the
click on flash to its final box. The CLI's runs from its start to its end under Wine.

Usage: python3 -m bench.dialog_bench [--mib 32] [--rounds 3] [--app EXE]  (needs both presets built and an X server
binary; uses the GUI tests' rig, so it takes turns with them on the Wine prefix)
"""
import argparse
import os
import statistics
import struct
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
from tests.gui.gui_rig import Driver, Rig, Sim, wine_path

APP = os.path.join(ROOT, "build", "windows", "dialog", "app", "Brenvik.exe")
CLI = os.path.join(ROOT, "build", "windows", "cli", "brenvik-cli.exe")
DRIVER = os.path.join(ROOT, "build", "windows", "tests", "gui", "driver", "brenvik-uidriver.exe")
SIM = os.path.join(ROOT, "build", "linux", "handset", "handset-sim")
MIB = 1 << 20


def make_img(path, size):
    """A boot area, then 4 KiB records up to `size` bytes."""
    data = bytes((i * 13 + 1) & 0xFF for i in range(4096))
    checksum = sum(data)
    count = (size - 0x20000 - 15 - 12) // (12 + 4096)
    with open(path, "wb") as f:
        f.write(b"\x5a" * 0x20000)
        f.write(b"B000FF\n" + struct.pack("<II", 0x80000000, count * 4096))
        for i in range(count):
            f.write(struct.pack("<III", 0x80000000 + i * 4096, 4096, checksum) + data)
        f.write(struct.pack("<III", 0, 0x80000000, 0))


def check(sim, what):
    s = sim.finish(60)
    if not (s and s["complete"] and s["matches_expected"] and not s["protocol_errors"]):
        sys.exit(f"{what}: the handset did not get the image whole: {s}")


def dialog_run(rig, drive, com, image, app):
    sim = Sim(rig, SIM, expect=image, link=com, timeout=120, linger=1)
    try:
        r = drive("launch", exe=wine_path(app), args=f"-device COM7 {wine_path(image)}", cwd=wine_path(rig.tmp))
        if not r.get("ok"):
            sys.exit(f"the dialog did not start: {r}")
        start = time.monotonic()
        drive("click", id=1004)
        box = drive("wait_box", caption="Brenvik", timeout_ms=300000, poll_ms=int(os.environ.get("BRENVIK_BENCH_POLL_MS", "50")))
        seconds = time.monotonic() - start
        if not box.get("ok") or box["text"] != "Update Sucess! ":
            sys.exit(f"the dialog's run failed: {box}")
        drive("press", caption="Brenvik", id=1)
        check(sim, "dialog")
        drive("kill")
        return seconds
    finally:
        sim.stop()


def cli_run(rig, com, image):
    sim = Sim(rig, SIM, expect=image, link=com, timeout=120, linger=1)
    try:
        start = time.monotonic()
        code, out = rig.wine(CLI, "flash", "--device", "COM7", "--timeout", "30", wine_path(image), timeout=300)
        seconds = time.monotonic() - start
        if code != 0:
            sys.exit(f"the CLI's run failed ({code}): {out}")
        check(sim, "cli")
        return seconds
    finally:
        sim.stop()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--mib", type=int, default=int(os.environ.get("BRENVIK_BENCH_MIB", "32")))
    p.add_argument("--rounds", type=int, default=int(os.environ.get("BRENVIK_BENCH_ROUNDS", "3")))
    p.add_argument("--app", default=APP, help="another build of Brenvik.exe (keep its name: it captions the boxes)")
    args = p.parse_args()
    for exe in (args.app, CLI, DRIVER, SIM):
        if not os.path.exists(exe):
            sys.exit(f"{exe} is missing: build both presets first")

    rig = Rig("en_US.UTF-8")
    try:
        rig.up()
        image = os.path.join(rig.tmp, "records.img")
        make_img(image, args.mib * MIB)
        com = os.path.join(rig.prefix, "dosdevices", "com7")
        rig.remove_link()  # the COM port only: no class search may find another handset
        drive = Driver(rig, wine_path(DRIVER))
        dialog, cli = [], []
        try:
            for _ in range(args.rounds):
                dialog.append(dialog_run(rig, drive, com, image, args.app))
                cli.append(cli_run(rig, com, image))
        finally:
            drive.close()
    finally:
        rig.down()

    d, c = statistics.median(dialog), statistics.median(cli)
    print(f"{args.mib} MiB img of 4 KiB records, COM7, {args.rounds} rounds each, medians")
    print(f"  Brenvik.exe      {d:6.2f} s   (runs: {', '.join(f'{x:.2f}' for x in dialog)})")
    print(f"  brenvik-cli.exe  {c:6.2f} s   (runs: {', '.join(f'{x:.2f}' for x in cli)})")
    print(f"  dialog / CLI     {d / c:6.2f}")


if __name__ == "__main__":
    main()
