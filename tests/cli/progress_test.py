#!/usr/bin/env python3
"""The progress of a flash as each output form tells it, against what handset-sim received.
Usage: progress_test.py CLI SIM [TEST...]"""
import json
import os
import re
import shutil
import struct
import sys
import tempfile
import unittest

from tests.cli.cli_test import CLI, SIM, Sim, bin_stream, cli  # noqa: F401  (CLI, SIM: the arguments)

RECORDS = 2048


def many_records_img(path):
    records = [(0x80001000 + i * 512, bytes((i + k) & 0xFF for k in range(512))) for i in range(RECORDS)]
    with open(path, "wb") as f:
        f.write(os.urandom(0x20000) + bin_stream(records))


class ProgressTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="brenvik-progress-")
        self.img = os.path.join(self.dir, "fw.img")
        many_records_img(self.img)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def test_json_progress_agrees_with_what_the_handset_received(self):
        sim = Sim(self.dir, "--expect", self.img, "--rate", "512")
        log = os.path.join(self.dir, "flash.log")
        r = cli("flash", "--json", "--log", log, "--device", sim.device, "--timeout", "5", self.img)
        summary = sim.finish()
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        events = [json.loads(line) for line in r.stdout.splitlines()]
        progress = [e for e in events if e["event"] == "progress"]
        # The whole run's average: the result and the log agree, and the pacing bounds it.
        with open(log) as f:
            self.assertEqual(json.loads(f.read())["average_rate"], events[-1]["average_rate"])
        self.assertTrue(0 < events[-1]["average_rate"] <= 512 * 1024 * 1.1, events[-1])
        last = progress[-1]
        # Every byte but the kind packet and the two download-end commands belongs to the image.
        self.assertEqual(last["bytes"], summary["bytes"]["received"] - 8 - 16 * summary["commands"]["download_end"])
        self.assertEqual(last["total_bytes"], last["bytes"])
        self.assertEqual({e["total_bytes"] for e in progress}, {last["total_bytes"]})
        self.assertEqual([e["bytes"] for e in progress], sorted(e["bytes"] for e in progress))
        # The last figures are those of the separate events that scripts read.
        self.assertEqual((last["range"], last["position"], last["status"]),
                         ([e["max"] for e in events if e["event"] == "range"][-1],
                          [e["position"] for e in events if e["event"] == "position"][-1],
                          [e["text"] for e in events if e["event"] == "status"][-1]))
        self.assertTrue(all(e["rate"] is None or e["rate"] > 0 for e in progress), progress)
        self.assertTrue(any(e["rate"] for e in progress), progress)  # about 2.5 s at 512 KiB/s
        self.assertEqual(last["eta"], 0)
        # At most 4 a second, plus the last: the flash takes well under RECORDS / 4 seconds.
        self.assertLess(len(progress), RECORDS // 16)
        self.assertEqual(events[-2], last)

    def test_plain_lines_stay_few_and_end_with_the_average(self):
        sim = Sim(self.dir, "--expect", self.img, "--rate", "2048")
        r = cli("flash", "--device", sim.device, "--timeout", "5", self.img)
        self.assertTrue(sim.finish()["matches_expected"])
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        lines = r.stdout.splitlines()
        self.assertEqual(lines[-1], "Update Sucess! ")
        self.assertRegex(lines[-2], r"^2047/\d+ 100% 1\.2/1\.2 MiB [\d.]+ [KM]iB/s average \d\d Minutes, \d\d Seconds"
                                    r"   Speed:\d+ KBS$")
        self.assertLessEqual(len(lines), 25)
        self.assertFalse(any("\r" in line or line != line.rstrip() for line in lines[:-1]), lines)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
