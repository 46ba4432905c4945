"""The station on real hot-plug: arrivals over time on separate buses, an unplug mid-flash,
a move to another bus, a freed ttyUSBn given to the next handset, port and serial filters
on the kernel's own port paths, and one SIGTERM during flashes."""
import json
import os
import queue
import signal
import subprocess
import threading
import time


def arrive(rig, station, serial, *sim_args):
    """A handset plugged in while the station runs; handset-sim speaks once the station has
    taken it. Its tty is the one the station started on: the flasher holds the handset over
    USB at once, and the tty is gone before a poll here could be sure to see it."""
    handset = rig.plug(serial=serial)
    handset.first_tty = station.wait("started", usb_port=handset.port)["device"]
    time.sleep(0.3)
    return handset.serve(*sim_args)


class Station:
    """brenvik-cli station --json, its events read as they come."""

    def __init__(self, rig, image, log, *args, env=None):
        self.proc = subprocess.Popen([rig.cli_path, "station", image, "--json", "--log", log, "--poll-ms", "100",
                                      *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env)
        self.events, self.seen = queue.Queue(), []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.events.put(json.loads(line))

    def wait(self, event, timeout=60, **fields):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                e = self.events.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                break
            self.seen.append(e)
            if e.get("event") == event and all(e.get(k) == v for k, v in fields.items()):
                return e
        raise AssertionError("no %s event %s in %d s; seen: %s" % (event, fields, timeout, self.seen[-8:]))

    def stop(self, timeout=120):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=timeout)
        while not self.events.empty():
            self.seen.append(self.events.get())
        return self.proc.returncode


def log_lines(path):
    with open(path) as f:
        return [json.loads(line) for line in f]


def run(rig):
    image = "/tmp/station.img"
    rig.image(image, records=8)
    log = "/tmp/station.log"
    station = Station(rig, image, log)

    # Arrivals over time, each on its own bus.
    first = arrive(rig, station, "57A71001", "--expect", image)
    first_tty = first.first_tty
    r = station.wait("result", usb_port=first.port)
    assert (r["result"], r["device"], r["serial"]) == ("success", first_tty, "57A71001"), r
    second = arrive(rig, station, "57A71002", "--expect", image)
    assert station.wait("result", usb_port=second.port)["result"] == "success"
    assert first.summary()["matches_expected"] and second.summary()["matches_expected"]

    # Unplugged mid-flash: a failed run, logged once.
    slow = arrive(rig, station, "57A71003", "--rate", "16")
    time.sleep(2)
    slow.unplug()
    r = station.wait("result", usb_port=slow.port)
    assert r["result"] == "failed", r

    # The first handset leaves; the next one gets its freed ttyUSBn and is a new handset.
    first.unplug()
    first.gone()
    station.wait("left", usb_port=first.port)
    third = arrive(rig, station, "57A71004", "--expect", image)
    assert third.first_tty == first_tty, (third.first_tty, first_tty)
    r = station.wait("result", usb_port=third.port)
    assert (r["result"], r["serial"], r["device"]) == ("success", "57A71004", first_tty), r

    # Moved to another bus: the same serial on a new port is flashed again there.
    second.unplug()
    moved = arrive(rig, station, "57A71002", "--expect", image)
    r = station.wait("result", usb_port=moved.port)
    assert (r["result"], r["serial"]) == ("success", "57A71002"), r

    # One SIGTERM while two handsets flash: both finish.
    slow_ones = [arrive(rig, station, "57A7200%d" % i, "--expect", image, "--rate", "48") for i in range(2)]
    code = station.stop()
    results = [e for e in station.seen if e.get("event") == "result"]
    for h in slow_ones:
        assert [e["result"] for e in results if e["usb_port"] == h.port] == ["success"], results
        assert h.summary()["matches_expected"]
    assert code == 1, code  # the unplugged run failed
    # One log line per run, whatever ended it. A handset half gone on unplug (its serial
    # already removed, its tty not yet) can still be read as a new one without a serial;
    # that is left out here and proven on its own.
    lines = [line for line in log_lines(log) if line.get("usb_serial")]
    results = [e for e in results if e.get("serial")]
    assert len(lines) == len(results) == 7, (len(lines), len(results), lines, results)
    rig.unplug_all()

    # --usb-port and --serial on the kernel's own port paths: only the handset that matches both.
    handsets = [rig.plug(serial=s) for s in ("AB01", "AB02", "CD03")]
    for h in handsets:
        h.tty()
        h.serve("--expect", image)
    log2 = "/tmp/station-filters.log"
    station = Station(rig, image, log2, "--usb-port", handsets[1].port, "--usb-port", handsets[2].port,
                      "--serial", "AB")
    r = station.wait("result")
    assert (r["usb_port"], r["result"]) == (handsets[1].port, "success"), r
    time.sleep(2)
    assert station.stop() == 0
    assert [e["usb_port"] for e in station.seen if e.get("event") == "started"] == [handsets[1].port], station.seen
    assert len(log_lines(log2)) == 1
