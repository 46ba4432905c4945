"""bench/kernel_bench.py's figures, measured in the guest: a flash through the ipaq driver into
handset-sim against a plain copy of the same bytes through the same gadget pair, and the
station's plug to the PC's first byte at the gadget on real hot-plug."""
import os
import queue
import re
import select
import shutil
import statistics
import subprocess
import termios
import threading
import time
import tty as ttymode

from tests.kernel.cases.station_hotplug import Station


def plain_copy(host_tty, gadget_tty, data, timeout=60):
    """data written to the host's raw ttyUSB in a loop and read whole at the gadget's raw
    ttyGS, the reader started first; seconds from the first write to the last byte read."""
    reader_fd = os.open(gadget_tty, os.O_RDWR | os.O_NOCTTY)
    writer_fd = None
    try:
        ttymode.setraw(reader_fd)
        termios.tcflush(reader_fd, termios.TCIOFLUSH)
        got, done = bytearray(), []

        def read():
            deadline = time.monotonic() + timeout
            while len(got) < len(data) and time.monotonic() < deadline:
                if select.select([reader_fd], [], [], 0.5)[0]:
                    chunk = os.read(reader_fd, len(data) - len(got))
                    if not chunk:
                        break
                    got.extend(chunk)
            done.append(time.monotonic())
        reader = threading.Thread(target=read)
        reader.start()
        writer_fd = os.open(host_tty, os.O_RDWR | os.O_NOCTTY)
        ttymode.setraw(writer_fd)
        started, put = time.monotonic(), 0
        while put < len(data):
            put += os.write(writer_fd, data[put:put + 65536])
        termios.tcdrain(writer_fd)
        reader.join(timeout + 5)
        assert bytes(got) == data, "the gadget's end got %d of %d bytes, or others" % (len(got), len(data))
        return done[0] - started
    finally:
        for fd in (writer_fd, reader_fd):
            if fd is not None:
                os.close(fd)


class PlainStation(Station):
    """The station with its default options: plug detection as a bench meets it."""

    def __init__(self, rig, image, log):
        self.proc = subprocess.Popen([rig.cli_path, "station", image, "--json", "--log", log],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.events, self.seen = queue.Queue(), []
        threading.Thread(target=self._read, daemon=True).start()


# strace -f -ttt -y: "[PID ]SECONDS.MICROS CALL(FD<PATH>, ...) = RESULT"
TRACE_LINE = re.compile(r"^(?:\d+\s+)?(\d+\.\d+) (read|write)\(\d+<([^>]*)>.*\)\s+=\s+(-?\d+)")


def bind_to_first_byte(trace):
    """From handset-sim's write to its gadget's UDC file (the bind) to its first read that
    brought bytes from the PC on the gadget's tty, both as strace stamped them."""
    bound = None
    with open(trace) as f:
        for line in f:
            m = TRACE_LINE.match(line)
            if not m:
                continue
            stamp, call, path, result = float(m.group(1)), m.group(2), m.group(3), int(m.group(4))
            if call == "write" and path.endswith("/UDC") and result > 1 and bound is None:
                bound = stamp
            elif call == "read" and "/dev/ttyGS" in path and result > 0 and bound is not None:
                return stamp - bound
    raise AssertionError("no bind or no byte from the PC in " + trace)


def run(rig):
    image = "/tmp/bench.img"
    rig.image(image, records=64)  # 1 MiB: the flash's fixed cost not the most of it
    with open(image, "rb") as f:
        data = f.read()

    # The same bytes, flashed and copied, each round on a freshly plugged handset: a flash
    # takes the handset's interface from ipaq, and its tty comes back only on a new plug.
    copies, flashes = [], []
    for i in range(5):
        handset = rig.plug(serial="BE4C%04d" % i)
        tty = handset.tty()
        copies.append(plain_copy(tty, handset.gadget_tty, data))
        handset.serve("--expect", image)
        started = time.monotonic()
        r = rig.cli("flash", image, "--device", tty)
        flashes.append(time.monotonic() - started)
        assert r.returncode == 0 and handset.summary()["matches_expected"], (r.stdout, r.stderr)
        rig.unplug_all()
    rig.figure("bench_image_bytes", len(data))
    rig.figure("bench_flash_seconds", [round(f, 3) for f in flashes])
    rig.figure("bench_plain_copy_seconds", [round(c, 3) for c in copies])
    rig.figure("bench_flash_seconds_median", round(statistics.median(flashes), 3))
    rig.figure("bench_plain_copy_seconds_median", round(statistics.median(copies), 3))
    rig.figure("bench_flash_over_copy_median_of_5",
               round(statistics.median(f / c for f, c in zip(flashes, copies)), 2))

    # Plug to the PC's first byte: handset-sim --gadget writes its acknowledgement to the
    # gadget's tty before it binds, as a handset speaks as soon as it is plugged in; the
    # figure runs from its bind to its first read of bytes from the PC (strace's stamps).
    assert shutil.which("strace"), "the plug timings need strace (scripts/install-deps.sh all)"
    small = "/tmp/bench-plug.img"
    rig.image(small, records=2)
    station = PlainStation(rig, small, "/tmp/bench-station.log")
    udcs = rig.udcs()
    delays = []
    for i in range(10):
        serial, trace = "BE4C1%03d" % i, "/tmp/bench-plug-%d.trace" % i
        sim = subprocess.Popen(["strace", "-f", "--seccomp-bpf", "-ttt", "-y", "-s", "16", "-e", "trace=read,write",
                                "-o", trace, rig.sim_path, "--gadget", udcs[i % len(udcs)], "--serial", serial,
                                "--out", "/tmp/bench-plug-%d" % i, "--expect", small],
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        r = station.wait("result", serial=serial)
        assert r["result"] == "success", r
        sim.wait(timeout=30)
        station.wait("left", serial=serial)
        delays.append(bind_to_first_byte(trace))
    station.stop()
    rig.figure("bench_plug_to_first_pc_byte_s", [round(d, 3) for d in delays])
    rig.figure("bench_plug_to_first_pc_byte_median_s", round(statistics.median(delays), 3))
    rig.figure("bench_plug_to_first_pc_byte_max_s", round(max(delays), 3))
