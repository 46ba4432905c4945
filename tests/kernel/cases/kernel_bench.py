"""bench/kernel_bench.py's figures, measured in the guest: a flash through the ipaq tty into
handset-sim against a plain copy of the same bytes through the same gadget pair, and the
station's plug-to-run on real hot-plug."""
import os
import select
import statistics
import subprocess
import termios
import time
import tty as ttymode

from station_hotplug import Station


def read_bytes(path, count, first=None, timeout=60):
    """Reads count bytes from a gadget tty; returns when the first one came."""
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY)
    try:
        ttymode.setraw(fd)
        got, first_at, deadline = 0, None, time.monotonic() + timeout
        while got < count and time.monotonic() < deadline:
            if select.select([fd], [], [], 0.5)[0]:
                data = os.read(fd, 65536)
                if data and first_at is None:
                    first_at = time.monotonic()
                    if first:
                        return first_at
                got += len(data)
        return first_at
    finally:
        os.close(fd)


def run(rig):
    image = "/tmp/bench.img"
    rig.image(image, records=16)
    size = os.path.getsize(image)
    handset = rig.plug(serial="BE4C0001")
    tty = handset.tty()
    ratios = []
    for _ in range(5):
        handset.serve("--expect", image)
        started = time.monotonic()
        r = rig.cli("flash", image, "--device", tty)
        flash = time.monotonic() - started
        assert r.returncode == 0 and handset.summary()["matches_expected"], r.stdout
        reader = subprocess.Popen(["python3", "-c", "import sys; sys.path.insert(0, %r); import kernel_bench; "
                                   "kernel_bench.read_bytes(%r, %d)" % (os.path.dirname(__file__), handset.gadget_tty, size)])
        time.sleep(0.5)
        started = time.monotonic()
        with open(tty, "wb") as f:
            f.write(open(image, "rb").read())
            termios.tcdrain(f.fileno())
        try:
            reader.wait(timeout=30)
        except subprocess.TimeoutExpired:
            reader.kill()
            rig.figure("bench_plain_copy", "the gadget's end did not get all %d bytes in 30 s" % size)
            break
        copy = time.monotonic() - started
        ratios.append(flash / copy)
    if ratios:
        rig.figure("bench_flash_over_copy_median_of_5", round(statistics.median(ratios), 2))
    rig.figure("bench_flash_seconds_%d_bytes" % size, round(flash, 2))
    rig.unplug_all()

    # Plug to the station's run: UDC bound, to the station's "started" event (its port open;
    # the PC waits there for the handset's first words, so no byte of its own comes sooner).
    station = Station(rig, image, "/tmp/bench-station.log", "--timeout", "2")
    delays = []
    for i in range(10):
        bound = time.monotonic()  # the gadget is made and bound at once
        handset = rig.plug(serial="BE4C1%03d" % i)
        station.wait("started", usb_port=handset.port, serial=handset.serial)
        delays.append(time.monotonic() - bound)
        station.wait("result", usb_port=handset.port, serial=handset.serial)
        rig.unplug_all()
        station.wait("left", usb_port=handset.port, serial=handset.serial)
    station.stop()
    rig.figure("bench_plug_to_started_median_s", round(statistics.median(delays), 2))
    rig.figure("bench_plug_to_started_max_s", round(max(delays), 2))
