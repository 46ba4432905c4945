#!/usr/bin/env python3
"""The line at a glance, measured in one run: a station's handsets per hour while its metrics
are scraped every second, against the same station unscraped in the same rounds; and the time
of `records report --html` over a million rows in SQLite, beside `records summary --by hour`
over the same rows.

  BRENVIK_METRICS_ROUNDS   station rounds, each scraped and not (5)
  BRENVIK_METRICS_CYCLES   flashes per handset and round (6)
  BRENVIK_RECORDS_LINES    rows the report is made over (1000000)
  BRENVIK_RECORDS_ASKS     runs of report and summary each (3)
Usage: python3 -m bench.metrics_bench [--json]
"""
import json
import os
import shutil
import socket
import statistics
import sys
import tempfile
import threading
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
from bench.pty_bench import make_plain
from bench import station_bench
from bench.station_bench import Sims, Station, Tree, spread, station_cycles
from bench.records_bench import run, write_log


def env_int(name, default):
    return int(os.environ.get(name, default))


def say(*args):
    print(*args, file=sys.stderr, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Scraper:
    """GET /metrics every second, as a line's Prometheus does, until stopped."""

    def __init__(self, port):
        self.port, self.scrapes, self.failures = port, 0, 0
        self.done = threading.Event()
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        while not self.done.wait(1):
            try:
                with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % self.port, timeout=5) as r:
                    r.read()
                self.scrapes += 1
            except OSError:
                self.failures += 1

    def stop(self):
        self.done.set()
        self.thread.join()


def scraped_rates(work, rounds, cycles):
    image = os.path.join(work, "paced.dio")
    make_plain(image, 128 * 1024)
    handsets, gap = 8, 1.5 * station_bench.POLL_MS / 1000
    sims = Sims(work, handsets, "--rate", "128")
    rates = {"plain": [], "scraped": []}
    scrapes = failures = 0
    try:
        for r in range(rounds):
            for kind in ("plain", "scraped") if r % 2 == 0 else ("scraped", "plain"):
                tree = Tree(os.path.join(work, "sys-%s-%d" % (kind, r)))
                port = free_port()
                st = Station(tree, image, *(["--metrics", "127.0.0.1:%d" % port] if kind == "scraped" else []))
                time.sleep(0.5)
                scraper = Scraper(port) if kind == "scraped" else None
                took = station_cycles(st, tree, sims, cycles, gap)
                if scraper:
                    scraper.stop()
                    scrapes, failures = scrapes + scraper.scrapes, failures + scraper.failures
                st.stop()
                rates[kind].append(handsets * cycles / (took - (cycles - 1) * gap) * 3600)
            say("  round %d: %.0f/h plain, %.0f/h scraped" % (r + 1, rates["plain"][-1], rates["scraped"][-1]))
    finally:
        sims.close()
    ratios = [s / p for s, p in zip(rates["scraped"], rates["plain"])]
    return {"plain_per_hour": spread(rates["plain"]), "scraped_per_hour": spread(rates["scraped"]),
            "ratio": spread(ratios), "scrapes": scrapes, "failed_scrapes": failures}


def report_times(work, lines, asks):
    log = os.path.join(work, "shift.log")
    write_log(log, lines)
    db = "sqlite:" + os.path.join(work, "records.db")
    run("records", "import", "--db", db, log)
    page = os.path.join(work, "report.html")
    reports, summaries = [], []
    for _ in range(asks):
        reports.append(run("records", "report", "--db", db, "--html", page)[0])
        summaries.append(run("records", "summary", "--db", db, "--by", "hour")[0])
    return {"rows": lines, "report_s": spread(reports), "summary_by_hour_s": spread(summaries),
            "report_over_summary": statistics.median(reports) / statistics.median(summaries),
            "page_bytes": os.path.getsize(page)}


def main():
    rounds = env_int("BRENVIK_METRICS_ROUNDS", 5)
    cycles = env_int("BRENVIK_METRICS_CYCLES", 6)
    lines = env_int("BRENVIK_RECORDS_LINES", 1000000)
    asks = env_int("BRENVIK_RECORDS_ASKS", 3)
    work = tempfile.mkdtemp(prefix="metrics-bench-")
    try:
        say("station scraped every second and not, %d rounds" % rounds)
        figures = {"station": scraped_rates(work, rounds, cycles)}
        say("records report over %d rows" % lines)
        figures["report"] = report_times(work, lines, asks)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if "--json" in sys.argv:
        print(json.dumps(figures, indent=1))
        return
    s, r = figures["station"], figures["report"]
    print("station  %.0f handsets/h scraped every second, %.0f not: ratio %.3f (min %.3f); %d scrapes, %d failed"
          % (s["scraped_per_hour"]["median"], s["plain_per_hour"]["median"], s["ratio"]["median"], s["ratio"]["min"],
             s["scrapes"], s["failed_scrapes"]))
    print("report   %.2f s over %d rows in SQLite (min %.2f, max %.2f); summary --by hour %.2f s; ratio %.2f; page %d bytes"
          % (r["report_s"]["median"], r["rows"], r["report_s"]["min"], r["report_s"]["max"],
             r["summary_by_hour_s"]["median"], r["report_over_summary"], r["page_bytes"]))


if __name__ == "__main__":
    main()
