#!/usr/bin/env python3
"""The flash log and the run's result: what may be a log, a line whole or not at all, the
result, the table and the log telling one story, and no success without a word from the
device. Usage: log_test.py CLI SIM [TEST...]"""
import json
import os
import pty
import resource
import subprocess
import sys
import tempfile
import threading
import unittest

from tests.cli.cli_test import CLI, Sim, bin_stream, cli, digest

NO_ANSWER = "no answer from the device: nothing confirms that a handset took the image"


class Swallower:
    """A pty whose far end reads every byte and never writes one."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        self.device = os.ttyname(self.slave)
        self.taken = 0
        self.thread = threading.Thread(target=self.swallow, daemon=True)
        self.thread.start()

    def swallow(self):
        try:
            while chunk := os.read(self.master, 65536):
                self.taken += len(chunk)
        except OSError:
            pass

    def close(self):
        # The reader ends first (the master reads EIO once no slave is open): a master closed
        # under it would leave it reading whatever file takes that number next.
        os.close(self.slave)
        self.thread.join(timeout=30)
        os.close(self.master)


def utf8(raw):
    try:
        raw.decode("utf-8")
        return True
    except UnicodeDecodeError:
        return False


LINE_SCHEMA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "log-line.schema.json")


def lines_of(path):
    """The log's lines, each checked against the schema the docs give for it."""
    import jsonschema
    with open(LINE_SCHEMA) as f:
        schema = json.load(f)
    with open(path) as f:
        lines = [json.loads(line) for line in f]
    for line in lines:
        if line:  # "{}" is a line a test planted itself
            jsonschema.validate(line, schema)
    return lines


class LogTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.img = self.path("fw.img")
        with open(self.img, "wb") as f:
            f.write(os.urandom(0x20000) + bin_stream([(0x80001000 + i * 4096, os.urandom(4096)) for i in range(8)]))
        self.log = self.path("flash.log")

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(os.fsencode(self.dir), name) if isinstance(name, bytes) else os.path.join(self.dir, name)

    def test_what_is_no_file_or_is_the_image_is_refused_before_a_byte_is_sent(self):
        os.symlink(self.img, self.path("link.log"))
        os.link(self.img, self.path("hard.log"))
        os.mkfifo(self.path("fifo.log"))
        with open(self.path("other.log"), "w") as f:
            f.write("{}\n")
        os.symlink(self.path("other.log"), self.path("to-other.log"))
        cases = [  # (log, exit code, what stderr says)
            (self.img, 2, "is the image itself"),
            (self.path("link.log"), 2, "is the image itself"),
            (self.path("hard.log"), 2, "is the image itself"),
            (self.path("fifo.log"), 2, "is a FIFO (named pipe), not a file"),
            (self.dir, 2, "is a directory, not a file"),
            ("/dev/null", 2, "is a character device, not a file"),
            (self.path("to-other.log"), 1, NO_ANSWER),  # a link to a file is a log
        ]
        before = digest(self.img)
        for log, code, words in cases:
            with self.subTest(log=log):
                device = Swallower()
                try:
                    r = cli("flash", "--device", device.device, "--timeout", "0.3", "--log", log, self.img,
                            timeout=20)
                finally:
                    device.close()
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertIn(words, r.stdout + r.stderr)
                self.assertEqual(device.taken > 0, code == 1)
        self.assertEqual(digest(self.img), before)
        self.assertEqual(len(lines_of(self.path("other.log"))), 2)

    def test_a_line_goes_in_whole_or_not_at_all_and_the_result_says_so(self):
        with open(self.log, "wb") as f:
            f.write(b'{"cut":')  # a line that an earlier crash left unended
        kept = os.path.getsize(self.log)

        def small_disk():  # room for a few bytes only: the next line is cut short
            resource.setrlimit(resource.RLIMIT_FSIZE, (kept + 10, resource.RLIM_INFINITY))

        cases = [  # (devices, the run's result, as its last event shows it)
            (1, lambda events: (events[-1]["ok"], events[-1]["exit_code"], events[-1]["error"]["text"])),
            (2, lambda events: [(run["result"], run["cause"]) for run in events[-1]["runs"]]),
        ]
        for count, result in cases:
            with self.subTest(devices=count):
                sims = [Sim(self.dir, "--expect", self.img) for _ in range(count)]
                devices = [arg for s in sims for arg in ("--device", s.device)]
                r = subprocess.run([CLI, "flash", "--json", "--timeout", "5", "--log", self.log, *devices, self.img],
                                   capture_output=True, text=True, timeout=60, preexec_fn=small_disk)
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertTrue(all(s.finish()["matches_expected"] for s in sims))
                got = result([json.loads(line) for line in r.stdout.splitlines()])
                if count == 1:
                    self.assertEqual(got[:2], (False, 1))
                    self.assertRegex(got[2], "^brenvik-cli: failed: not recorded: the flash log .* could not be "
                                             r"written \(only 10 of \d+ bytes of its line were written\)$")
                else:
                    self.assertEqual([g[0] for g in got], ["failed"] * count)
                    self.assertTrue(all(g[1].startswith("not recorded: the flash log") for g in got), got)
                with open(self.log, "rb") as f:
                    self.assertEqual(f.read(), b'{"cut":')
        sim = Sim(self.dir, "--expect", self.img)
        r = cli("flash", "--timeout", "5", "--log", self.log, "--device", sim.device, self.img)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        with open(self.log, "rb") as f:
            cut, line, rest = f.read().split(b"\n")
        self.assertEqual((cut, json.loads(line)["result"], rest), (b'{"cut":', "success", b""))

    def test_no_answer_from_the_device_is_no_success(self):
        big_bin = bin_stream([(0x80100000 + i * 0x10000, os.urandom(0x10000)) for i in range(9)])
        cases = [  # (image, data, kind)
            ("fw.img", None, 5),
            ("fw.raw", os.urandom(0x20000 + 4096), 7),
            ("fw.bin", big_bin, 6),
        ]
        for name, data, kind in cases:
            with self.subTest(image=name):
                image = self.img if data is None else self.path(name)
                if data is not None:
                    with open(image, "wb") as f:
                        f.write(data)
                device = Swallower()
                try:
                    r = cli("flash", "--device", device.device, "--timeout", "0.5", "--log", self.log, image)
                    j = cli("flash", "--json", "--device", device.device, "--timeout", "0.5", image)
                finally:
                    device.close()
                self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
                self.assertIn("[Error] 升级错误", r.stdout)
                self.assertEqual(r.stdout.splitlines()[-2:], ["brenvik-cli: failed: " + NO_ANSWER, "Update Fail! "])
                self.assertGreater(device.taken, os.path.getsize(image))
                entry = lines_of(self.log)[-1]
                self.assertEqual((entry["kind"], entry["result"], entry["cause"]), (kind, "failed", NO_ANSWER))
                result = json.loads(j.stdout.splitlines()[-1])
                self.assertEqual((j.returncode, result["ok"], result["exit_code"], result["error"]["step"]),
                                 (1, False, 1, "ack"))

    def test_the_log_names_what_it_flashed_losslessly_and_by_its_kind(self):
        odd = self.path(b"fw-\xff.img")
        with open(odd, "wb") as f, open(self.img, "rb") as src:
            f.write(src.read())
        missing = os.fsdecode(self.path(b"tty-\xfe"))
        cases = [  # (image, devices): none of them is there
            (self.img, [missing]),
            (os.fsdecode(odd), [missing, os.fsdecode(self.path("tty-gone"))]),
        ]
        for image, devices in cases:
            with self.subTest(image=image, devices=len(devices)):
                open(self.log, "w").close()
                r = subprocess.run([CLI, "flash", "--log", self.log, *[a for d in devices for a in ("--device", d)],
                                    image], capture_output=True, timeout=20)
                self.assertEqual(r.returncode, 3, r.stdout + r.stderr)
                if len(devices) > 1:  # the table shows the names, not bytes a terminal would act on
                    self.assertIn(b"tty-\\xFE  ", r.stdout)
                entries = lines_of(self.log)
                self.assertEqual(len(entries), len(devices))
                for entry in entries:
                    self.assertEqual((entry["kind"], entry["result"]), (5, "failed"))
                    raw = os.fsencode(image)
                    self.assertEqual(entry.get("image_bytes"), None if utf8(raw) else raw.hex())
                    self.assertEqual(bytes.fromhex(entry.get("image_bytes", raw.hex())), raw)
                by_device = {bytes.fromhex(e["device_bytes"]) if "device_bytes" in e else e["device"].encode(): e
                             for e in entries}
                self.assertEqual(sorted(by_device), sorted(os.fsencode(d) for d in devices))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
