"""The station on a real unplug, where the kernel takes a handset's serial away before its
tty: eight handsets pulled within a quarter of a second, one pulled and plugged in again and
again, one pulled mid-flash. Each leaves once and none comes back as a handset without a
serial; the unplug is the cause in the result and in the log line alike."""
import time

from tests.kernel.cases.station_hotplug import Station, arrive, log_lines


def collect(station, kind, count, timeout=120):
    """Waits until `count` events of `kind` have been seen in all, whatever their order."""
    deadline = time.monotonic() + timeout
    while sum(1 for e in station.seen if e.get("event") == kind) < count:
        station.wait(kind, timeout=max(1, deadline - time.monotonic()))


def run(rig):
    image = "/tmp/station-unplug.img"
    rig.image(image, records=8)
    log = "/tmp/station-unplug.log"
    station = Station(rig, image, log)

    # Eight flashed, then all pulled at once.
    handsets = [arrive(rig, station, "5E7A%04d" % i, "--expect", image) for i in range(8)]
    collect(station, "result", 8)
    for h in handsets:
        assert h.summary()["matches_expected"]
    start = time.monotonic()
    for h in handsets:
        h.unplug()
    rig.figure("station_unplug: 8 handsets pulled in s", round(time.monotonic() - start, 3))
    for h in handsets:
        h.gone()
    collect(station, "left", 8)
    time.sleep(1)  # polls after the pull: none may see a new handset
    rig.unplug_all()

    # One handset, pulled and plugged in again ten times: flashed once each time.
    again = rig.plug(serial="5E7A0200")
    for cycle in range(10):
        if cycle:
            again.plug()
        station.wait("started", usb_port=again.port)
        time.sleep(0.3)
        again.serve("--expect", image)
        collect(station, "result", 9 + cycle)
        assert again.summary()["matches_expected"]
        again.unplug()
        again.gone()
        collect(station, "left", 9 + cycle)

    # Pulled mid-flash: unplugged, in the result and in the log line.
    slow = arrive(rig, station, "5E7A0300", "--rate", "16")
    time.sleep(2)
    slow.unplug()
    r = station.wait("result", usb_port=slow.port)
    assert (r["result"], r["cause"]) == ("failed", "unplugged"), r

    assert station.stop() == 1  # the one pulled mid-flash failed
    for kind in ("arrived", "started", "result", "left"):
        seen = [e for e in station.seen if e.get("event") == kind]
        assert len(seen) == 19, (kind, len(seen), seen)
        assert all(e["serial"] for e in seen), (kind, seen)  # no handset without a serial
    results = [e for e in station.seen if e.get("event") == "result"]
    lines = log_lines(log)
    assert [(l["usb_serial"], l["result"], l["cause"]) for l in lines] == \
        [(e["serial"], e["result"], e["cause"]) for e in results], (lines, results)
    rig.unplug_all()
