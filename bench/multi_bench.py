#!/usr/bin/env python3
"""Many handsets flashed at once by one brenvik-cli: wall time, aggregate speed, memory.

For each N (1, 2, 4, 8 by default) N handset-sims are started, each on its own pty, and one
brenvik-cli flashes the same img into all of them (--device N times). Measured, both paced
like a slow flash part (handset-sim --rate) and at full speed:

- the wall time of the one brenvik-cli process, from its start to its exit;
- the aggregate speed, N x image bytes / wall time, and its ratio to N x the speed of one
  handset alone in the same round (1.0: the handsets cost each other nothing);
- the peak memory of brenvik-cli (ru_maxrss from wait4) and, sampled every 25 ms, its
  anonymous (private) part; and its growth per added handset;
- where the time goes: CPU seconds of brenvik-cli and of the handset-sims, and how busy the
  whole machine was while the flash ran.

A run counts only when brenvik-cli exits 0 with a success for every handset and every
handset-sim exits 0 with a complete download that matches the image (--expect); anything
else stops the benchmark. Every figure is minimum, median and maximum over the rounds; the
N are interleaved within a round so that all see the same machine.

    python3 -m bench.multi_bench                        # 32 MiB, 5 rounds, N = 1 2 4 8
    python3 -m bench.multi_bench --size-mib 1 --reps 1  # smoke run
"""
import argparse
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "linux")
MIB = 1 << 20
BOOT_AREA = 0x20000
RECORD_HEADER = 12
# A sim that gets no path onto its file this long after it started is broken, not slow.
SIM_START_SECONDS = 10.0


class RunFailed(Exception):
    pass


def wait_for_binary(path, seconds=120):
    """The build directory is rebuilt by others now and then: give a missing binary a while."""
    deadline = time.monotonic() + seconds
    while not os.access(path, os.X_OK):
        if time.monotonic() > deadline:
            sys.exit(f"{path} is missing (build the linux preset first)")
        time.sleep(2)


def make_image(path, size, record_size):
    """An img of about `size` bytes: the boot area, then records of `record_size` bytes."""
    records = max(1, (size - BOOT_AREA) // (record_size + RECORD_HEADER))
    stamp = path + ".made"
    wanted = f"{records} {record_size}"
    if os.path.exists(path) and os.path.exists(stamp) and open(stamp).read() == wanted:
        return
    subprocess.run([sys.executable, os.path.join(ROOT, "scripts", "make-sample-image.py"), path,
                    "--records", str(records), "--record-size", str(record_size)], check=True)
    with open(stamp, "w") as f:
        f.write(wanted)


def cpu_jiffies():
    """(busy, total) jiffies of the whole machine, from the first line of /proc/stat."""
    with open("/proc/stat") as f:
        fields = [int(v) for v in f.readline().split()[1:]]
    idle = fields[3] + fields[4]  # idle + iowait
    return sum(fields) - idle, sum(fields)


class MemorySampler(threading.Thread):
    """Peak RssAnon of a process: what it allocates, without the mapped image's pages."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.peak_anon_kib, self.stop = pid, 0, threading.Event()

    def run(self):
        while not self.stop.is_set():
            try:
                with open(f"/proc/{self.pid}/status") as f:
                    for line in f:
                        if line.startswith("RssAnon:"):
                            self.peak_anon_kib = max(self.peak_anon_kib, int(line.split()[1]))
            except OSError:
                return
            self.stop.wait(0.025)


def kill_all(procs):
    for p in procs:
        if p.poll() is None:
            p.kill()


def flash_many(a, image, n, rate, work):
    """One brenvik-cli flashing `image` into n handset-sims at once; the figures of that run."""
    sims, devices, outs = [], [], []
    for i in range(n):
        path_file = os.path.join(work, f"pty-{i}")
        out = os.path.join(work, f"out-{i}")
        for stale in (path_file, out):
            if os.path.isdir(stale):
                shutil.rmtree(stale)
            elif os.path.exists(stale):
                os.unlink(stale)
        outs.append(out)
        sims.append(subprocess.Popen(
            [a.sim, "--path-file", path_file, "--rate", str(rate), "--out", out, "--expect", image,
             "--timeout", str(a.timeout)],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE))
    try:
        deadline = time.monotonic() + SIM_START_SECONDS
        for i in range(n):
            path_file = os.path.join(work, f"pty-{i}")
            while not (os.path.exists(path_file) and os.path.getsize(path_file) > 0):
                if sims[i].poll() is not None or time.monotonic() > deadline:
                    raise RunFailed(f"handset-sim {i} gave no pty: {sims[i].stderr.read().decode()}")
                time.sleep(0.01)
            devices.append(open(path_file).read().split()[0])

        args = [a.cli, "flash", "--json", "--timeout", str(a.timeout)]
        for d in devices:
            args += ["--device", d]
        children_before = resource.getrusage(resource.RUSAGE_CHILDREN)
        busy0, total0 = cpu_jiffies()
        start = time.monotonic()
        cli = subprocess.Popen(args + [image], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        # The flasher bounds every device wait itself; this only keeps a broken build from
        # hanging the benchmark.
        watchdog = threading.Timer(a.timeout * 4 + 60, cli.kill)
        watchdog.start()
        sampler = MemorySampler(cli.pid)
        sampler.start()
        output = cli.stdout.read()
        _, status, usage = os.wait4(cli.pid, 0)
        seconds = time.monotonic() - start
        busy1, total1 = cpu_jiffies()
        watchdog.cancel()
        sampler.stop.set()
        sampler.join()
        cli.returncode = os.waitstatus_to_exitcode(status)
        cli.stdout.close()

        complaints = []
        for i, sim in enumerate(sims):
            try:
                said = sim.communicate(timeout=a.timeout + 10)[1].decode(errors="replace")
            except subprocess.TimeoutExpired:
                sim.kill()
                said = sim.communicate()[1].decode(errors="replace") + "\n(did not end)"
            if sim.returncode != 0:
                complaints.append(f"handset-sim on {devices[i]} exited {sim.returncode}: {said.strip()}")
        children_after = resource.getrusage(resource.RUSAGE_CHILDREN)
        busy2, _ = cpu_jiffies()  # the sims' CPU is counted until they end: so is the machine's
    finally:
        kill_all(sims)

    text = output.decode(errors="replace")
    check_cli(text, cli.returncode, devices, complaints)
    for i, out in enumerate(outs):
        check_sim(os.path.join(out, "summary.json"), devices[i], complaints)
    if complaints:
        raise RunFailed("\n".join(complaints) + "\n--- brenvik-cli said (last lines):\n"
                        + "\n".join(text.splitlines()[-12:]))
    for out in outs:
        shutil.rmtree(out, ignore_errors=True)

    cli_cpu = usage.ru_utime + usage.ru_stime
    children_cpu = (children_after.ru_utime + children_after.ru_stime
                    - children_before.ru_utime - children_before.ru_stime)
    return {
        "seconds": seconds,
        "maxrss_kib": usage.ru_maxrss,
        "peak_anon_kib": sampler.peak_anon_kib,
        "cli_cpu_s": cli_cpu,
        "cli_sys_s": usage.ru_stime,
        "sims_cpu_s": children_cpu - cli_cpu,
        # Kernel workers (a pty hands its bytes on in a workqueue) and anyone else's load.
        "unattributed_cpu_s": (busy2 - busy0) / os.sysconf("SC_CLK_TCK") - children_cpu,
        "cli_switches": usage.ru_nvcsw + usage.ru_nivcsw,
        "machine_busy": (busy1 - busy0) / max(1, total1 - total0),
    }


def check_cli(text, code, devices, complaints):
    if code != 0:
        complaints.append(f"brenvik-cli exited {code}")
    events = []
    for line in text.splitlines():
        try:
            events.append(json.loads(line))
        except ValueError:
            complaints.append(f"brenvik-cli printed a line that is not JSON: {line[:200]}")
    results = [e for e in events if e.get("event") == "result"]
    if len(results) != len(devices) or not all(e.get("ok") is True for e in results):
        complaints.append(f"brenvik-cli told {sum(e.get('ok') is True for e in results)} successes "
                          f"for {len(devices)} handsets")
    if len(devices) > 1:
        summaries = [e for e in events if e.get("event") == "summary"]
        runs = summaries[-1]["runs"] if summaries else []
        if sorted(r.get("device") for r in runs) != sorted(devices) or \
                any(r.get("result") != "success" for r in runs):
            complaints.append(f"brenvik-cli's summary does not show every handset succeeding: {runs}")


def check_sim(summary_path, device, complaints):
    try:
        with open(summary_path) as f:
            s = json.load(f)
    except (OSError, ValueError) as e:
        complaints.append(f"no summary from the handset-sim on {device}: {e}")
        return
    if not (s.get("complete") and s.get("matches_expected") and not s.get("protocol_errors")):
        complaints.append(f"the handset-sim on {device} did not receive the image whole: "
                          f"complete={s.get('complete')} matches={s.get('matches_expected')} "
                          f"errors={s.get('protocol_errors')}")


def spread(values):
    return {"min": min(values), "median": statistics.median(values), "max": max(values)}


def slope(xs, ys):
    """Least-squares growth of ys per unit of xs."""
    mx, my = statistics.mean(xs), statistics.mean(ys)
    den = sum((x - mx) ** 2 for x in xs)
    return sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / den if den else 0.0


def triple(d, fmt):
    return "/".join(fmt.format(d[k]) for k in ("min", "median", "max"))


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--size-mib", type=float, default=32, help="image size (default 32: about 4 s paced)")
    p.add_argument("--reps", type=int, default=5, help="rounds (default 5)")
    p.add_argument("--n", default="1,2,4,8", help="handset counts, comma-separated (default 1,2,4,8)")
    p.add_argument("--rate", type=float, default=8192, help="KiB/s of a paced handset (default 8192)")
    p.add_argument("--modes", default="paced,unpaced", help="paced, unpaced or both (default both)")
    p.add_argument("--record-size", type=int, default=16384, help="bytes per BIN record (default 16384)")
    p.add_argument("--timeout", type=float, default=30, help="seconds each device wait may take (default 30)")
    p.add_argument("--cli", default=os.path.join(BUILD, "cli", "brenvik-cli"))
    p.add_argument("--sim", default=os.path.join(BUILD, "handset", "handset-sim"))
    p.add_argument("--work", help="directory for the image and what the sims receive "
                                  "(default: a fresh one in /dev/shm, removed at the end)")
    p.add_argument("--json-out", help="also write every figure here")
    a = p.parse_args()

    try:
        counts = sorted({int(v) for v in a.n.split(",") if v.strip()})
        modes = [m.strip() for m in a.modes.split(",") if m.strip()]
    except ValueError:
        p.error("--n takes whole numbers, e.g. 1,2,4,8")
    if not counts or counts[0] < 1 or any(m not in ("paced", "unpaced") for m in modes) or not modes:
        p.error("--n needs counts of at least 1; --modes takes paced and/or unpaced")
    if a.reps < 1 or a.size_mib <= 0:
        p.error("--reps and --size-mib must be positive")
    if 1 not in counts:
        counts.insert(0, 1)  # the single handset every ratio is held against
    for binary in (a.cli, a.sim):
        wait_for_binary(binary)

    own_work = a.work is None
    work = a.work or tempfile.mkdtemp(prefix="brenvik-multi-",
                                      dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    os.makedirs(work, exist_ok=True)
    try:
        image = os.path.join(work, "multi.img")
        make_image(image, int(a.size_mib * MIB), a.record_size)
        size = os.path.getsize(image)
        results = {"image_bytes": size, "rounds": a.reps, "rate_kib": a.rate, "modes": {}}
        for mode in modes:
            rate = a.rate if mode == "paced" else 0
            runs = {n: [] for n in counts}
            for rep in range(a.reps):
                for n in counts:
                    try:
                        runs[n].append(flash_many(a, image, n, rate, work))
                    except RunFailed as e:
                        sys.exit(f"{mode}, {n} handset{'s' if n != 1 else ''}, round {rep + 1}: the flash failed, "
                                 f"so nothing is measured:\n{e}")
            results["modes"][mode] = summarise(runs, size)
        report(results, counts)
        if a.json_out:
            with open(a.json_out, "w") as f:
                json.dump(results, f, indent=2)
    finally:
        if own_work:
            shutil.rmtree(work, ignore_errors=True)


def summarise(runs, size):
    single = [size / 1024 / r["seconds"] for r in runs[1]]  # KiB/s of one handset, per round
    out = {}
    for n, rs in runs.items():
        aggregate = [n * size / 1024 / r["seconds"] for r in rs]
        out[n] = {
            "wall_s": spread([r["seconds"] for r in rs]),
            "aggregate_kib_s": spread(aggregate),
            "ratio_to_n_single": spread([agg / (n * one) for agg, one in zip(aggregate, single)]),
            "maxrss_kib": spread([r["maxrss_kib"] for r in rs]),
            "peak_anon_kib": spread([r["peak_anon_kib"] for r in rs]),
            "cli_cpu_s": spread([r["cli_cpu_s"] for r in rs]),
            "cli_sys_s": spread([r["cli_sys_s"] for r in rs]),
            "sims_cpu_s": spread([r["sims_cpu_s"] for r in rs]),
            "unattributed_cpu_s": spread([r["unattributed_cpu_s"] for r in rs]),
            "cli_cpu_us_per_kib": spread([r["cli_cpu_s"] * 1e6 / (n * size / 1024) for r in rs]),
            "machine_busy": spread([r["machine_busy"] for r in rs]),
        }
    counts = sorted(out)
    out["growth_per_handset_kib"] = {
        "maxrss": slope(counts, [out[n]["maxrss_kib"]["median"] for n in counts]),
        "peak_anon": slope(counts, [out[n]["peak_anon_kib"]["median"] for n in counts]),
    }
    return out


def report(results, counts):
    size = results["image_bytes"]
    print(f"image {size / MIB:.1f} MiB img, {results['rounds']} rounds; min/median/max over the rounds; "
          f"ratio: aggregate / (N x one handset alone in the same round)")
    for mode, r in results["modes"].items():
        label = f"paced at {results['rate_kib']:g} KiB/s" if mode == "paced" else "unpaced"
        print(f"\n{label}")
        print(f"{'N':>2}  {'wall s':>17}  {'aggregate KiB/s':>23}  {'ratio':>14}  {'maxrss MiB':>10}  "
              f"{'anon KiB':>8}  {'CPU s: cli (sys) + sims + other':>31}  {'busy':>5}")
        for n in counts:
            f = r[n]
            print(f"{n:>2}  {triple(f['wall_s'], '{:.2f}'):>17}  "
                  f"{triple(f['aggregate_kib_s'], '{:.0f}'):>23}  {triple(f['ratio_to_n_single'], '{:.2f}'):>14}  "
                  f"{f['maxrss_kib']['median'] / 1024:>10.1f}  {f['peak_anon_kib']['median']:>8.0f}  "
                  f"{f['cli_cpu_s']['median']:>9.2f} ({f['cli_sys_s']['median']:.2f}) + "
                  f"{f['sims_cpu_s']['median']:.2f} + {max(0.0, f['unattributed_cpu_s']['median']):<5.2f}  "
                  f"{f['machine_busy']['median'] * 100:>4.0f}%")
        g = r["growth_per_handset_kib"]
        # maxrss counts the mapped image once per handset: each run maps it on its own.
        print(f"growth per added handset: maxrss {g['maxrss'] / 1024:.1f} MiB "
              f"(image {size / MIB:.1f} MiB), anonymous {g['peak_anon']:.0f} KiB")


if __name__ == "__main__":
    main()
