#!/usr/bin/env python3
"""What brenvik-cli reads besides a handset: an image that changes or cannot be mapped
while `inspect` reads it, and sysfs trees laid out to trip discovery.
Usage: inspect_discovery_test.py CLI SIM [TEST...]"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from tests.cli.cli_test import CLI, bin_stream, cli, fake_tty
from tests.cli.sysfs_tree import HUB


def many_records(n):
    """A large bin's stream of n one-byte records."""
    body = b"".join(struct.pack("<III", 0x1000 + i, 1, 7) + b"\x07" for i in range(n))
    return b"B000FF\n" + struct.pack("<II", 0x1000, n) + body + struct.pack("<III", 0, 0x1000, 0)


class InspectTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_an_image_cut_short_while_it_is_read_is_a_problem_not_a_signal(self):
        for form in ([], ["--json"]):
            with self.subTest(form=form):
                image = self.write("cut.bin", many_records(200000))
                # Output nobody reads yet holds the inspection mid-walk; the file is cut then.
                p = subprocess.Popen([CLI, "inspect", *form, image], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                time.sleep(0.5)
                os.truncate(image, 100)
                out, err = p.communicate(timeout=60)
                self.assertEqual(p.returncode, 1, err)
                self.assertIn(b"cut short", out)

    def test_json_of_many_records_is_one_document_in_little_memory(self):
        image = self.write("many.bin", many_records(200000))
        # Peak memory of the inspection alone, in a process of its own.
        probe = ("import resource, subprocess, sys\n"
                 "subprocess.run(sys.argv[1:], stdout=open(sys.argv[-1] + '.json', 'wb'), check=True)\n"
                 "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)")
        peak_kib = int(subprocess.run([sys.executable, "-c", probe, CLI, "inspect", "--json", image],
                                      capture_output=True, text=True, check=True).stdout)
        with open(image + ".json") as f:
            j = json.load(f)
        self.assertEqual((len(j["records"]), j["records"][-1]["address"], j["ok"]), (200000, 0x1000 + 199999, True))
        if not os.environ.get("BRENVIK_SANITIZED"):  # a sanitizer's shadow memory is no measure
            self.assertLess(peak_kib, 64 * 1024)  # holding every record took well over 150 MB

    def test_a_file_that_cannot_be_mapped_is_refused_as_flash_refuses_it(self):
        attribute = next((p for p in ("/sys/kernel/mm/transparent_hugepage/enabled", "/sys/power/state",
                                      "/sys/kernel/profiling") if os.path.isfile(p)), None)
        if not attribute:
            self.skipTest("no sysfs attribute to read")
        for command in (["inspect"], ["flash", "--device", "/dev/null"]):
            with self.subTest(command=command):
                r = cli(*command, attribute, timeout=10)
                self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
                self.assertIn("cannot map the image " + attribute, r.stdout + r.stderr)


def usb_dir(root, port):
    return os.path.join(root, HUB, port)


def put(path, text):
    with open(path, "w") as f:
        f.write(text)


def replace(path, make):
    os.remove(path)
    make(path)


class DiscoveryTest(unittest.TestCase):
    def test_crafted_entries_beside_a_good_one(self):
        root = tempfile.mkdtemp(prefix="sysfs-")
        self.addCleanup(shutil.rmtree, root)
        outside = os.path.join(root, "outside")
        with open(outside, "w") as f:
            f.write("SECRET\n")

        def big(path):
            with open(path, "wb") as f:
                f.truncate(200 * 2**20)


        cases = [  # (tty, what is done to it, what list shows of it: (usb_id, serial), or None)
            ("ttyUSB0", lambda root, port, tty: None, ("049f:0003", "GOOD")),
            ("ttyUSB18446744073709551616", lambda root, port, tty: None, None),
            ("ttyUSB2", lambda root, port, tty: replace(os.path.join(usb_dir(root, port), "idVendor"), os.mkfifo),
             (None, "S2")),
            ("ttyUSB3", lambda root, port, tty: replace(os.path.join(usb_dir(root, port), "serial"), big),
             ("049f:0003", None)),
            ("ttyUSB4", lambda root, port, tty: replace(os.path.join(usb_dir(root, port), "serial"),
                                                        lambda p: os.symlink(outside, p)), ("049f:0003", None)),
            ("ttyUSB5", lambda root, port, tty: put(os.path.join(usb_dir(root, port), "serial"), "\x1b]0;owned\x07\n"),
             ("049f:0003", "\x1b]0;owned\x07")),
            ("ttyUSB6", lambda root, port, tty: put(os.path.join(tty, "uevent"), "DEVNAME=../etc/passwd\n"), None),
            # A serial is the device's own: read whole, only the kernel's newline dropped.
            ("ttyUSB7", lambda root, port, tty: put(os.path.join(usb_dir(root, port), "serial"), "AB\nCD \n"),
             ("049f:0003", "AB\nCD ")),
        ]
        for number, (name, craft, _) in enumerate(cases):
            port = "1-%d" % (number + 1)
            fake_tty(root, name, "ipaq", "049f:0003", "GOOD" if number == 0 else "S%d" % number, port)
            craft(root, port, os.path.join(root, "class/tty", name))
        r = cli("list", "--json", sysfs=root, timeout=20)
        self.assertEqual(r.returncode, 0, r.stderr)
        found = {h["path"]: (h["usb_id"], h["serial"]) for h in json.loads(r.stdout)}
        for name, _, shown in cases:
            with self.subTest(tty=name):
                self.assertEqual(found.get("/dev/" + name), shown)
        self.assertEqual(len(found), sum(1 for c in cases if c[2]))
        plain = cli("list", sysfs=root, timeout=20).stdout
        self.assertNotIn("\x1b", plain)
        self.assertIn("serial:   \\x1B]0;owned\\x07\n", plain)
        self.assertIn("serial:   AB\\x0ACD \n", plain)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
