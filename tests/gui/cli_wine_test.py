#!/usr/bin/env python3
"""brenvik-cli.exe under Wine, as a bench script would use it: the class search finds the
handset (handset-sim behind the registered interface), a flash lands whole while no other
program may write the image, a silent or vanished handset ends in failure within the bound,
Ctrl-C stops a run at a packet, and an image of 4 GiB or more is refused before anything is
sent."""
import argparse
import hashlib
import json
import os
import re
import shlex
import signal
import subprocess
import sys
import time
import unittest

from tests.gui.gui_rig import ENUM_KEY, GUID, Driver, Rig, Sim, img_image, interface_key, wine_path

ARGS = None


class WineCase(unittest.TestCase):
    """A Wine prefix with the handset's class registered, shared by a class's cases."""

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


class CliUnderWine(WineCase):

    def test_list_names_the_registered_interface(self):
        path = "\\\\?\\root#brenvik#0000#{25dbce51-6c8f-4a72-8a6d-b54c2b4fc835}"
        device = ENUM_KEY + "\\0000"
        for key, value, data in ((device, "FriendlyName", "Brenvik Handset (COM5)"),
                                 (device + "\\Device Parameters", "PortName", "COM5"),
                                 (device, "LocationInformation", "Port_#0004.Hub_#0003")):
            code, out = self.rig.wine("reg", "add", key, "/v", value, "/d", data, "/f")
            self.assertEqual(code, 0, out)
        code, out = self.cli("list")
        self.assertEqual(code, 0, out)
        self.assertIn(path, out.lower())
        self.assertRegex(out, r"(?m)^\s+name:\s+Brenvik Handset \(COM5\)\r?$")
        self.assertRegex(out, r"(?m)^\s+port:\s+COM5\r?$")
        self.assertRegex(out, r"(?m)^\s+usb port:\s+Port_#0004\.Hub_#0003\r?$")
        code, out = self.cli("list", "--json")
        self.assertEqual(code, 0, out)
        [entry] = json.loads(out)
        self.assertEqual((entry["path"].lower(), entry["name"], entry["com_port"], entry["usb_port"]),
                         (path, "Brenvik Handset (COM5)", "COM5", "Port_#0004.Hub_#0003"))

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

    def test_two_handsets_at_once_one_failing_with_a_log(self):
        image = self.write("two.img", img_image(count=24, size=4096))
        log = os.path.join(self.rig.tmp, "flash.log")
        dosdevices = os.path.join(self.rig.prefix, "dosdevices")
        sims = [Sim(self.rig, ARGS.sim, expect=image, link=os.path.join(dosdevices, "com7")),
                Sim(self.rig, ARGS.sim, "--fault", "drop-after=70000", link=os.path.join(dosdevices, "com9"))]
        try:
            code, out = self.cli("flash", "--json", "--timeout", "10", "--log", wine_path(log),
                                 "--device", "COM7", "--device", "COM9", wine_path(image))
            good = sims[0].finish()
        finally:
            for sim in sims:
                sim.stop()
        self.assertEqual(code, 1, out)
        [summary] = [e for e in map(json.loads, re.findall(r"(?m)^\{.*\}\r?$", out)) if e["event"] == "summary"]
        self.assertEqual({run["device"]: run["result"] for run in summary["runs"]},
                         {"COM7": "success", "COM9": "failed"})
        self.assertIn("brenvik-cli: failed: COM9", out)
        self.assertTrue(good["matches_expected"], good)
        with open(log) as f:
            lines = {entry["device"]: entry for entry in map(json.loads, f)}
        self.assertEqual((lines["COM7"]["result"], lines["COM9"]["result"]), ("success", "failed"))
        self.assertEqual(lines["COM7"]["sha256"], hashlib.sha256(read_bytes(image)).hexdigest())

    def test_the_image_is_held_against_writers_until_the_flash_landed(self):
        image = self.write("held.dio", os.urandom(4 * 262144))
        sim = Sim(self.rig, ARGS.sim, "--rate", "512", expect=image)  # a run of 2 s
        drive = Driver(self.rig, wine_path(ARGS.driver))  # another program, to try writing
        out = os.path.join(self.rig.tmp, "held.out")
        try:
            with open(out, "wb") as f:
                cli = subprocess.Popen(["timeout", "--kill-after=5", "60", "wine", ARGS.cli, "flash", "--timeout",
                                        "10", wine_path(image)], env=self.rig.env, stdin=subprocess.DEVNULL,
                                       stdout=f, stderr=subprocess.STDOUT)
            end = time.monotonic() + 30
            while not re.search(rb"^1/4 ", read_bytes(out), re.M) and cli.poll() is None and time.monotonic() < end:
                time.sleep(0.05)  # the first block went: the run is in flight
            probe = drive("probe_share", path=wine_path(image))
            in_flight = cli.poll() is None
            code = cli.wait(60)
            summary = sim.finish()
        finally:
            drive.close()
            sim.stop()
        text = read_bytes(out).decode("utf-8", "replace")
        self.assertTrue(in_flight, text)
        self.assertEqual((probe["writable"], probe["error"]), (False, 32), "a sharing violation")
        self.assertEqual(code, 0, text)
        self.assertEqual(text.splitlines()[-1], "Update Sucess! ")
        self.assertTrue(summary["complete"] and summary["matches_expected"], summary)

    def test_a_silent_or_vanished_handset_fails_within_the_bound(self):
        cases = [  # fault, --timeout, cause line, bound on the whole run
            ("silent-from=1", "2", "failed at block 1", 20),
            ("drop-after=300000", "10", "block 1's data: the link hung up", 8),  # at once, not after the bound
            # 600000 bytes in three blocks of a 12-byte header each: all but the last byte taken.
            ("drop-after=600035", "10", "failed at the end of the download: the link hung up", 8),
        ]
        image = self.write("fw.dio", os.urandom(600000))
        for fault, bound, cause, within in cases:
            with self.subTest(fault=fault):
                sim = Sim(self.rig, ARGS.sim, "--no-auto-upgrade", "--fault", fault, timeout=30)
                try:
                    start = time.monotonic()
                    code, out = self.cli("flash", "--no-auto-upgrade", "--timeout", bound, wine_path(image),
                                         timeout=60)
                    elapsed = time.monotonic() - start
                finally:
                    sim.stop()
                self.assertEqual(code, 1, out)
                self.assertEqual(out.splitlines()[-1], "Update Fail! ")
                self.assertIn(cause, out)
                self.assertLess(elapsed, within)

    def test_ctrl_c_stops_a_flash_at_a_packet_and_says_so(self):
        # Ctrl-C typed into the program's console, a pty; its output goes to a file. A slow
        # handset is stopped between records; a silent one while the flasher waits for a ready
        # packet, long before --timeout.
        com = os.path.join(self.rig.prefix, "dosdevices", "com7")
        cases = [  # image, handset-sim's pace or fault, the flasher's options, the progress to wait
            # for, the step it stops at
            ("slow.img", img_image(count=64, size=4096), ["--rate", "64"], [], rb"^\d+/", r"record \d+"),
            ("silent.dio", os.urandom(4 * 262144), ["--no-auto-upgrade", "--fault", "silent-from=2"],
             ["--no-auto-upgrade"], rb"^\d+/", "block 2's ready packet"),
        ]
        for name, data, sim_args, cli_args, started, step in cases:
            with self.subTest(image=name):
                image = self.write(name, data)
                out = os.path.join(self.rig.tmp, name + ".out")
                command = shlex.join(["wine", ARGS.cli, "flash", "--device", "COM7", "--timeout", "30", *cli_args,
                                      wine_path(image)]) + " >" + shlex.quote(out) + " 2>&1"
                sim = Sim(self.rig, ARGS.sim, *sim_args, expect=image, link=com, timeout=30)
                try:
                    console = on_console(command, "/dev/null", self.rig.env)
                    end = time.monotonic() + 30
                    while not re.search(started, read_bytes(out) if os.path.exists(out) else b"", re.M) \
                            and console.poll() is None and time.monotonic() < end:
                        time.sleep(0.05)  # a packet went: the run is in flight
                    time.sleep(1)  # the first plain line comes after the first unit: let a few more go
                    in_flight = console.poll() is None
                    if in_flight:
                        console.stdin.write(b"\x03")
                        console.stdin.flush()
                    pressed = time.monotonic()
                    code = console.wait(60)
                    elapsed = time.monotonic() - pressed
                    console.stdin.close()
                finally:
                    sim.stop()  # the handset outwaits the run; stopped, it tells what it holds
                summary = sim.summary()
                text = read_bytes(out).decode("utf-8", "replace")
                lines = text.splitlines()
                self.assertTrue(in_flight, text)
                self.assertEqual(code, 130, text)
                self.assertEqual(lines[-1], "Update Fail! ")
                self.assertRegex(lines[-2], f"^brenvik-cli: stopped by SIGINT at {step}: the handset holds a partial "
                                            "image and must be flashed again$")
                self.assertLess(elapsed, 5)
                self.assertFalse(summary["complete"] or summary["matches_expected"], summary)

    def test_an_image_of_4_gib_or_more_is_refused(self):
        image = os.path.join(self.rig.tmp, "huge.img")
        with open(image, "wb") as f:
            f.truncate((4 << 30) + (1 << 20))  # sparse: no disk space taken
        sim = Sim(self.rig, ARGS.sim)
        try:
            for command in (["inspect"], ["flash", "--timeout", "2"]):
                with self.subTest(command=command[0]):
                    code, out = self.cli(*command, wine_path(image))
                    self.assertEqual(code, 2, out)
                    self.assertEqual(out.strip(), f"brenvik-cli: the image {wine_path(image)} is 4296015872 bytes: "
                                                  "images of 4 GiB or more cannot be flashed")
        finally:
            sim.stop()
            os.unlink(image)
        s = sim.summary()
        self.assertTrue(s is None or s["bytes"]["received"] == 0, s)


class WindowsNamesUnderWine(unittest.TestCase):
    """Paths and device names as Windows reads them: a path in any script names exactly the
    file given, one port under several names is one handset, a port in use is refused, and
    the system's own devices (NUL, CON, AUX...) are never written to."""
class FlashLogUnderWine(WineCase):
    """The flash log of brenvik-cli.exe: shared by processes, and only ever a file on a disk."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.dosdevices = os.path.join(cls.rig.prefix, "dosdevices")
        cls.image = os.path.join(cls.rig.tmp, "log.img")
        with open(cls.image, "wb") as f:
            f.write(img_image(count=4, size=4096))

    def test_look_alike_paths_name_exactly_the_file_given(self):
        self.write("fwa.img", img_image(count=8, size=4096))  # what the code page made of fwā.img
        self.write("notes-a.txt", b"")
        for name, log_name in (("fwā.img", "notes-ā.txt"), ("прошивка.img", "журнал.txt")):
            with self.subTest(image=name):
                image = self.write(name, img_image(count=8, size=4096))
                code, out = self.cli("inspect", "--json", wine_path(image))
                self.assertEqual(code, 0, out)
                self.assertEqual((json.loads(out)["path"], json.loads(out)["sha256"]),
                                 (wine_path(image), hashlib.sha256(read_bytes(image)).hexdigest()))
                log = os.path.join(self.rig.tmp, log_name)
                sim = Sim(self.rig, ARGS.sim, expect=image, link=os.path.join(self.dosdevices, "com7"))
                try:
                    code, out = self.cli("flash", "--timeout", "10", "--device", "COM7", "--log", wine_path(log),
                                         wine_path(image))
                    summary = sim.finish()
                finally:
                    sim.stop()
                self.assertEqual(code, 0, out)
                self.assertTrue(summary["matches_expected"], summary)
                with open(log, encoding="utf-8") as f:
                    [entry] = map(json.loads, f)
                self.assertEqual((entry["sha256"], entry["result"]),
                                 (hashlib.sha256(read_bytes(image)).hexdigest(), "success"))
        self.assertEqual(read_bytes(os.path.join(self.rig.tmp, "notes-a.txt")), b"")

    def test_one_port_under_three_names_is_flashed_once(self):
        image = self.write("once.img", img_image(count=8, size=4096))
        sim = Sim(self.rig, ARGS.sim, expect=image, link=os.path.join(self.dosdevices, "com7"))
        try:
            code, out = self.cli("flash", "--json", "--timeout", "10", "--device", "COM7", "--device",
                                 "\\\\.\\COM7", "--device", "com7", wine_path(image))
            summary = sim.finish()
        finally:
            sim.stop()
        self.assertEqual(code, 0, out)
        [table] = [e for e in map(json.loads, re.findall(r"(?m)^\{.*\}\r?$", out)) if e["event"] == "summary"]
        self.assertEqual([(run["device"], run["result"]) for run in table["runs"]], [("COM7", "success")])
        self.assertTrue(summary["matches_expected"] and summary["commands"]["download_end"] == 2, summary)

    def test_a_busy_port_is_refused_while_the_first_flash_goes_on(self):
        image = self.write("busy.dio", os.urandom(4 * 262144))
        sim = Sim(self.rig, ARGS.sim, "--rate", "512", expect=image, link=os.path.join(self.dosdevices, "com7"))
        out = os.path.join(self.rig.tmp, "busy.out")
        try:
            with open(out, "wb") as f:
                first = subprocess.Popen(["timeout", "--kill-after=5", "60", "wine", ARGS.cli, "flash", "--device",
                                          "COM7", "--timeout", "10", wine_path(image)], env=self.rig.env,
                                         stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT)
            end = time.monotonic() + 30
            while not re.search(rb"^1/4 ", read_bytes(out), re.M) and first.poll() is None and time.monotonic() < end:
                time.sleep(0.05)  # the first block went: the run is in flight
            start = time.monotonic()
            code, second = self.cli("flash", "--device", "com7", "--timeout", "10", wine_path(image))
            refused_in = time.monotonic() - start
            in_flight = first.poll() is None
            first_code = first.wait(60)
            summary = sim.finish()
        finally:
            sim.stop()
        text = read_bytes(out).decode("utf-8", "replace")
        self.assertTrue(in_flight, text)
        self.assertEqual(code, 3, second)
        self.assertIn("com7 is busy: another program is flashing this handset", second)
        self.assertLess(refused_in, 8)
        self.assertEqual(first_code, 0, text)
        self.assertTrue(summary["complete"] and summary["matches_expected"], summary)

    def test_the_systems_own_devices_are_refused_before_a_byte(self):
        # AUX is COM1 to Wine: a handset-sim there sees whether anything reached it. COM6 is a
        # port name on a character device that is no serial line.
        com1, com6 = os.path.join(self.dosdevices, "com1"), os.path.join(self.dosdevices, "com6")
        os.symlink("/dev/null", com6)
        was = os.readlink(com1) if os.path.islink(com1) else None
        if was:
            os.unlink(com1)
        image = self.write("fw.dio", os.urandom(262144))
        sim = Sim(self.rig, ARGS.sim, link=com1)
        try:
            for name in ("NUL", "NUL:", "C:\\x\\nul", "nul.txt", "CON", "CON.log", "AUX", "aux.img", "PRN", "COM6"):
                with self.subTest(device=name):
                    code, out = self.cli("flash", "--timeout", "2", "--device", name, wine_path(image))
                    self.assertEqual(code, 3, out)
                    self.assertIn(f"{name} is a character device that is not a terminal, not a handset", out)
        finally:
            sim.stop()
            os.unlink(com6)
            if was:
                os.symlink(was, com1)
        s = sim.summary()
        self.assertTrue(s is None or s["bytes"]["received"] == 0, s)
    def test_a_log_shared_by_three_processes_keeps_every_line_whole(self):
        # Ports that are not there end their runs at once: every run of every process
        # appends at nearly the same moment.
        log = os.path.join(self.rig.tmp, "shared.log")
        ports = [["COM%d" % (40 + 20 * p + k) for k in range(20)] for p in range(3)]
        processes = [subprocess.Popen(["timeout", "--kill-after=5", "120", "wine", ARGS.cli, "flash", "--json",
                                       "--log", wine_path(log), *[a for c in com for a in ("--device", c)],
                                       wine_path(self.image)], env=self.rig.env, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) for com in ports]
        self.assertEqual([p.wait(150) for p in processes], [3, 3, 3])
        with open(log) as f:
            entries = [json.loads(line) for line in f]
        self.assertEqual(sorted(e["device"] for e in entries), sorted(c for com in ports for c in com))
        self.assertEqual({(e["kind"], e["result"]) for e in entries}, {(5, "failed")})

    def test_what_is_no_file_on_a_disk_or_is_the_image_is_refused(self):
        os.makedirs(os.path.join(self.rig.tmp, "logs"), exist_ok=True)
        cases = [  # (log, what the refusal says)
            ("NUL", "is a device"),
            (wine_path(os.path.join(self.rig.tmp, "nul.log")), "is a device"),
            (wine_path(os.path.join(self.rig.tmp, "logs")), "is a directory"),
            (wine_path(self.image), "is the image itself"),
        ]
        before = hashlib.sha256(read_bytes(self.image)).hexdigest()
        for log, words in cases:
            with self.subTest(log=log):
                code, out = self.rig.wine(ARGS.cli, "flash", "--device", "COM39", "--log", log, wine_path(self.image))
                self.assertEqual(code, 2, out)
                self.assertIn("the flash log %s %s" % (log, words), out)
        self.assertEqual(hashlib.sha256(read_bytes(self.image)).hexdigest(), before)


class StationUnderWine(WineCase):
    """brenvik-cli.exe station under Wine, which tells of no arriving device: the class search
    polled finds handsets as their interfaces are registered and loses them as they are
    removed; a signal (Ctrl-C in a console) ends the session once the running flash is done."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.image = os.path.join(cls.rig.tmp, "station.img")
        with open(cls.image, "wb") as f:
            f.write(img_image(count=64, size=4096))

    @classmethod
    def tearDownClass(cls):
        for n in range(3):
            if os.path.islink(cls.rig.link_of(n)):
                os.unlink(cls.rig.link_of(n))
        super().tearDownClass()

    def path(self, n):
        return "\\\\?\\root#brenvik#%04d#" % n + GUID.lower()

    def plug(self, n):
        self.rig.register_handset(n)

    def unplug(self, n):
        code, out = self.rig.wine("reg", "delete", interface_key(n), "/f")
        self.assertEqual(code, 0, out)

    def events(self, out, wanted, process, timeout=30):
        """The station's events so far, once one of them is `wanted` (a predicate)."""
        end = time.monotonic() + timeout
        while True:
            events = [json.loads(line) for line in re.findall(rb"(?m)^\{.*\}\r?$", read_bytes(out))]
            if any(map(wanted, events)) or process.poll() is not None or time.monotonic() > end:
                return events
            time.sleep(0.05)

    def test_handsets_come_and_go_and_a_signal_ends_the_session(self):
        self.rig.unregister_handset()  # none there when the station starts
        out, log = os.path.join(self.rig.tmp, "station.out"), os.path.join(self.rig.tmp, "station.log")
        sims = []

        def seen(kind, slot):
            return lambda e: e["event"] == kind and e.get("slot") == slot

        with open(out, "wb") as f:
            station = subprocess.Popen(["timeout", "--kill-after=5", "120", "wine", ARGS.cli, "station", "--json",
                                        "--log", wine_path(log), "--poll-ms", "100", "--timeout", "10",
                                        wine_path(self.image)], env=self.rig.env, stdin=subprocess.DEVNULL,
                                       stdout=f, stderr=subprocess.STDOUT)
        try:
            sims.append(Sim(self.rig, ARGS.sim, expect=self.image, link=self.rig.link_of(0)))
            self.plug(0)
            self.assertTrue(any(map(seen("result", 1), self.events(out, seen("result", 1), station))))
            # The second flashes slowly: the first leaves and the signal comes while it runs.
            sims.append(Sim(self.rig, ARGS.sim, "--rate", "64", expect=self.image, link=self.rig.link_of(1)))
            self.plug(1)
            self.events(out, seen("started", 2), station)
            self.unplug(0)
            self.events(out, seen("left", 1), station)
            # To Wine itself, which calls the console handler as for Ctrl-C: `timeout` would pass it on,
            # but then kill the station 5 s later.
            with open("/proc/%d/task/%d/children" % (station.pid, station.pid)) as f:
                [wine] = f.read().split()
            os.kill(int(wine), signal.SIGINT)
            self.events(out, lambda e: e["event"] == "stopping", station)
            self.plug(2)  # arrives while stopping: waits, never started
            self.events(out, seen("arrived", 3), station)
            code = station.wait(60)
            summaries = [sim.finish() for sim in sims]
        finally:
            if station.poll() is None:
                station.terminate()  # passed on by timeout: Wine ends the station at once
                station.wait(15)
            for sim in sims:
                sim.stop()
            for n in range(3):
                self.rig.wine("reg", "delete", interface_key(n), "/f")
            self.rig.register_handset()
        events = self.events(out, lambda e: False, station, timeout=0)
        text = read_bytes(out).decode("utf-8", "replace")
        self.assertEqual(code, 0, text)
        self.assertEqual([(e["event"], e["slot"]) for e in events if e["event"] in ("started", "left", "arrived")
                          and "slot" in e], [("arrived", 1), ("started", 1), ("arrived", 2), ("started", 2),
                                             ("left", 1), ("arrived", 3)])
        [summary] = [e for e in events if e["event"] == "summary"]
        self.assertEqual([(run["device"].lower(), run["result"]) for run in summary["runs"]],
                         [(self.path(0), "success"), (self.path(1), "success")])
        with open(log) as f:
            lines = [json.loads(line) for line in f]
        self.assertEqual([(entry["device"].lower(), entry["result"]) for entry in lines],
                         [(self.path(0), "success"), (self.path(1), "success")])
        self.assertTrue(all(s["matches_expected"] for s in summaries), summaries)

    def test_a_usb_port_pattern_chooses_the_handset_by_its_location(self):
        # Two handsets on one hub; the station takes the one on port 4 and never the other.
        self.rig.unregister_handset()
        sims = [Sim(self.rig, ARGS.sim, expect=self.image, link=self.rig.link_of(0)),
                Sim(self.rig, ARGS.sim, link=self.rig.link_of(1))]
        try:
            self.rig.register_handset(0, location="Port_#0004.Hub_#0003")
            self.rig.register_handset(1, location="Port_#0001.Hub_#0003")
            code, out = self.cli("station", "--json", "--count", "1", "--poll-ms", "100", "--timeout", "10",
                                 "--usb-port", "Port_#0004.*", wine_path(self.image), timeout=60)
            chosen = sims[0].finish()
        finally:
            for sim in sims:
                sim.stop()
            self.rig.unregister_handset()
            self.rig.register_handset()
        self.assertEqual(code, 0, out)
        events = [json.loads(line) for line in re.findall(r"(?m)^\{.*\}\r?$", out)]
        self.assertEqual([(e["event"], e["device"].lower(), e["usb_port"]) for e in events if "slot" in e],
                         [(kind, self.path(0), "Port_#0004.Hub_#0003") for kind in ("arrived", "started", "result")])
        self.assertTrue(chosen["matches_expected"], chosen)
        other = sims[1].summary()
        self.assertTrue(other is None or other["bytes"]["received"] == 0, other)

    def test_a_console_gets_plain_lines_and_ctrl_c_ends_the_session(self):
        # Wine's console prints escape sequences as text: the board's would be garbage there.
        typescript = os.path.join(self.rig.tmp, "station.typescript")
        command = shlex.join(["wine", ARGS.cli, "station", "--poll-ms", "100", "--timeout", "10",
                              wine_path(self.image)])
        sim = Sim(self.rig, ARGS.sim, expect=self.image)  # behind the interface the rig registered
        try:
            console = on_console(command, typescript, self.rig.env)
            summary = sim.finish()
            time.sleep(1)  # the result line is out
            console.stdin.write(b"\x03")
            console.stdin.flush()
            code = console.wait(30)
            console.stdin.close()
        finally:
            sim.stop()
        # What the console itself sends to draw its screen goes; what is left is the program's.
        screen = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", read_bytes(typescript)).decode("utf-8", "replace")
        self.assertEqual(code, 0, screen)
        self.assertTrue(summary["matches_expected"], summary)
        self.assertNotIn("\x1b", screen)
        lines = re.sub(r"\s", "", screen)  # the console draws spaces as moves and wraps long lines
        self.assertIn("result:" + self.path(0) + ":success", lines.lower())
        self.assertIn("brenvik-cli:stopping:", lines)


def on_console(command, typescript, env):
    """Runs a shell command on a terminal of its own; Ctrl-C goes in through the returned process's stdin."""
    # `exec`: a shell that forks the command (dash does) would die of the Ctrl-C itself, and its 130
    # would stand for the program's exit code.
    return subprocess.Popen(["timeout", "--kill-after=5", "60", "script", "-qefc", "exec " + command, typescript],
                            env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--cli", required=True)
    p.add_argument("--sim", required=True)
    p.add_argument("--driver", required=True)
    ARGS, rest = p.parse_known_args()
    if not os.access(ARGS.sim, os.X_OK):
        print(f"skipped: no handset-sim at {ARGS.sim} (build the linux preset first)")
        return 77
    result = unittest.main(argv=[sys.argv[0], *rest], verbosity=2, exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
