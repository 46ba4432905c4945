#!/usr/bin/env python3
"""The records, measured in one run: rows per second for an import of a million log lines
into SQLite and into a local PostgreSQL (started here, on a Unix socket), the time of
`records find --serial` and `records summary --by hour` over those rows, and a station's
handsets per hour with --db against the same station without it, in the same rounds.

Times of find and summary are whole commands as a user runs them (start, connect, ask,
print), min/median/max of several, beside `brenvik-cli --version` in the same run: the
start of the process alone, which a loaded machine stretches.

  BRENVIK_RECORDS_LINES    log lines imported (1000000)
  BRENVIK_RECORDS_ASKS     runs of each question (7)
  BRENVIK_RECORDS_ROUNDS   station rounds, each with and without --db (3)
Usage: python3 -m bench.records_bench [--json]
"""
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import uuid

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
from tests.records.pg_server import PgServer
from bench.pty_bench import make_plain
from bench import station_bench
from bench.station_bench import Sims, Station, Tree, station_cycles

CLI = station_bench.CLI


def env_int(name, default):
    return int(os.environ.get(name, default))


def say(*args):
    print(*args, file=sys.stderr, flush=True)


def spread(values):
    return {"min": min(values), "median": statistics.median(values), "max": max(values), "n": len(values)}


def write_log(path, lines, seed=26, start=1796601600):
    """A shift's log of `lines` runs over 8 stations, 32 ports and a few images, from `start`
    (2026-12-07T00:00:00Z); another seed gives other run ids and serials."""
    rng = random.Random(seed)
    with open(path, "w") as f:
        for i in range(lines):
            t = start + i * 3  # a run every 3 s across the line: 35 days for a million
            ok = rng.random() > 0.03
            f.write(json.dumps({
                "average_rate": 29084832, "bytes_sent": 4333640, "cause": None if ok else "at block 7: no answer",
                "device": "/dev/ttyUSB%d" % (i % 4), "image": "/srv/fw/release-%d.img" % (i // 100000),
                "kind": 5, "result": "success" if ok else "failed", "run_id": str(uuid.UUID(int=rng.getrandbits(128), version=4)),
                "seconds": round(rng.uniform(8, 30), 3), "sha256": "%064x" % (i // 100000), "size": 4328475,
                "station": "st%d" % (i % 8), "time": time.strftime("%Y-%m-%dT%H:%M:%S", time.gmtime(t)) + ".000Z",
                "usb_port": "1-1.%d" % (i % 32), "usb_serial": "%08X" % (0x10000000 + i * 7919 % 0xEFFFFFFF)},
                sort_keys=True) + "\n")


def run(*args):
    start = time.monotonic()
    out = subprocess.run([CLI, *args], capture_output=True, text=True)
    took = time.monotonic() - start
    if out.returncode != 0:
        sys.exit("%s failed (%d): %s" % (" ".join(args[:2]), out.returncode, out.stderr[-2000:]))
    return took, out.stdout


def databases(work, lines, asks, pg):
    log = os.path.join(work, "shift.log")
    write_log(log, lines)
    other = os.path.join(work, "next-shift.log")
    write_log(other, lines, seed=27, start=1796601600 + lines * 3)
    serial = "%08X" % (0x10000000 + (lines // 2) * 7919 % 0xEFFFFFFF)
    figures = {}
    for kind, db in (("sqlite", "sqlite:" + os.path.join(work, "records.db")), ("postgresql", pg.new_database())):
        took, out = run("records", "import", "--db", db, "--json", log)
        counts = json.loads(out)
        if counts["new"] != lines:
            sys.exit("%s: %s" % (kind, counts))
        finds, summaries, starts = [], [], []
        for _ in range(asks):
            starts.append(run("--version")[0])  # the baseline: a process of brenvik-cli that asks nothing
            t, out = run("records", "find", "--db", db, "--serial", serial, "--json")
            if len(out.splitlines()) != 1:
                sys.exit("%s: find --serial %s found %d runs" % (kind, serial, len(out.splitlines())))
            finds.append(t)
        for _ in range(max(asks // 2, 1)):
            summaries.append(run("records", "summary", "--db", db, "--by", "hour")[0])
        again, _ = run("records", "import", "--db", db, log)  # nothing new: the idempotent path
        more, out = run("records", "import", "--db", db, "--json", other)  # as many again, into the full file
        if json.loads(out)["new"] != lines:
            sys.exit("%s: the second log: %s" % (kind, out))
        figures[kind] = {"import_rows_per_s": lines / took, "import_s": took, "reimport_rows_per_s": lines / again,
                         "import_into_full_rows_per_s": lines / more,
                         "find_serial_s": spread(finds), "summary_by_hour_s": spread(summaries),
                         "start_s": spread(starts),
                         "find_over_start_s": statistics.median(finds) - statistics.median(starts)}
        say("  %s: import %.1f s, find %.3f s, summary %.2f s" % (kind, took, statistics.median(finds),
                                                                 statistics.median(summaries)))
    return figures


def station_rates(work, rounds, pg):
    """Handsets per hour of a station writing into PostgreSQL against one that does not."""
    image = os.path.join(work, "paced.dio")
    make_plain(image, 128 * 1024)
    handsets, cycles, gap = 8, 3, 1.5 * station_bench.POLL_MS / 1000
    db = pg.new_database()
    sims = Sims(work, handsets, "--rate", "128")
    rates = {"plain": [], "db": []}
    try:
        for r in range(rounds):
            for kind in ("plain", "db") if r % 2 == 0 else ("db", "plain"):
                tree = Tree(os.path.join(work, "sys-%s-%d" % (kind, r)))
                log = os.path.join(work, "station-%s-%d.log" % (kind, r))
                st = Station(tree, image, "--log", log, *(["--db", db] if kind == "db" else []))
                time.sleep(0.5)
                took = station_cycles(st, tree, sims, cycles, gap)
                st.stop()
                rates[kind].append(handsets * cycles / (took - (cycles - 1) * gap) * 3600)
            say("  station round %d: %.0f/h plain, %.0f/h with --db" % (r + 1, rates["plain"][-1], rates["db"][-1]))
    finally:
        sims.close()
    ratios = [d / p for d, p in zip(rates["db"], rates["plain"])]
    _, out = run("records", "find", "--db", db, "--json")
    return {"plain_per_hour": spread(rates["plain"]), "db_per_hour": spread(rates["db"]), "ratio": spread(ratios),
            "rows_in_db": len(out.splitlines()), "runs": rounds * handsets * cycles}


def main():
    lines = env_int("BRENVIK_RECORDS_LINES", 1000000)
    asks = env_int("BRENVIK_RECORDS_ASKS", 7)
    rounds = env_int("BRENVIK_RECORDS_ROUNDS", 3)
    work = tempfile.mkdtemp(prefix="records-bench-")
    pg = PgServer()
    try:
        say("import of %d lines, then the questions" % lines)
        figures = {"lines": lines, "databases": databases(work, lines, asks, pg)}
        say("station with and without --db, %d rounds" % rounds)
        figures["station"] = station_rates(work, rounds, pg)
    finally:
        pg.close()
        shutil.rmtree(work, ignore_errors=True)
    if "--json" in sys.argv:
        print(json.dumps(figures, indent=1))
        return
    for kind, f in figures["databases"].items():
        print("%-10s import %8.0f rows/s (%5.1f s)  again %8.0f rows/s  as many more %8.0f rows/s  find --serial "
              "%.3f s (median of %d; %.3f s over a bare start)  summary --by hour %.2f s" % (
                  kind, f["import_rows_per_s"], f["import_s"], f["reimport_rows_per_s"],
                  f["import_into_full_rows_per_s"], f["find_serial_s"]["median"],
                  f["find_serial_s"]["n"], f["find_over_start_s"], f["summary_by_hour_s"]["median"]))
    s = figures["station"]
    print("station    %.0f handsets/h with --db, %.0f without: ratio %.3f (min %.3f); %d of %d runs in the database"
          % (s["db_per_hour"]["median"], s["plain_per_hour"]["median"], s["ratio"]["median"], s["ratio"]["min"],
             s["rows_in_db"], s["runs"]))


if __name__ == "__main__":
    main()
