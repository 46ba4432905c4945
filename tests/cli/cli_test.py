#!/usr/bin/env python3
"""brenvik-cli as a script would use it: exit codes, output forms, and flashes into
handset-sim over a real pty, faults included. Usage: cli_test.py CLI SIM [TEST...]"""
import hashlib
import json
import os
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

from tests.cli.sysfs_tree import fake_tty  # noqa: F401 (the other tests take it from here too)

CLI, SIM = sys.argv[1], sys.argv[2]
# No handset of this machine's own may be found: every test names its sysfs tree.
EMPTY_SYSFS = tempfile.mkdtemp(prefix="no-handsets-")
os.environ["SYSFS_PATH"] = EMPTY_SYSFS


def bin_stream(records, entry=0x80001000):
    out = b"B000FF\n" + struct.pack("<II", 0x80001000, sum(len(d) for _, d in records))
    for address, data in records:
        out += struct.pack("<III", address, len(data), sum(data) & 0xFFFFFFFF) + data
    return out + struct.pack("<III", 0, entry, 0)


class Sim:
    """handset-sim on a pty, for one session."""

    def __init__(self, tmp, *args, timeout=20):
        self.path_file = os.path.join(tmp, "pty-%d" % time.monotonic_ns())
        self.out = os.path.join(tmp, "out-%d" % time.monotonic_ns())
        self.proc = subprocess.Popen([SIM, "--path-file", self.path_file, "--out", self.out,
                                      "--timeout", str(timeout), "--linger", "1", *args],
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


def cli(*args, timeout=60, sysfs=EMPTY_SYSFS):
    return subprocess.run([CLI, *args], capture_output=True, text=True, timeout=timeout,
                          env=dict(os.environ, SYSFS_PATH=sysfs))


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def a_block_device():
    for name in sorted(os.listdir("/dev")):
        path = os.path.join("/dev", name)
        try:
            if stat.S_ISBLK(os.stat(path).st_mode):
                return path
        except OSError:
            pass
    return None


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
            (["list"], 3),
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

    def test_handsets_are_found_in_sysfs(self):
        sim = Sim(self.dir, "--expect", self.img)
        root = os.path.join(self.dir, "sys")
        fake_tty(root, "ttyUSB10", "ipaq", "049f:0003", "S10\x1b]0;x\x07", "1-2")
        fake_tty(root, "ttyUSB2", "ipaq", "0bb4:00ce", "S2", "1-1.4", devname=sim.device[len("/dev/"):])
        fake_tty(root, "ttyUSB0", "pl2303", "067b:2303", "P", "1-3")
        fake_tty(root, "ttyACM0", "cdc_acm", "1234:5678", "A", "1-4")
        cases = [  # (extra ids, the paths listed in order)
            ([], [sim.device, "/dev/ttyUSB10"]),
            (["--usb-id", "1234:5678"], ["/dev/ttyACM0", sim.device, "/dev/ttyUSB10"]),
            (["--usb-id", "67b:2303", "--usb-id", "1234:5678"],
             ["/dev/ttyACM0", "/dev/ttyUSB0", sim.device, "/dev/ttyUSB10"]),
        ]
        for ids, paths in cases:
            with self.subTest(ids=ids):
                r = cli("list", "--json", *ids, sysfs=root)
                self.assertEqual([h["path"] for h in json.loads(r.stdout)], paths)
        # A serial number that would steer the terminal never reaches it as it is.
        shown = cli("list", sysfs=root).stdout
        self.assertNotIn("\x1b", shown)
        first = json.loads(cli("list", "--json", sysfs=root).stdout)[0]
        self.assertEqual(first, {"path": sim.device, "usb_id": "0bb4:00ce", "serial": "S2", "usb_port": "1-1.4",
                                 "name": None, "driver": "ipaq"})
        # No --device: the first handset found is flashed, and the user is told which.
        r = cli("flash", "--timeout", "5", self.img, sysfs=root)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertIn("flashing %s (0bb4:00ce, serial S2, USB port 1-1.4), the first handset found" % sim.device,
                      r.stderr)
        self.assertTrue(sim.finish()["matches_expected"])
        r = cli("flash", self.img)
        self.assertEqual(r.returncode, 3)
        self.assertIn("no handset found: name the handset's device with --device PATH", r.stderr)

    def test_closed_standard_descriptors_are_not_taken_over(self):
        for closed in ([1], [0, 2], [0, 1, 2]):
            with self.subTest(closed=closed):
                sim = Sim(self.dir, "--expect", self.img)
                log = os.path.join(self.dir, "closed-%d.log" % len(closed))
                rc = subprocess.run([CLI, "flash", "--log", log, "--device", sim.device, "--timeout", "5", self.img],
                                    preexec_fn=lambda: [os.close(fd) for fd in closed], timeout=60).returncode
                self.assertEqual(rc, 0)
                with open(log) as f:
                    self.assertEqual([json.loads(line)["result"] for line in f], ["success"])
                summary = sim.finish()
                self.assertTrue(summary["matches_expected"], summary)
                self.assertEqual(summary["protocol_errors"], [], summary)

    def test_several_handsets_at_once_one_failing_with_a_log(self):
        sims = [Sim(self.dir, "--expect", self.img), Sim(self.dir, "--fault", "drop-after=140000"),
                Sim(self.dir, "--expect", self.img)]
        log = os.path.join(self.dir, "flash.log")
        devices = [arg for s in sims for arg in ("--device", s.device)]
        r = cli("flash", "--json", "--timeout", "5", "--log", log, *devices, self.img)
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        events = [json.loads(line) for line in r.stdout.splitlines()]
        self.assertTrue(all(e.get("device") in [s.device for s in sims] for e in events[:-1]))
        summary = {run["device"]: run for run in events[-1]["runs"]}
        self.assertEqual([summary[s.device]["result"] for s in sims], ["success", "failed", "success"])
        self.assertRegex(summary[sims[1].device]["cause"], "the link hung up")
        self.assertEqual([s.finish().get("matches_expected") for s in sims], [True, None, True])
        with open(log) as f:
            lines = {entry["device"]: entry for entry in map(json.loads, f)}
        self.assertEqual(sorted(lines), sorted(s.device for s in sims))
        good = lines[sims[0].device]
        self.assertEqual((good["image"], good["size"], good["sha256"], good["kind"], good["result"], good["cause"]),
                         (self.img, os.path.getsize(self.img), digest(self.img), 5, "success", None))
        self.assertRegex(good["time"], r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z$")
        self.assertGreater(good["bytes_sent"], os.path.getsize(self.img))
        self.assertEqual(lines[sims[1].device]["result"], "failed")

        # --all, into a pipe: plain lines carry the device; a log that cannot be written
        # stops everything before the first byte.
        root = os.path.join(self.dir, "sys")
        sims = [Sim(self.dir, "--expect", self.img, timeout=3) for _ in range(2)]
        for k, s in enumerate(sims):
            fake_tty(root, "ttyUSB%d" % k, "ipaq", "049f:0003", "S%d" % k, "1-%d" % k, devname=s.device[5:])
        r = cli("flash", "--all", "--log", os.path.join(self.dir, "no-dir", "flash.log"), self.img, sysfs=root)
        self.assertEqual(r.returncode, 2, r.stdout + r.stderr)
        self.assertIn("cannot be written", r.stderr)
        link = os.path.join(self.dir, "S0")  # as udev links it: named once, flashed once
        os.symlink(sims[0].device, link)
        r = cli("flash", "--device", link, "--all", "--timeout", "5", "--log", log, self.img, sysfs=root)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        for s, name in zip(sims, (link, sims[1].device)):
            self.assertIn("%s: Update Sucess! " % name, r.stdout.splitlines())
            self.assertTrue(s.finish()["matches_expected"])
        with open(log) as f:
            self.assertEqual(sorted((e["device"], e["usb_serial"]) for e in map(json.loads, f.readlines()[3:])),
                             sorted([(link, "S0"), (sims[1].device, "S1")]))
        self.assertRegex(r.stdout, r"(?m)^device +kind +bytes +time +speed +result +cause$")

    def test_inspect_shows_the_sha256(self):
        for size in (0, 55, 56, 64, 65, (1 << 20) + 7):
            with self.subTest(size=size):
                image = self.write("fw%d.nb0" % size, os.urandom(size))
                self.assertEqual(json.loads(cli("inspect", "--json", image).stdout)["sha256"], digest(image))
        self.assertIn("sha256:     " + digest(self.img), cli("inspect", self.img).stdout)

    def test_flash_img_json_lines(self):
        sim = Sim(self.dir, "--expect", self.img)
        r = cli("flash", "--json", "--device", sim.device, "--timeout", "5", self.img)
        summary = sim.finish()
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        events = [json.loads(line) for line in r.stdout.splitlines()]
        self.assertGreater(events[-1].pop("average_rate"), 0)
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
        cases = [  # (fault, exit code, last line, the line before it)
            ("wrong-ready=2", 1, "Update Fail! ",
             r"^brenvik-cli: failed at block 2's ready packet: the wrong bytes came: 30( 30){15}$"),
            ("silent-from=1", 1, "Update Fail! ",
             r"^brenvik-cli: failed at block 1's ready packet: timed out after 1 s \(0 of 16 bytes\)$"),
            ("drop-after=300000", 1, "Update Fail! ", r"^brenvik-cli: failed at block [12]'s .*: the link hung up"),
            ("no-ack", 0, "Update Sucess! ", r"\d KBS$"),
        ]
        for fault, code, last, cause in cases:
            with self.subTest(fault=fault):
                sim = Sim(self.dir, "--fault", fault)
                start = time.monotonic()
                r = cli("flash", "--device", sim.device, "--timeout", "1", image, timeout=30)
                self.assertLess(time.monotonic() - start, 15)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertEqual(r.stdout.splitlines()[-1], last)
                self.assertRegex(r.stdout.splitlines()[-2], cause)
                if fault == "no-ack":
                    self.assertIn("[Error] 升级错误", r.stdout)
                sim.proc.kill()
                sim.proc.wait()

    def test_what_is_no_image_or_no_handset_is_refused_at_once(self):
        fifo = os.path.join(self.dir, "fifo.img")
        os.mkfifo(fifo)
        big = os.path.join(self.dir, "big.img")
        with open(big, "wb") as f:
            f.truncate(4 * 2**30 + 2**20)  # sparse: the size past 32 bits is what counts
        other = self.write("other.img", b"untouched")
        cases = [  # (arguments, exit code, what the message says)
            (["inspect", fifo], 2, "is a FIFO"),
            (["flash", "--device", "/dev/null", fifo], 2, "is a FIFO"),
            (["inspect", self.dir], 2, "is a directory"),
            (["inspect", big], 2, "4296015872 bytes: images of 4 GiB or more"),
            (["flash", "--device", "/dev/null", big], 2, "4 GiB or more"),
            (["flash", "--timeout", "nan", "--device", "/dev/null", self.img], 2, "number of seconds"),
            (["flash", "--timeout", "inf", "--device", "/dev/null", self.img], 2, "number of seconds"),
            (["flash", "--device", "/dev/null", self.img], 3, "not a terminal"),
            (["flash", "--device", other, self.img], 3, "is a regular file"),
            (["flash", "--device", self.img, self.img], 3, "is a regular file"),
            (["flash", "--device", self.dir, self.img], 3, "is a directory"),
        ]
        disk = a_block_device()
        if disk:
            cases.append((["flash", "--device", disk, self.img], 3, "is a block device"))
        before = [digest(other), digest(self.img)]
        for args, code, words in cases:
            with self.subTest(args=args):
                r = cli(*args, timeout=10)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertIn(words, r.stdout + r.stderr)
        self.assertEqual([digest(other), digest(self.img)], before)

    def paced_flash(self, image, act, expect=None):
        """Flashes into a slow handset and does `act(process, sim)` half a second in."""
        sim = Sim(self.dir, "--expect", expect or image, "--rate", "256", timeout=2)
        p = subprocess.Popen([CLI, "flash", "--device", sim.device, "--timeout", "5", image],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        time.sleep(0.5)
        extra = act(p, sim)
        out, err = p.communicate(timeout=30)
        return p.returncode, out, err, sim.finish(), extra

    def test_a_flash_is_stopped_only_at_a_packet_and_says_so(self):
        # Records of 4000 bytes: now and then a record header straddles a page edge.
        image = self.write("slow.img", os.urandom(0x20000) +
                           bin_stream([(0x80001000 + i * 4096, os.urandom(4000)) for i in range(64)]))

        def second_flasher(p, sim):
            return cli("flash", "--device", sim.device, "--timeout", "1", image)

        def truncate_at(size):
            return lambda p, sim: os.truncate(image_copy, size)

        # Records of 64 KiB: a stop nearly always comes inside one's data.
        large = self.write("large.img", os.urandom(0x20000) +
                           bin_stream([(0x80001000 + i * 0x10000, os.urandom(0x10000)) for i in range(32)]))

        def stop(sig):
            return lambda p, sim: p.send_signal(sig)

        cases = [  # (what happens, image, exit code, the line before the final text, the handset holds it all)
            ("SIGINT", large, stop(signal.SIGINT), 130, "stopped by SIGINT at record", False),
            ("SIGTERM", image, stop(signal.SIGTERM), 143, "stopped by SIGTERM at record", False),
            ("SIGHUP", large, stop(signal.SIGHUP), 129, "stopped by SIGHUP at record", False),
            ("SIGQUIT", large, stop(signal.SIGQUIT), 131, "stopped by SIGQUIT at record", False),
            ("a second flasher", image, second_flasher, 0, r"\d KBS$", True),
            ("output closed", image, lambda p, sim: p.stdout.close(), 0, None, True),
        ]
        for what, flashed, act, code, cause, whole in cases:
            with self.subTest(what=what):
                rc, out, err, summary, extra = self.paced_flash(flashed, act)
                self.assertEqual(rc, code, out + err)
                self.assertEqual(summary["matches_expected"], whole, summary)
                if code > 128:  # left between records: every record begun was finished
                    self.assertEqual(summary["commands"]["transfer_end"], summary["records"] + 1, summary)
                    self.assertEqual(summary["bytes"]["records"],
                                     sum(r["length"] for r in summary["record_list"]), summary)
                if cause:
                    lines = out.splitlines()
                    self.assertEqual(lines[-1], "Update Fail! " if code else "Update Sucess! ")
                    self.assertRegex(lines[-2], cause)
                if what == "a second flasher":
                    self.assertEqual(extra.returncode, 3)
                    self.assertIn("busy", extra.stderr)

        # The image changes under the run: rewritten in place, cut short, cut at a record
        # header's page edge. The run fails and says why; no signal ends it.
        image_copy = os.path.join(self.dir, "changing.img")
        headers = [0x2000F + k * (12 + 4000) for k in range(16, 64)]
        page_edge_in_a_header = next((h // 4096 + 1) * 4096 for h in headers if (h // 4096 + 1) * 4096 - h < 12)

        def rewrite(p, sim):  # inside record 40's data: the stream itself stays sound
            with open(image_copy, "r+b") as f:
                f.seek(headers[40 - 16] + 12 + 1000)
                f.write(os.urandom(100))

        for what, act in [("rewritten", rewrite), ("cut short", truncate_at(0x40000)),
                          ("cut at a page edge", truncate_at(page_edge_in_a_header))]:
            with self.subTest(what=what):
                with open(image, "rb") as src, open(image_copy, "wb") as dst:
                    dst.write(src.read())
                rc, out, err, summary, _ = self.paced_flash(image_copy, act, expect=image)
                self.assertEqual(rc, 1, out + err)
                self.assertRegex(out.splitlines()[-2], "the image file changed during the flash")
                self.assertFalse(summary["matches_expected"])

        # A release moved into place, or the image renamed away: the run keeps the file it
        # opened, and flashes it whole.
        def move_into_place(p, sim):
            with open(image_copy + ".new", "wb") as f:
                f.write(os.urandom(0x30000))
            os.replace(image_copy + ".new", image_copy)

        for what, act in [("moved into place", move_into_place),
                          ("renamed away", lambda p, sim: os.replace(image_copy, image_copy + ".old"))]:
            with self.subTest(what=what):
                with open(image, "rb") as src, open(image_copy, "wb") as dst:
                    dst.write(src.read())
                rc, out, err, summary, _ = self.paced_flash(image_copy, act, expect=image)
                self.assertEqual(rc, 0, out + err)
                self.assertTrue(summary["matches_expected"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
