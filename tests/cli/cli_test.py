#!/usr/bin/env python3
"""brenvik-cli as a script would use it: exit codes, output forms, and flashes into
handset-sim over a real pty, faults included. Usage: cli_test.py CLI SIM"""
import json
import os
import struct
import subprocess
import sys
import tempfile
import time
import unittest

CLI, SIM = sys.argv[1], sys.argv[2]


def bin_stream(records, entry=0x80001000):
    out = b"B000FF\n" + struct.pack("<II", 0x80001000, sum(len(d) for _, d in records))
    for address, data in records:
        out += struct.pack("<III", address, len(data), sum(data) & 0xFFFFFFFF) + data
    return out + struct.pack("<III", 0, entry, 0)


class Sim:
    """handset-sim on a pty, for one session."""

    def __init__(self, tmp, *args):
        self.path_file = os.path.join(tmp, "pty-%d" % time.monotonic_ns())
        self.out = os.path.join(tmp, "out-%d" % time.monotonic_ns())
        self.proc = subprocess.Popen([SIM, "--path-file", self.path_file, "--out", self.out,
                                      "--timeout", "20", "--linger", "1", *args],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        for _ in range(300):
            if os.path.exists(self.path_file) and os.path.getsize(self.path_file):
                break
            time.sleep(0.01)
        self.device = open(self.path_file).read().split()[0]

    def finish(self):
        try:
            self.proc.wait(timeout=30)
        finally:
            if self.proc.poll() is None:
                self.proc.kill()
        with open(os.path.join(self.out, "summary.json")) as f:
            return json.load(f)


def cli(*args, timeout=60):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=timeout)


class CliTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.img = os.path.join(self.dir, "fw.img")
        with open(self.img, "wb") as f:
            f.write(os.urandom(0x20000) + bin_stream([(0x80001000 + i * 4096, os.urandom(4096)) for i in range(20)]))

    def tearDown(self):
        self.tmp.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def test_exit_codes_without_a_handset(self):
        cases = [
            (["flash"], 2),
            (["bogus"], 2),
            (["flash", "--timeout", "-1", self.img], 2),
            (["flash", "--device", "/dev/null", os.path.join(self.dir, "none.img")], 2),
            (["flash", "--device", "/dev/null", self.write("empty.dio", b"")], 2),
            (["flash", self.img], 3),
            (["flash", "--device", os.path.join(self.dir, "no-such-tty"), self.img], 3),
            (["inspect", self.img], 0),
            (["inspect", self.write("cut.img", open(self.img, "rb").read()[:-12])], 1),
            (["inspect", os.path.join(self.dir, "none.img")], 2),
            (["list"], 0),
        ]
        for args, code in cases:
            with self.subTest(args=args):
                self.assertEqual(cli(*args).returncode, code)

    def test_inspect_json_names_every_record_and_the_problem(self):
        data = bytearray(open(self.img, "rb").read()[:-12])
        data[0x2000F + 8] ^= 1  # the first record's checksum is now wrong
        r = cli("inspect", "--json", self.write("bad.img", bytes(data)))
        j = json.loads(r.stdout)
        self.assertEqual((j["kind"], len(j["records"]), j["ok"]), (5, 20, False))
        self.assertFalse(j["records"][0]["checksum_ok"])
        self.assertTrue(all(rec["checksum_ok"] for rec in j["records"][1:]))
        self.assertIsNone(j["entry_point"])
        self.assertEqual(j["stream"]["sync"], "B000FF\\n")
        self.assertTrue(any("end record" in p for p in j["problems"]))

    def test_flash_img_json_lines(self):
        sim = Sim(self.dir, "--expect", self.img)
        r = cli("flash", "--json", "--device", sim.device, "--timeout", "5", self.img)
        summary = sim.finish()
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        events = [json.loads(line) for line in r.stdout.splitlines()]
        self.assertEqual(events[-1], {"event": "result", "ok": True, "text": "Update Sucess! ", "exit_code": 0})
        self.assertIn({"event": "range", "max": 100}, events)
        statuses = [e["text"] for e in events if e["event"] == "status"]
        self.assertRegex(statuses[-1], r"^\d\d Minutes, \d\d Seconds   Speed:\d+ KBS$")
        self.assertEqual((summary["kind"], summary["records"], summary["protocol_errors"]), (5, 20, []))
        self.assertEqual(summary["commands"]["download_end"], 2)
        self.assertTrue(summary["matches_expected"])

    def test_flash_plain_lines_without_auto_upgrade(self):
        image = self.write("fw.dio", os.urandom(600000))
        sim = Sim(self.dir, "--no-auto-upgrade")
        r = cli("flash", "--no-auto-upgrade", "--device", sim.device, "--timeout", "5", image)
        summary = sim.finish()
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertEqual(r.stdout.splitlines()[-1], "Update Sucess! ")
        self.assertEqual(summary["blocks"], 3)
        with open(os.path.join(sim.out, "image.bin"), "rb") as f:
            self.assertEqual(f.read(), open(image, "rb").read())

    def test_faults_end_in_failure_within_the_bound(self):
        image = self.write("fw.dio", os.urandom(5 * 262144))
        cases = [  # (fault, exit code, last line)
            ("wrong-ready=2", 1, "Update Fail! "),
            ("silent-from=1", 1, "Update Fail! "),
            ("drop-after=300000", 1, "Update Fail! "),
            ("no-ack", 0, "Update Sucess! "),
        ]
        for fault, code, last in cases:
            with self.subTest(fault=fault):
                sim = Sim(self.dir, "--fault", fault)
                start = time.monotonic()
                r = cli("flash", "--device", sim.device, "--timeout", "1", image, timeout=30)
                self.assertLess(time.monotonic() - start, 15)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertEqual(r.stdout.splitlines()[-1], last)
                if fault == "no-ack":
                    self.assertIn("[Error] 升级错误", r.stdout)
                sim.proc.kill()
                sim.proc.wait()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
