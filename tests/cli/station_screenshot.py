#!/usr/bin/env python3
"""The station's board in a real terminal (xterm under Xvfb), for the README: five handsets
behind a sysfs tree, one done, one failed, two flashing, one arriving late.

Usage: python3 -m tests.cli.station_screenshot [OUT.png]   (default docs/station-board.png; needs xterm)
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD = os.path.join(ROOT, "build", "linux")
CLI = os.path.join(BUILD, "cli", "brenvik-cli")
SIM = os.path.join(BUILD, "handset", "handset-sim")
sys.argv[1:] = [CLI, SIM] + sys.argv[1:]  # the test helpers take the programs from there
from tests.cli.cli_test import Sim, bin_stream, fake_tty


def main():
    if not shutil.which("xterm"):
        sys.exit("station_screenshot: needs xterm (apt-get install xterm)")
    out = os.path.abspath(sys.argv[3] if len(sys.argv) > 3 else os.path.join(ROOT, "docs", "station-board.png"))
    work = tempfile.mkdtemp(prefix="station-shot-")
    xvfb = xterm = None
    try:
        sysfs = os.path.join(work, "sys")
        os.makedirs(os.path.join(sysfs, "class/tty"))
        image = os.path.join(work, "release-2026.12.img")
        with open(image, "wb") as f:
            f.write(os.urandom(0x20000) + bin_stream([(0x80001000 + i * 4096, os.urandom(4096)) for i in range(512)]))
        handsets = [("ttyUSB0", "7F3A0001", "1-1.1", []), ("ttyUSB1", "7F3A0002", "1-1.2", ["--rate", "200"]),
                    ("ttyUSB2", "7F3A0003", "1-1.3", ["--fault", "drop-after=300000"]),
                    ("ttyUSB3", "7F3A0004", "1-1.4", ["--rate", "350"])]
        sims = []
        for name, serial, port, args in handsets:
            sims.append(Sim(work, "--expect", image, *args, timeout=60))
            fake_tty(sysfs, name, "ipaq", "049f:0003", serial, port, devname=sims[-1].device[len("/dev/"):])

        display = ":%d" % (90 + os.getpid() % 50)
        xvfb = subprocess.Popen(["Xvfb", display, "-screen", "0", "1400x400x24", "-br", "-nolisten", "tcp"],
                                stderr=subprocess.DEVNULL)
        time.sleep(1)
        env = dict(os.environ, DISPLAY=display, SYSFS_PATH=sysfs, TERM="xterm-256color")
        env.pop("NO_COLOR", None)
        xterm = subprocess.Popen(["xterm", "-geometry", "104x9+0+0", "-fa", "DejaVu Sans Mono", "-fs", "11",
                                  "-bg", "#202020", "-fg", "#e0e0e0", "-b", "8", "-e", CLI, "station", "--poll-ms",
                                  "200", os.path.basename(image)], env=env, cwd=work)
        time.sleep(4)
        sims.append(Sim(work, "--expect", image, "--rate", "400", timeout=60))  # plugged in later
        fake_tty(sysfs, "ttyUSB4", "ipaq", "049f:0003", "7F3A0005", "1-1.5", devname=sims[-1].device[len("/dev/"):])
        time.sleep(2.5)
        shot = os.path.join(work, "shot.png")
        subprocess.run(["import", "-display", display, "-window", "root", shot], check=True)
        subprocess.run(["convert", shot, "-trim", "+repage", out], check=True)
        print(out)
    finally:
        for proc in (xterm, xvfb):
            if proc:
                proc.terminate()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
