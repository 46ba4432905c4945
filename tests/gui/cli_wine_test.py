#!/usr/bin/env python3
"""brenvik-cli.exe under Wine, as a bench script would use it: the class search finds the
handset (handset-sim behind the registered interface), a flash lands whole, and a silent
handset ends in failure within the bound."""
import argparse
import os
import sys
import time
import unittest

from gui_rig import Rig, Sim, img_image, wine_path

ARGS = None


class CliUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.rig = Rig("en_US.UTF-8")
        cls.rig.up()

    @classmethod
    def tearDownClass(cls):
        cls.rig.down()

    def write(self, name, data):
        path = os.path.join(self.rig.tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def cli(self, *args, timeout=120):
        return self.rig.wine(ARGS.cli, *args, timeout=timeout)

    def test_list_names_the_registered_interface(self):
        code, out = self.cli("list")
        self.assertEqual(code, 0, out)
        self.assertIn("\\\\?\\root#brenvik#0000#{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}", out.lower())

    def test_flash_through_the_class_search(self):
        image = self.write("fw.img", img_image(count=24, size=4096))
        sim = Sim(self.rig, ARGS.sim, expect=image)
        try:
            code, out = self.cli("flash", "--timeout", "10", wine_path(image))
            summary = sim.finish()
        finally:
            sim.stop()
        self.assertEqual(code, 0, out)
        self.assertEqual(out.splitlines()[-1], "Update Sucess! ")
        self.assertEqual((summary["kind"], summary["records"], summary["protocol_errors"]), (5, 24, []))
        self.assertEqual(summary["commands"]["download_end"], 2)
        self.assertTrue(summary["matches_expected"])

    def test_a_silent_handset_fails_within_the_bound(self):
        image = self.write("fw.dio", os.urandom(600000))
        sim = Sim(self.rig, ARGS.sim, "--no-auto-upgrade", "--fault", "silent-from=1", timeout=30)
        try:
            start = time.monotonic()
            code, out = self.cli("flash", "--no-auto-upgrade", "--timeout", "2", wine_path(image), timeout=60)
            elapsed = time.monotonic() - start
        finally:
            sim.stop()
        self.assertEqual(code, 1, out)
        self.assertEqual(out.splitlines()[-1], "Update Fail! ")
        self.assertLess(elapsed, 20)


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--cli", required=True)
    p.add_argument("--sim", required=True)
    ARGS, rest = p.parse_known_args()
    if not os.access(ARGS.sim, os.X_OK):
        print(f"skipped: no handset-sim at {ARGS.sim} (build the linux preset first)")
        return 77
    result = unittest.main(argv=[sys.argv[0], *rest], verbosity=2, exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
