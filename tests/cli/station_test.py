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
import threading
import time
import unittest

from tests.cli import cli_test
from tests.cli.cli_test import CLI, Sim, bin_stream, cli, fake_tty
from tests.tools import need
from tests.cli.sysfs_tree import unplug


class Station:
    """brenvik-cli station --json on a sysfs tree; its events as they come."""

    def __init__(self, root, image, log, *args, pipe_size=None, user=()):
        self.proc = subprocess.Popen([*user, CLI, "station", "--json", "--log", log, "--poll-ms", "50",
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


def lines_of(path):
    with open(path) as f:
        return [json.loads(line) for line in f]


def rotate(log, state):
    """The package's logrotate configuration, run on `log`."""
    with open(os.path.join(os.path.dirname(__file__), "../../packaging/brenvik-station.logrotate")) as f:
        config = f.read().replace("/var/log/brenvik/station.log", log)
    path = os.path.join(os.path.dirname(log), "logrotate.conf")
    with open(path, "w") as f:
        f.write(config)
    subprocess.run(["logrotate", "--force", "--state", state, path], check=True, timeout=30)


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
        # D leaves mid-flash in the kernel's order, its serial first: no handset without a
        # serial arrives on its port. G's link fails as it is pulled, before the tree shows it
        # gone: unplugged too, in its result as in its log line.
        st.mark()
        d = self.plug("ttyUSB3", "D", "1-1.4", "--rate", "128")
        g = self.plug("ttyUSB6", "G", "1-1.7", "--rate", "128")
        st.wait_for(lambda e: e["event"] == "started" and e["serial"] == "D")
        st.wait_for(lambda e: e["event"] == "started" and e["serial"] == "G")
        time.sleep(0.5)
        unplug(self.root, "ttyUSB3", "1-1.4", between=0.3)
        g.proc.kill()
        unplug(self.root, "ttyUSB6", "1-1.7", between=0.05)
        self.assertEqual(st.wait_for(result_of("D"))["cause"], "unplugged")
        self.assertEqual(st.wait_for(result_of("G"))["cause"], "unplugged")

        # A new release moved into place while E flashes: E keeps the file it has, the next
        # handset gets the new one. SIGINT while that one flashes: it finishes, then the summary.
        st.mark()
        e = self.plug("ttyUSB4", "E", "1-1.5", "--rate", "256")
        st.wait_for(lambda ev: ev["event"] == "started" and ev["serial"] == "E")
        time.sleep(0.3)
        second = os.urandom(0x20000) + bin_stream([(0x80001000, os.urandom(8192))] * 32)
        with open(self.image + ".new", "wb") as f:
            f.write(second)
        os.replace(self.image + ".new", self.image)
        shutil.copy(self.image, self.reference + "2")
        self.assertEqual(st.wait_for(result_of("E"))["result"], "success")
        self.assertTrue(e.finish()["matches_expected"])
        f = self.plug("ttyUSB5", "F", "1-1.6", "--rate", "256", expect=self.reference + "2")
        st.wait_for(lambda ev: ev["event"] == "started" and ev["serial"] == "F")
        st.proc.send_signal(signal.SIGINT)
        rc, err = st.finish()
        self.assertTrue(f.finish()["matches_expected"])
        self.assertEqual(rc, 1, err)  # C failed, D and G were unplugged
        results = [(ev["serial"] or "", ev["result"]) for ev in st.events if ev["event"] == "result" and "result" in ev]
        self.assertEqual(sorted(results), [("A", "success"), ("A", "success"), ("B", "success"), ("C", "failed"),
                                           ("D", "failed"), ("E", "success"), ("F", "success"), ("G", "failed")])
        self.assertEqual(sorted(ev["serial"] or "" for ev in st.events if ev["event"] == "arrived"),
                         ["A", "A", "B", "C", "D", "E", "F", "G"])
        summary = [ev for ev in st.events if ev["event"] == "summary"][-1]
        self.assertEqual([(r["serial"], r["result"]) for r in summary["runs"]], results)
        ports = {"A": "1-1.1", "B": "1-1.2", "C": "1-1.3", "D": "1-1.4", "E": "1-1.5", "F": "1-1.6", "G": "1-1.7"}
        self.assertEqual([r["usb_port"] for r in summary["runs"]], [ports[serial] for serial, _ in results])
        # A supervisor reads the bounded progress events, not one event per record.
        kinds = {ev["event"] for ev in st.events}
        self.assertIn("progress", kinds)
        self.assertFalse(kinds & {"position", "status"})
        lines = lines_of(log)
        self.assertEqual([(l["usb_serial"] or "", l["result"]) for l in lines], results)
        # One result per run: the run's own figures and the station's verdict, alike in the log.
        ends = [ev for ev in st.events if ev["event"] == "result"]
        self.assertEqual([(ev["ok"], ev["average_rate"], ev["cause"]) for ev in ends],
                         [(l["result"] == "success", l["average_rate"], l["cause"]) for l in lines])
        for l in lines:
            self.assertEqual(l["sha256"], cli_test.digest(self.reference + ("2" if l["usb_serial"] == "F" else "")))
        self.assertEqual([l["cause"] for l in lines if l["usb_serial"] in "DG"], ["unplugged", "unplugged"])

    def test_a_shift_unplugged_in_the_kernels_order_and_its_log_rotated_and_deleted(self):
        # Handsets through 4 ports, each pulled in the kernel's order (serial, ids, tty) with
        # polls in between; the log rotated by the package's logrotate configuration, later
        # deleted. Every handset arrives, is flashed and is logged exactly once.
        need("logrotate", "logrotate")
        log = os.path.join(self.dir, "station.log")
        handsets, ports = 300, 4
        sims = [Sim(self.dir, "--sessions", "0", "--expect", self.reference) for _ in range(ports)]
        st = Station(self.root, self.image, log)
        self.addCleanup(st.proc.kill)
        for sim in sims:
            self.addCleanup(sim.proc.kill)
        results, done = {}, threading.Condition()

        def read():
            for line in st.proc.stdout:
                event = json.loads(line)
                with done:
                    st.events.append(event)
                    if event["event"] == "result":
                        results.setdefault(event["serial"], []).append(event["result"])
                        done.notify_all()

        def wait_for(serial):
            with done:
                self.assertTrue(done.wait_for(lambda: serial in results, timeout=30), serial)

        def line(port):
            for n in range(port, handsets, ports):
                serial = "S%03d" % n
                fake_tty(self.root, "ttyUSB%d" % port, "ipaq", "049f:0003", serial, "1-3.%d" % port,
                         devname=sims[port].device[len("/dev/"):])
                wait_for(serial)
                unplug(self.root, "ttyUSB%d" % port, "1-3.%d" % port, between=0.06)

        # Daemons: a failed step here ends the test, never leaves it waiting on a thread.
        reader = threading.Thread(target=read, daemon=True)
        reader.start()
        workers = [threading.Thread(target=line, args=(port,), daemon=True) for port in range(ports)]
        for w in workers:
            w.start()
        wait_for("S099")
        rotate(log, os.path.join(self.dir, "logrotate.state"))
        with done:
            by_rotation = len(results)
        wait_for("S199")
        deleted = open(log)  # its lines stay readable here
        os.unlink(log)
        with done:
            by_deletion = len(results)
        for w in workers:
            w.join()
        st.proc.send_signal(signal.SIGTERM)
        self.assertEqual(st.proc.wait(timeout=30), 0)
        reader.join()
        for sim in sims:
            sim.proc.terminate()
            sim.proc.wait(timeout=10)

        serials = ["S%03d" % n for n in range(handsets)]
        self.assertEqual(results, {serial: ["success"] for serial in serials})
        self.assertEqual(sorted(e["serial"] for e in st.events if e["event"] == "arrived"), serials)
        rotated, before, after = lines_of(log + ".1"), [json.loads(l) for l in deleted], lines_of(log)
        deleted.close()
        self.assertEqual(sorted(l["usb_serial"] for l in rotated + before + after), serials)
        # After each move the station wrote into the path again, not into the file moved away:
        # only the runs under way then may have their lines there.
        self.assertLessEqual(len(rotated), by_rotation + ports)
        self.assertLessEqual(len(rotated) + len(before), by_deletion + ports)
        self.assertIn("S%03d" % (handsets - 1), [l["usb_serial"] for l in after])

    def test_a_permission_retry_ends_once_whichever_way(self):
        # P1 is given the permission while it is tried again, P2 is unplugged, P3 is still
        # waiting when the station is stopped: one result, one log line, one summary entry each.
        log = os.path.join(self.dir, "retry.log")
        user = ()
        if os.geteuid() == 0:  # root opens any node: the station runs as nobody
            user = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")
            os.chmod(self.dir, 0o777)
            os.chmod(self.image, 0o644)
        sims = {}
        for n in (1, 2, 3):
            sims[n] = self.plug("ttyUSB%d" % n, "P%d" % n, "1-4.%d" % n)
            os.chmod(sims[n].device, 0)
        st = Station(self.root, self.image, log, user=user)
        for n in (1, 2, 3):
            st.wait_for(lambda e: e["event"] == "started" and e["serial"] == "P%d" % n and e["attempt"] == 2)
        os.chmod(sims[1].device, 0o666)
        self.assertEqual(st.wait_for(result_of("P1"))["result"], "success")
        unplug(self.root, "ttyUSB2", "1-4.2", between=0.1)
        self.assertEqual(st.wait_for(result_of("P2"))["cause"], "unplugged")
        st.proc.send_signal(signal.SIGTERM)
        rc, err = st.finish()
        self.assertEqual(rc, 1, err)
        for sim in sims.values():
            sim.proc.kill()
        expected = [("P1", "success"), ("P2", "failed"), ("P3", "failed")]
        results = [(e["serial"], e["result"]) for e in st.events if e["event"] == "result"]
        self.assertEqual(results, expected)
        summary = [e for e in st.events if e["event"] == "summary"][-1]
        self.assertEqual([r["result"] for r in summary["runs"]], [r for _, r in expected])
        lines = lines_of(log)
        self.assertEqual([(l["usb_serial"], l["result"]) for l in lines], expected)
        self.assertEqual([l["cause"] for l in lines],
                         [e["cause"] for e in st.events if e["event"] == "result"])
        self.assertIn("plugdev", lines[2]["cause"])

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

        # Said at the start in plain lines too, escaped. The handsets it leaves flashed are kept
        # in a file of its own: a link put at that name is replaced, never written through.
        runtime = os.path.join(self.dir, "runtime")
        os.makedirs(runtime)
        victim = os.path.join(self.dir, "victim")
        with open(victim, "w") as f:
            f.write("keep")
        kept = os.path.join(runtime, "brenvik-station-left-flashed")
        os.symlink(victim, kept)
        # And at the name of its temporary file, which ends in the station's process number.
        with open("/proc/sys/kernel/ns_last_pid") as f:
            last = int(f.read())
        pids = range(last + 1, last + 1000)
        for pid in pids:
            os.symlink(victim, "%s.%d" % (kept, pid))
        plain = subprocess.Popen([CLI, "station", "--usb-port", "1-2.*", "--usb-port", "3-\u00e9",
                                  "--serial", "S", self.image], stdout=subprocess.PIPE, text=True,
                                 env=dict(os.environ, SYSFS_PATH=os.path.join(self.dir, "none"),
                                          XDG_RUNTIME_DIR=runtime))
        self.assertEqual(plain.stdout.readline(), "filters: USB port 1-2.*, 3-\u00e9; serial S\n")
        deadline = time.monotonic() + 30
        while os.path.islink(kept) and time.monotonic() < deadline:
            time.sleep(0.05)
        plain.send_signal(signal.SIGINT)
        self.assertEqual(plain.wait(timeout=30), 0)
        self.assertIn(plain.pid, pids)
        self.assertFalse(os.path.islink(kept))
        with open(victim) as f:
            self.assertEqual(f.read(), "keep")

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
