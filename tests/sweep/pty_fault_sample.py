#!/usr/bin/env python3
"""A sample of the fault sweep over a real pty: brenvik-cli flashes each kind of image into
handset-sim, which commits one fault. A fault in the data ends in exit 1 and "Update Fail! "
within the bound; a withheld acknowledgement does not stop the run, but where the handset
sends nothing else either, nothing confirms the flash and it is no success. The image file
is never changed. Usage: python3 -m tests.sweep.pty_fault_sample CLI SIM"""
import hashlib
import json
import os
import sys
import tempfile
import unittest

from tests.sweep import pty_flash
from tests.sweep.pty_flash import BOOT, BOUND, pattern, stream

CLI, SIM = sys.argv[1], sys.argv[2]
IMAGES = {
    "fw.dio": pattern(5 * 0x40000, 1),
    "fw.img": pattern(BOOT, 2) + stream([(0x80001000 + i * 0x1000, pattern(4096, i)) for i in range(64)]),
    "fw.raw": pattern(BOOT + 4096, 3),
    "fw.bin": stream([(0x80100000 + i * 0x10000, pattern(0x10000, i)) for i in range(10)]),
}

# (image, fault, exit code, last line). Drop points leave more to send than a pty holds,
# so the PC sees the link go.
CASES = [
    ("fw.dio", "drop-after=4", 1, "Update Fail! "),          # in the kind packet
    ("fw.dio", "drop-after=100000", 1, "Update Fail! "),     # in block 0
    ("fw.dio", "drop-after=600000", 1, "Update Fail! "),     # in block 2
    ("fw.dio", "wrong-ready=0", 1, "Update Fail! "),
    ("fw.dio", "wrong-ready=3", 1, "Update Fail! "),
    ("fw.dio", "silent-from=2", 1, "Update Fail! "),
    ("fw.dio", "no-ack", 0, "Update Sucess! "),
    ("fw.img", "drop-after=20", 1, "Update Fail! "),         # in the boot area's data header
    ("fw.img", "drop-after=50000", 1, "Update Fail! "),      # in the boot area
    ("fw.img", "drop-after=131100", 1, "Update Fail! "),     # in the first record's header
    ("fw.img", "drop-after=250000", 1, "Update Fail! "),     # in a record
    ("fw.img", "no-ack", 1, "Update Fail! "),  # a record download hears nothing back at all
    ("fw.raw", "drop-after=20000", 1, "Update Fail! "),
    ("fw.raw", "no-ack", 1, "Update Fail! "),  # a record download hears nothing back at all
    ("fw.bin", "drop-after=30", 1, "Update Fail! "),
    ("fw.bin", "drop-after=300000", 1, "Update Fail! "),
    ("fw.bin", "no-ack", 1, "Update Fail! "),  # a record download hears nothing back at all
]


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


class PtyFaultSample(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.paths = {}
        for name, data in IMAGES.items():
            self.paths[name] = os.path.join(self.tmp.name, name)
            with open(self.paths[name], "wb") as f:
                f.write(data)

    def tearDown(self):
        self.tmp.cleanup()

    def flash(self, image, fault, n):
        out = os.path.join(self.tmp.name, "out-%d" % n)
        r, took, _ = pty_flash.flash(CLI, SIM, self.tmp.name, str(n), image,
                                     ["--out", out, "--expect", image, "--timeout", "2", "--linger", "1",
                                      "--fault", fault], [], "1", capture=True)
        with open(os.path.join(out, "summary.json")) as f:
            return r, took, json.load(f)

    def test_each_fault_ends_by_the_rules(self):
        before = {name: digest(p) for name, p in self.paths.items()}
        for n, (name, fault, code, last) in enumerate(CASES):
            with self.subTest(image=name, fault=fault):
                r, took, summary = self.flash(self.paths[name], fault, n)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertEqual(r.stdout.splitlines()[-1], last)
                self.assertLess(took, BOUND)
                # What the handset has must back what the PC said.
                if fault != "no-ack" or code == 0:
                    self.assertEqual(summary.get("matches_expected") is True, code == 0, summary)
                self.assertEqual(digest(self.paths[name]), before[name])
        print("pty fault sample: %d faults over a pty, all ended by the rules" % len(CASES))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
