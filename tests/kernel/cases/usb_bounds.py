"""The USB path's bounds: a handset that refuses the line state ends within --timeout and at
a signal as a stop; no usbfs warning for the interface the request goes to; a restarted
station leaves alone the handsets it left flashed; handset-sim --tty on a gadget plugged in
after it started; brenvik-cli ends soon after its verdict when the handset stops reading."""
import json
import os
import signal
import subprocess
import time

from tests.kernel.cases.station_hotplug import Station as StationProcess, log_lines

_stations = []


def Station(*args, **kw):
    """A station this case ends itself should a part fail while it runs."""
    _stations.append(StationProcess(*args, **kw))
    return _stations[-1]


def unclaimed_warnings():
    out = subprocess.run(["dmesg"], capture_output=True, text=True).stdout
    return out.count("did not claim interface")


def timed_flash(rig, image, tty, log, *args, sig=None, after=2.0):
    """brenvik-cli flash, with a signal `after` seconds in; its result and seconds."""
    started = time.monotonic()
    proc = subprocess.Popen([rig.cli_path, "flash", image, "--device", tty, "--log", log, *args],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if sig:
        time.sleep(after)
        proc.send_signal(sig)
    out, err = proc.communicate(timeout=150)
    return proc.returncode, out + err, time.monotonic() - started


def refusing_timeout(rig, image, refusing):
    """--timeout bounds the wake-up of a handset that refuses it: ipaq's 100 tries take 100 s."""
    code, text, seconds = timed_flash(rig, image, refusing.tty(raw=False), "/tmp/bounds-timeout.log", "--timeout", "3")
    assert code == 3 and seconds < 30, (code, seconds, text)


def refusing_signals(rig, image, refusing):
    """A signal ends the wake-up as a stop: 128 + signal, "stopped" in the log, soon; and a
    station given two SIGTERMs meanwhile ends soon."""
    log = "/tmp/bounds-signals.log"
    for sig in (signal.SIGTERM, signal.SIGINT):
        code, text, seconds = timed_flash(rig, image, refusing.tty(raw=False), log, sig=sig)
        assert code == 128 + sig and seconds < 30, (sig, code, seconds, text)
    results = [line["result"] for line in log_lines(log)]
    assert results == ["stopped", "stopped"], results
    refusing.tty(raw=False)
    station = Station(rig, image, "/tmp/bounds-station-refusing.log")
    station.wait("started", usb_port=refusing.port)
    time.sleep(1)
    station.proc.send_signal(signal.SIGTERM)
    time.sleep(0.5)
    started = time.monotonic()
    code = station.stop(timeout=150)
    assert code == 128 + signal.SIGTERM and time.monotonic() - started < 30, (code, station.seen[-4:])


def each(station, event, handsets):
    """The event for every one of the handsets, in whatever order they come."""
    got = {}
    while len(got) < len(handsets):
        e = station.wait(event)
        got[e["usb_port"]] = e
    return [got[h.port] for h in handsets]


def restarted_station(rig, image):
    """Stopped after its flashes and started again, the station flashes none of them again;
    one plugged in anew is flashed."""
    os.makedirs("/tmp/bounds-runtime", mode=0o700, exist_ok=True)
    env = dict(os.environ, XDG_RUNTIME_DIR="/tmp/bounds-runtime")
    handsets = [rig.plug(serial="5E7F01%02d" % i) for i in range(2)]
    for h in handsets:
        h.tty()
        h.serve("--expect", image)
    log = "/tmp/bounds-restart.log"
    station = Station(rig, image, log, env=env)
    assert [e["result"] for e in each(station, "result", handsets)] == ["success", "success"]
    assert station.stop() == 0
    assert len(log_lines(log)) == 2

    station = Station(rig, image, log, env=env)
    each(station, "arrived", handsets)
    time.sleep(3)  # thirty looks at the bus
    assert not [e for e in station.seen + list(station.events.queue) if e.get("event") == "started"], station.seen
    # Plugged in anew: a new device number, a fresh driver, flashed again.
    again = handsets[0]
    again.unplug()
    station.wait("left", usb_port=again.port)
    again.plug()
    first_tty = station.wait("started", usb_port=again.port)["device"]
    time.sleep(0.3)
    again.serve("--expect", image)
    assert station.wait("result", usb_port=again.port)["result"] == "success", first_tty
    assert station.stop() == 0
    assert len(log_lines(log)) == 3


def tty_before_plug(rig, image):
    """handset-sim --tty on a gadget made outside it, plugged in after it started: the host's
    resets hang its tty up before the PC speaks, which is no dropped link."""
    board = rig.plug(serial="5E7F0201", plug=False)
    board.serve("--expect", image)
    time.sleep(0.5)
    board.plug()
    code, text, _ = timed_flash(rig, image, board.tty(raw=False), "/tmp/bounds-board.log", "--timeout", "20")
    summary = board.summary()
    assert code == 0 and summary["matches_expected"], (code, text, summary)


def verdict_then_end(rig, image):
    """The handset stops reading mid-flash: the verdict comes after --timeout, the end soon after."""
    handset = rig.plug(serial="5E7F0202")
    tty = handset.tty()
    handset.serve("--expect", image, "--rate", "16")
    proc = subprocess.Popen([rig.cli_path, "flash", image, "--device", tty, "--timeout", "10"],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    time.sleep(3)
    handset.sim.kill()
    handset.sim.wait()
    told = None
    for line in proc.stdout:
        if "Update Fail!" in line:
            told = time.monotonic()
    proc.wait(timeout=120)
    assert told and proc.returncode == 1, proc.returncode
    assert time.monotonic() - told < 8, time.monotonic() - told  # a whole --timeout again before


def claimed(rig, image):
    """The line state's interface claimed: no usbfs warning for it."""
    before = unclaimed_warnings()
    handset = rig.plug(serial="5E7F0301")
    tty = handset.tty()
    handset.serve("--expect", image)
    code, text, _ = timed_flash(rig, image, tty, "/tmp/bounds-claim.log")
    assert code == 0 and handset.summary()["matches_expected"], (code, text)
    assert unclaimed_warnings() == before, subprocess.run(["dmesg"], capture_output=True, text=True).stdout[-2000:]


def run(rig):
    image = "/tmp/bounds.img"
    rig.image(image, records=8)
    # Each part on its own: a failure names every part that failed, not only the first.
    failures = []

    def part(check, *args):
        try:
            check(rig, image, *args)
        except Exception as e:  # noqa: BLE001 (told below, with the part's name)
            failures.append("%s: %r" % (check.__name__, e))
        finally:
            for station in _stations:
                if station.proc.poll() is None:
                    station.proc.kill()
                    station.proc.wait()
            rig.unplug_all()

    part(claimed)
    refusing = rig.plug(serial="5E7F0001", function="gser")
    part(refusing_timeout, refusing)
    refusing = rig.plug(serial="5E7F0002", function="gser")
    part(refusing_signals, refusing)
    part(restarted_station)
    part(tty_before_plug)
    part(verdict_then_end)
    assert not failures, "\n".join(failures)
