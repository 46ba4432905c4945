#!/usr/bin/env python3
"""docs/records-report.png: records report --html over a made-up shift of three stations,
shown by headless chromium. Run by hand after a change of the report's looks, on a build.
Usage: python3 -m tests.records.report_screenshot [BUILD_DIR]"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import uuid

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
CLI = os.path.join(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "linux"), "cli", "brenvik-cli")
CAUSES = ["at block 41's ready packet: timed out after 60 s (0 of 16 bytes)", "at block 7: the link went away",
          "unplugged", "at the image check: the image changed during the run"]


def shift(path):
    rng = random.Random(33)
    start = 1796630400  # 2026-12-07T08:00:00Z
    with open(path, "w") as f:
        for i in range(900):
            t = start + int(i * 32 + rng.uniform(0, 20))
            station = rng.choice(["line1-st01", "line1-st02", "line1-st03"])
            bad = rng.random() < (0.12 if station == "line1-st02" else 0.03)
            serial = "35%08d" % (i if not bad or rng.random() < 0.7 else rng.randrange(4))
            f.write(json.dumps({
                "run_id": str(uuid.UUID(int=rng.getrandbits(128), version=4)), "station": station,
                "time": "%s.000Z" % time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(t)),
                "image": "/srv/fw/release-%s.img" % ("12" if i < 500 else "13"), "size": 4328475,
                "sha256": ("ab" if i < 500 else "cd") * 32, "kind": 5, "device": "/dev/ttyUSB0", "usb_serial": serial,
                "bytes_sent": 4333640, "seconds": round(rng.gauss(38 if i < 500 else 33, 4), 3),
                "average_rate": 120000, "result": "stopped" if bad and rng.random() < 0.1 else "failed" if bad else "success",
                "cause": rng.choice(CAUSES) if bad else None}) + "\n")


def main():
    work = tempfile.mkdtemp(prefix="report-shot-")
    try:
        log, db, page = (os.path.join(work, n) for n in ("shift.log", "records.db", "report.html"))
        shift(log)
        subprocess.run([CLI, "records", "import", "--db", "sqlite:" + db, log], check=True)
        subprocess.run([CLI, "records", "report", "--db", "sqlite:" + db, "--html", page], check=True)
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                        "--user-data-dir=" + os.path.join(work, "chromium"), "--window-size=1100,1300",
                        "--screenshot=" + os.path.join(ROOT, "docs", "records-report.png"), "file://" + page],
                       check=True, stderr=subprocess.DEVNULL)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
