#!/usr/bin/env python3
"""brenvik-cli station on a production line, measured in one run: how soon a plugged-in
handset gets its first byte, handsets per hour against plain flashes of the same handsets,
CPU while idle, and memory as a thousand handsets pass.

Handsets come and go in a sysfs tree of its own (SYSFS_PATH) whose ttys lead to ptys, as
the station tests do. Figures are min/median/max over rounds where there are rounds; the
throughput is held against `brenvik-cli flash --device X` x 8 of the same handsets in the
same round, never against a fixed figure.

  BRENVIK_STATION_PLUGS     plugs timed for the latency (20)
  BRENVIK_STATION_ROUNDS    throughput rounds (3)
  BRENVIK_STATION_CYCLES    flashes per handset and round in the station (3)
  BRENVIK_STATION_HANDSETS  handsets through the station for the memory figures (1000)
  BRENVIK_STATION_IDLE_S    seconds of idle CPU sampled (10)
Usage: python3 -m bench.station_bench [--json]
"""
import json
import os
import queue
import random
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tty

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
from bench.pty_bench import make_plain
from tests.cli.sysfs_tree import fake_tty, unplug

BUILD = os.path.join(ROOT, "build", "linux")
CLI = os.path.join(BUILD, "cli", "brenvik-cli")
SIM = os.path.join(BUILD, "handset", "handset-sim")
POLL_MS = 200  # the station's default
ACK = b"\x02" * 16  # the handset's upgrade acknowledgement: the PC speaks only after it
CLK_TCK = os.sysconf("SC_CLK_TCK")


def env_int(name, default):
    return int(os.environ.get(name, default))


def say(*args):
    print(*args, file=sys.stderr, flush=True)


class Tree:
    """A sysfs tree: a tty appears whole (its class link last) and goes again."""

    def __init__(self, root):
        self.root = root
        os.makedirs(os.path.join(root, "class/tty"), exist_ok=True)

    def plug(self, name, serial, port, devname):
        fake_tty(self.root, name, "ipaq", "049f:0003", serial, port, devname)
        return time.monotonic()  # the entry is complete from here on

    def unplug(self, name, port):
        unplug(self.root, name, port)

    def add_consoles(self, count):
        """Ttys no station flashes, as every machine has: each poll looks at them too."""
        for i in range(count):
            node = os.path.join(self.root, "devices/virtual/tty", "tty%d" % i)
            os.makedirs(node)
            with open(os.path.join(node, "uevent"), "w") as f:
                f.write("MAJOR=4\nMINOR=%d\nDEVNAME=tty%d\n" % (i, i))
            os.symlink(os.path.relpath(node, os.path.join(self.root, "class/tty")),
                       os.path.join(self.root, "class/tty", "tty%d" % i))


class Station:
    """brenvik-cli station --json on a tree; its events, each with the time it was read."""

    def __init__(self, tree, image, *args):
        self.proc = subprocess.Popen([CLI, "station", "--json", "--timeout", "5", *args, image],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                     env=dict(os.environ, SYSFS_PATH=tree.root))
        self.events = queue.Queue()
        self.stderr = []
        threading.Thread(target=self._read, daemon=True).start()
        threading.Thread(target=lambda: self.stderr.extend(self.proc.stderr), daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.events.put((time.monotonic(), json.loads(line)))
        self.events.put((time.monotonic(), None))

    def next(self, timeout):
        """The next event as (time, event); None when none came in time."""
        try:
            at, event = self.events.get(timeout=max(timeout, 0))
        except queue.Empty:
            return None
        if event is None:
            sys.exit("the station ended early:\n" + "".join(self.stderr))
        return at, event

    def wait_for(self, predicate, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            got = self.next(deadline - time.monotonic())
            if got is None:
                sys.exit("the station did not say what was awaited in %d s" % timeout)
            if predicate(got[1]):
                return got

    def cpu_seconds(self):
        with open("/proc/%d/stat" % self.proc.pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime

    def run_seconds(self):
        """CPU time of every thread to the nanosecond: ticks are too coarse for an idle figure."""
        total = 0
        for task in os.listdir("/proc/%d/task" % self.proc.pid):
            try:
                with open("/proc/%d/task/%s/schedstat" % (self.proc.pid, task)) as f:
                    total += int(f.read().split()[0])
            except OSError:
                pass  # a thread that ended meanwhile
        return total / 1e9

    def memory_kib(self):
        found = {}
        with open("/proc/%d/status" % self.proc.pid) as f:
            for line in f:
                key, _, value = line.partition(":")
                if key in ("VmRSS", "RssAnon", "Threads"):
                    found[key] = int(value.split()[0])
        return found

    def stop(self):
        # The first signal lets the running flashes finish; the bench has none left by now.
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def is_result(serial=None):
    return lambda e: e["event"] == "result" and "result" in e and (serial is None or e["serial"] == serial)


class Sims:
    """handset-sims that serve one download after another, each on its own pty."""

    def __init__(self, work, count, *args):
        self.procs, self.devices = [], []
        for i in range(count):
            path_file = os.path.join(work, "pty-%d-%d" % (i, time.monotonic_ns()))
            self.procs.append(subprocess.Popen(
                [SIM, "--path-file", path_file, "--sessions", "0", "--timeout", "30", "--linger", "1", *args],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            for _ in range(500):
                if os.path.exists(path_file) and os.path.getsize(path_file):
                    break
                time.sleep(0.01)
            self.devices.append(open(path_file).read().split()[0])

    def close(self):
        for p in self.procs:
            p.send_signal(signal.SIGTERM)
        for p in self.procs:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


def spread(values):
    return {"min": min(values), "median": statistics.median(values), "max": max(values), "n": len(values)}


def latency(work, image, plugs):
    """Seconds from a tty's sysfs entry being whole to the first byte the PC sends it."""
    tree = Tree(os.path.join(work, "sys-latency"))
    st = Station(tree, image)
    time.sleep(0.5)
    rng = random.Random(19)
    seconds = []
    for i in range(plugs):
        # Plugs land anywhere in the poll period, as a hand does.
        time.sleep(rng.uniform(0, POLL_MS / 1000 * 1.5))
        master, slave = os.openpty()
        tty.setraw(slave)
        os.write(master, ACK)
        name, port, serial = "ttyUSB%d" % (i % 4), "1-1.%d" % (i % 4), "L%d" % i
        plugged = tree.plug(name, serial, port, os.ttyname(slave)[len("/dev/"):])
        ready, _, _ = select.select([master], [], [], 10)
        arrived = time.monotonic()
        if not ready:
            sys.exit("plug %d: no byte reached the handset in 10 s" % i)
        seconds.append(arrived - plugged)
        # The handset goes at once: its run ends, failed, and the next plug starts afresh.
        tree.unplug(name, port)
        os.close(master)
        os.close(slave)
        st.wait_for(is_result(serial))
    st.stop()
    return seconds


def station_cycles(st, tree, sims, cycles, gap):
    """Each handset flashed `cycles` times, back `gap` s after it left; the seconds it took."""
    names = ["ttyUSB%d" % i for i in range(len(sims.devices))]
    ports = ["1-3.%d" % i for i in range(len(sims.devices))]
    serials = ["T%d" % i for i in range(len(sims.devices))]
    done = [0] * len(names)
    back_at = {}
    start = time.monotonic()
    for i, device in enumerate(sims.devices):
        tree.plug(names[i], serials[i], ports[i], device[len("/dev/"):])
    last = start
    while sum(done) < cycles * len(names):
        now = time.monotonic()
        for i, at in list(back_at.items()):
            if at <= now:
                del back_at[i]
                tree.plug(names[i], serials[i], ports[i], sims.devices[i][len("/dev/"):])
        wait = min(back_at.values(), default=now + 60) - now
        got = st.next(wait)
        if got is None:
            if not back_at:
                sys.exit("the station finished no flash for 60 s (done: %s)" % done)
            continue
        at, event = got
        if not is_result()(event) or event["serial"] not in serials:
            continue
        if event["result"] != "success":
            sys.exit("a station flash failed: %s" % event)
        i = serials.index(event["serial"])
        done[i] += 1
        last = at
        tree.unplug(names[i], ports[i])
        if done[i] < cycles:
            back_at[i] = time.monotonic() + gap
    return last - start


def flash_all(image, sims):
    args = [CLI, "flash", "--timeout", "5"]
    for device in sims.devices:
        args += ["--device", device]
    start = time.monotonic()
    out = subprocess.run(args + [image], capture_output=True, text=True)
    took = time.monotonic() - start
    if out.returncode != 0:
        sys.exit("flash --device x %d failed (%d):\n%s%s" % (len(sims.devices), out.returncode, out.stdout, out.stderr))
    return took


def throughput(work, rounds, cycles):
    # 128 KiB at 32 KiB/s: a flash of about four seconds, as a slow flash part takes it.
    image = os.path.join(work, "paced.dio")
    make_plain(image, 128 * 1024)
    handsets, gap = 8, 1.5 * POLL_MS / 1000  # back after more than a poll: else never seen gone
    sims = Sims(work, handsets, "--rate", "32")
    tree = Tree(os.path.join(work, "sys-throughput"))
    st = Station(tree, image)
    time.sleep(0.5)
    rows = []
    try:
        for r in range(rounds):
            took = station_cycles(st, tree, sims, cycles, gap)
            flash = flash_all(image, sims)
            flashes = handsets * cycles
            # The handsets' own absence between two flashes is no station's doing.
            present = took - (cycles - 1) * gap
            rows.append({"station_per_hour": flashes / took * 3600,
                         "station_per_hour_present": flashes / present * 3600,
                         "flash_per_hour": handsets / flash * 3600,
                         "ratio": (flashes / present) / (handsets / flash),
                         "ratio_wall": (flashes / took) / (handsets / flash)})
            say("  throughput round %d: station %.2f s for %d, flash %.2f s for %d" % (r + 1, took, flashes, flash, handsets))
    finally:
        st.stop()
        sims.close()
    return {key: spread([row[key] for row in rows]) for key in rows[0]}


def idle_cpu(work, image, seconds):
    tree = Tree(os.path.join(work, "sys-idle"))
    tree.add_consoles(64)
    st = Station(tree, image)
    time.sleep(1)
    before, ran, at = st.cpu_seconds(), st.run_seconds(), time.monotonic()
    time.sleep(seconds)
    used, ran, took = st.cpu_seconds() - before, st.run_seconds() - ran, time.monotonic() - at
    st.stop()
    return used / took * 100, ran / took * 100


def memory(work, handsets, parallel=4):
    """Memory after so many handsets, each new (its own serial), flashed and unplugged."""
    image = os.path.join(work, "tiny.dio")
    make_plain(image, 8 * 1024)
    sims = Sims(work, parallel)
    tree = Tree(os.path.join(work, "sys-memory"))
    st = Station(tree, image)
    time.sleep(0.5)
    marks = [m for m in (10, 100, 500, 1000) if m < handsets] + [handsets]
    samples, plugged, done = {}, 0, 0
    on = {}  # serial -> sim index
    try:
        for i in range(min(parallel, handsets)):
            on["M%d" % plugged] = i
            tree.plug("ttyUSB%d" % i, "M%d" % plugged, "1-4.%d" % i, sims.devices[i][len("/dev/"):])
            plugged += 1
        while done < handsets:
            _, event = st.wait_for(lambda e: is_result()(e) and e["serial"] in on, timeout=60)
            if event["result"] != "success":
                sys.exit("a station flash failed: %s" % event)
            i = on.pop(event["serial"])
            tree.unplug("ttyUSB%d" % i, "1-4.%d" % i)
            done += 1
            if done in marks:
                samples[done] = st.memory_kib()
                say("  memory after %d handsets: %s" % (done, samples[done]))
            if plugged < handsets:
                # The next handset on the same port and tty: the kernel reuses them.
                on["M%d" % plugged] = i
                tree.plug("ttyUSB%d" % i, "M%d" % plugged, "1-4.%d" % i, sims.devices[i][len("/dev/"):])
                plugged += 1
    finally:
        st.stop()
        sims.close()
    return samples


def main():
    as_json = "--json" in sys.argv[1:]
    plugs = env_int("BRENVIK_STATION_PLUGS", 20)
    rounds = env_int("BRENVIK_STATION_ROUNDS", 3)
    cycles = env_int("BRENVIK_STATION_CYCLES", 3)
    handsets = env_int("BRENVIK_STATION_HANDSETS", 1000)
    idle_s = env_int("BRENVIK_STATION_IDLE_S", 10)
    work = tempfile.mkdtemp(prefix="station-bench-")
    try:
        image = os.path.join(work, "fw.dio")
        make_plain(image, 64 * 1024)
        t = time.monotonic()
        say("latency: %d plugs" % plugs)
        lat = latency(work, image, plugs)
        say("idle CPU: %d s" % idle_s)
        cpu = idle_cpu(work, image, idle_s)
        say("throughput: %d rounds of 8 handsets x %d flashes" % (rounds, cycles))
        tput = throughput(work, rounds, cycles)
        say("memory: %d handsets" % handsets)
        mem = memory(work, handsets)
        results = {
            "latency_s": spread(lat),
            "idle_cpu_percent": cpu[0],
            "idle_cpu_percent_schedstat": cpu[1],
            "throughput": tput,
            "memory_KiB": {str(k): v for k, v in mem.items()},
            "settings": {"poll_ms": POLL_MS, "plugs": plugs, "rounds": rounds, "cycles": cycles,
                         "handsets": handsets, "idle_s": idle_s},
            "seconds": time.monotonic() - t,
        }
    finally:
        shutil.rmtree(work, ignore_errors=True)

    if as_json:
        print(json.dumps(results))
        return

    def triple(d, f="{:.3f}"):
        return "/".join(f.format(d[k]) for k in ("min", "median", "max"))

    l, tp = results["latency_s"], results["throughput"]
    print("station, --poll-ms %d; figures are min/median/max" % POLL_MS)
    print("latency, sysfs entry to first byte at the handset (%d plugs): %s s (goal: median and max under 0.3 s)"
          % (l["n"], triple(l)))
    print("idle CPU: %.2f %% of one core over %d s by utime+stime, %.3f %% by schedstat (goal: under 1 %%)"
          % (cpu[0], idle_s, cpu[1]))
    print("throughput (8 paced handsets, %d rounds): station %s /h (%s /h while plugged in), flash x 8 %s /h"
          % (rounds, triple(tp["station_per_hour"], "{:.0f}"), triple(tp["station_per_hour_present"], "{:.0f}"),
             triple(tp["flash_per_hour"], "{:.0f}")))
    print("  ratio station/flash: %s while plugged in (goal: at least 0.95); %s counting the time unplugged"
          % (triple(tp["ratio"]), triple(tp["ratio_wall"])))
    print("memory (KiB) after N handsets:")
    for n, m in mem.items():
        print("  %5d: RSS %d, anonymous %d, threads %d" % (n, m["VmRSS"], m["RssAnon"], m["Threads"]))
    print("took %.0f s" % results["seconds"])


if __name__ == "__main__":
    main()
