#!/usr/bin/env python3
"""brenvik-cli station as a production line uses it: handsets come and go in a sysfs tree
while it runs. Usage: station_test.py CLI SIM [TEST...]"""
import fcntl
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import cli_test
from cli_test import CLI, Sim, bin_stream, cli, fake_tty
from sysfs_tree import unplug


class Station:
    """brenvik-cli station --json on a sysfs tree; its events as they come."""

    def __init__(self, root, image, log, *args, pipe_size=None):
        self.proc = subprocess.Popen([CLI, "station", "--json", "--log", log, "--poll-ms", "50",
                                      "--timeout", "5", *args, image],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     env=dict(os.environ, SYSFS_PATH=root))
        if pipe_size:  # a reader that pauses fills it soon
            fcntl.fcntl(self.proc.stdout.fileno(), fcntl.F_SETPIPE_SZ, pipe_size)
        self.events = []
        self.since = 0

    def mark(self):
        """Later waits look only at the events from now on."""
        self.since = len(self.events)

    def wait_for(self, predicate, timeout=30):
        """The first event since the mark that `predicate` admits, already read or to come."""
        for event in self.events[self.since:]:
            if predicate(event):
                return event
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            line = self.proc.stdout.readline()
            if not line:
                break
            self.events.append(json.loads(line))
            if os.environ.get("STATION_TEST_VERBOSE"):
                print(line.rstrip(), file=sys.stderr)
            if predicate(self.events[-1]):
                return self.events[-1]
        raise AssertionError("no such event; so far: %s" % self.events)

    def finish(self):
        out, err = self.proc.communicate(timeout=60)
        self.events += [json.loads(line) for line in out.splitlines()]
        return self.proc.returncode, err


def result_of(serial):
    return lambda e: e["event"] == "result" and e["serial"] == serial and "result" in e


def log_lines(path):
    if not os.path.exists(path):
        return 0
    with open(path) as f:
        return len(f.readlines())


class StationTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="station-test-")
        self.root = os.path.join(self.dir, "sys")
        os.makedirs(os.path.join(self.root, "class/tty"))
        self.image = os.path.join(self.dir, "fw.img")
        self.first = os.urandom(0x20000) + bin_stream([(0x80001000 + i * 4096, os.urandom(4096)) for i in range(64)])
        with open(self.image, "wb") as f:
            f.write(self.first)
        self.reference = os.path.join(self.dir, "first.img")
        shutil.copy(self.image, self.reference)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def plug(self, name, serial, port, *sim_args, expect=None, timeout=20):
        sim = Sim(self.dir, "--expect", expect or self.reference, *sim_args, timeout=timeout)
        fake_tty(self.root, name, "ipaq", "049f:0003", serial, port, devname=sim.device[len("/dev/"):])
        return sim

    def test_handsets_come_and_go(self):
        log = os.path.join(self.dir, "station.log")
        a = self.plug("ttyUSB0", "A", "1-1.1", "--rate", "512")
        st = Station(self.root, self.image, log)
        st.wait_for(lambda e: e["event"] == "started" and e["serial"] == "A")
        b = self.plug("ttyUSB1", "B", "1-1.2", "--rate", "512")  # arrives while A flashes
        self.assertEqual(st.wait_for(result_of("A"))["result"], "success")
        self.assertEqual(st.wait_for(result_of("B"))["result"], "success")
        self.assertTrue(a.finish()["matches_expected"])
        self.assertTrue(b.finish()["matches_expected"])
        time.sleep(0.3)  # A and B stay plugged in: not flashed again

        # A replugged, now on the tty number B had: flashed again. C fails; D leaves mid-flash.
        st.mark()
        unplug(self.root, "ttyUSB0", "1-1.1")
        unplug(self.root, "ttyUSB1", "1-1.2")
        st.wait_for(lambda e: e["event"] == "left" and e["serial"] == "B")
        a2 = self.plug("ttyUSB1", "A", "1-1.1")
        c = self.plug("ttyUSB2", "C", "1-1.3", "--fault", "drop-after=140000")
        self.assertEqual(st.wait_for(result_of("A"))["result"], "success")
        self.assertEqual(st.wait_for(result_of("C"))["result"], "failed")
        self.assertTrue(a2.finish()["matches_expected"])
        st.mark()
        d = self.plug("ttyUSB3", "D", "1-1.4", "--rate", "128")
        st.wait_for(lambda e: e["event"] == "started" and e["serial"] == "D")
        time.sleep(0.5)
        unplug(self.root, "ttyUSB3", "1-1.4")
        self.assertEqual(st.wait_for(result_of("D"))["cause"], "unplugged")

        # A new release moved into place: the next handset gets it. SIGINT while it flashes:
        # it finishes, then the summary.
        second = os.urandom(0x20000) + bin_stream([(0x80001000, os.urandom(8192))] * 32)
        with open(self.image + ".new", "wb") as f:
            f.write(second)
        os.replace(self.image + ".new", self.image)
        shutil.copy(self.image, self.reference + "2")
        st.mark()
        e = self.plug("ttyUSB4", "E", "1-1.5", "--rate", "256", expect=self.reference + "2")
        st.wait_for(lambda ev: ev["event"] == "started" and ev["serial"] == "E")
        st.proc.send_signal(signal.SIGINT)
        rc, err = st.finish()
        self.assertTrue(e.finish()["matches_expected"])
        self.assertEqual(rc, 1, err)  # C failed, D was unplugged
        results = [(ev["serial"], ev["result"]) for ev in st.events if ev["event"] == "result" and "result" in ev]
        self.assertEqual(sorted(results), [("A", "success"), ("A", "success"), ("B", "success"), ("C", "failed"),
                                           ("D", "failed"), ("E", "success")])
        summary = [ev for ev in st.events if ev["event"] == "summary"][-1]
        self.assertEqual([(r["serial"], r["result"]) for r in summary["runs"]], results)
        ports = {"A": "1-1.1", "B": "1-1.2", "C": "1-1.3", "D": "1-1.4", "E": "1-1.5"}
        self.assertEqual([r["usb_port"] for r in summary["runs"]], [ports[serial] for serial, _ in results])
        # A supervisor reads the bounded progress events, not one event per record.
        kinds = {ev["event"] for ev in st.events}
        self.assertIn("progress", kinds)
        self.assertFalse(kinds & {"position", "status"})
        with open(log) as f:
            lines = [json.loads(line) for line in f]
        self.assertEqual([(l["usb_serial"], l["result"]) for l in lines], results)
        # One result per run: the run's own figures and the station's verdict, alike in the log.
        ends = [ev for ev in st.events if ev["event"] == "result"]
        self.assertEqual([(ev["ok"], ev["average_rate"]) for ev in ends],
                         [(l["result"] == "success", l["average_rate"]) for l in lines])
        for l in lines:
            self.assertEqual(l["sha256"], cli_test.digest(self.reference + ("2" if l["usb_serial"] == "E" else "")))
        self.assertEqual([l["cause"] for l in lines if l["usb_serial"] == "D"], ["unplugged"])

    def test_count_and_filters(self):
        log = os.path.join(self.dir, "count.log")
        sims = [self.plug("ttyUSB%d" % i, "S%d" % i, "1-2.%d" % i) for i in range(3)]
        self.plug("ttyUSB9", "X9", "2-1")  # another hub: not this station's
        st = Station(self.root, self.image, log, "--count", "2", "--usb-port", "1-2.*", "--serial", "S")
        rc, err = st.finish()
        self.assertEqual(rc, 0, err)
        self.assertEqual(st.events[0], {"event": "filters", "usb_port": ["1-2.*"], "serial": ["S"]})
        done = [ev for ev in st.events if ev["event"] == "result" and "result" in ev]
        self.assertGreaterEqual(len(done), 2)
        self.assertTrue(all(ev["serial"].startswith("S") for ev in done))
        for sim in sims:
            sim.proc.kill()

        # Said at the start in plain lines too, escaped.
        plain = subprocess.Popen([CLI, "station", "--usb-port", "1-2.*", "--usb-port", "3-\u00e9",
                                  "--serial", "S", self.image], stdout=subprocess.PIPE, text=True,
                                 env=dict(os.environ, SYSFS_PATH=os.path.join(self.dir, "none")))
        self.assertEqual(plain.stdout.readline(), "filters: USB port 1-2.*, 3-\u00e9; serial S\n")
        plain.send_signal(signal.SIGINT)
        self.assertEqual(plain.wait(timeout=30), 0)

        # Filters that can never admit a handset (or admit every one) are refused before anything.
        for args, said in [(["--usb-port", ""], '--usb-port "": an empty pattern never matches a port'),
                           (["--usb-port", "1-2.*", "--usb-port", "1-\x1b[2J"],
                            '--usb-port "1-\\x1B[2J": no port holds a control character'),
                           (["--serial", "S\t"], '--serial "S\\x09": no handset\'s serial holds a control'),
                           (["--serial", ""], '--serial "": an empty prefix would admit every handset')]:
            with self.subTest(args=args):
                r = cli("station", "--log", log, *args, self.image, timeout=30, sysfs=self.root)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn("brenvik-cli: " + said, r.stderr)
                self.assertEqual(r.stdout, "")

    def test_slow_reader(self):
        # The supervisor reading --json stops reading for longer than the handsets wait: their
        # flashes go on, a handset plugged meanwhile starts, and signals act at once.
        log = os.path.join(self.dir, "slow.log")
        st = Station(self.root, self.image, log, pipe_size=4096)
        fast = [self.plug("ttyUSB%d" % i, "P%d" % i, "1-3.%d" % i, "--rate", "64", timeout=4) for i in range(2)]
        for i in range(2):
            st.wait_for(lambda e, i=i: e["event"] == "started" and e["serial"] == "P%d" % i)
        time.sleep(8)  # the pipe fills up; the flashes end
        slow = self.plug("ttyUSB5", "Q", "1-3.5", "--rate", "16", timeout=60)
        time.sleep(2)
        st.proc.send_signal(signal.SIGTERM)
        time.sleep(0.5)  # two at once could be taken as one
        st.proc.send_signal(signal.SIGTERM)
        deadline = time.monotonic() + 10
        while log_lines(log) < 3:  # Q's line, while nobody reads
            self.assertLess(time.monotonic(), deadline, "the stop waited for the reader")
            time.sleep(0.1)
        rc, err = st.finish()
        slow.proc.kill()
        self.assertEqual(rc, 143, err)
        for i, sim in enumerate(fast):
            self.assertEqual(st.wait_for(result_of("P%d" % i))["result"], "success")
            self.assertTrue(sim.finish()["matches_expected"])
        self.assertEqual(st.wait_for(result_of("Q"))["result"], "stopped")
        self.assertEqual(sorted(r["serial"] for r in st.events[-1]["runs"]), ["P0", "P1", "Q"])

if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
