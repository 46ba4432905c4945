#!/usr/bin/env python3
"""records report --html opened by Debian's chromium, headless: the figures in its DOM are
those of records summary --json, and a serial holding markup stays text.
Usage: python3 -m tests.records.report_test CLI SIM [TEST...]"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from html.parser import HTMLParser

HERE = os.path.dirname(os.path.abspath(__file__))
from tests.cli import cli_test  # noqa: F401  (takes CLI and SIM from argv)
from tests.cli.cli_test import cli
from tests.tools import need
from tests.records.records_test import KNOWN, line, uid

SCRIPT = "<script>alert(1)</script>"
# The known set, and a handset whose serial is markup that failed twice on a station whose
# name is markup too.
RUNS = KNOWN + [
    line(run_id=uid(20 + i), station="<b>s3</b>", usb_serial=SCRIPT, result=result, cause=cause, seconds=2.5,
         time="2026-12-07T18:%02d:00.000Z" % (10 * i))
    for i, (result, cause) in enumerate([("failed", "at block 12's ready packet: timed out after 60 s"),
                                         ("failed", "at block 7's ready packet: timed out after 60 s"),
                                         ("success", None)])]


class Dom(HTMLParser):
    """The elements of a DOM by tag, with their attributes and text."""

    def __init__(self, text):
        super().__init__()
        self.elements, self.open = [], []
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        element = {"tag": tag, **dict(attrs), "text": ""}
        self.elements.append(element)
        if tag not in ("meta", "rect", "line", "br"):
            self.open.append(element)

    def handle_endtag(self, tag):
        while self.open and self.open.pop()["tag"] != tag:
            pass

    def handle_data(self, data):
        for element in self.open:
            element["text"] += data

    def rows(self, cls):
        return [e for e in self.elements if e["tag"] == "tr" and e.get("class") == cls]


class ReportTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="report-test-")
        log = os.path.join(self.dir, "runs.log")
        with open(log, "wb") as f:
            f.write(b"\n".join(RUNS) + b"\n")
        self.db = "sqlite:" + os.path.join(self.dir, "records.db")
        self.assertEqual(cli("records", "import", "--db", self.db, log).returncode, 0)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def dom(self, *filters):
        need("chromium", "chromium")
        page = os.path.join(self.dir, "report.html")
        made = cli("records", "report", "--db", self.db, "--html", page, *filters)
        self.assertEqual(made.returncode, 0, made.stderr)
        shown = subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu",
                                "--user-data-dir=" + os.path.join(self.dir, "chromium"), "--dump-dom",
                                "file://" + page], capture_output=True, text=True, timeout=120)
        self.assertEqual(shown.returncode, 0, shown.stderr[-2000:])
        return shown.stdout

    def summary(self, by, *filters):
        out = cli("records", "summary", "--db", self.db, "--by", by, "--json", *filters)
        self.assertEqual(out.returncode, 0, out.stderr)
        return [json.loads(x) for x in out.stdout.splitlines()]

    def test_the_figures_are_those_of_summary(self):
        for filters in [(), ("--station", "s1"), ("--since", "2026-12-07T15:00Z"),
                        ("--since", "2026-12-07T12:00Z", "--until", "2026-12-07T20:00Z")]:
            with self.subTest(filters=filters):
                dom = Dom(self.dom(*filters))
                stations = sorted((r["data-station"], int(r["data-runs"]), int(r["data-successes"]),
                                   round(float(r["data-failure-rate"]), 9)) for r in dom.rows("station"))
                self.assertEqual(stations, sorted((g["station"] or "", g["runs"], g["successes"],
                                                   round(g["failure_rate"], 9)) for g in self.summary("station", *filters)))
                images = sorted((r["data-image"], int(r["data-runs"]), round(float(r["data-median"]), 9),
                                 round(float(r["data-p95"]), 9)) for r in dom.rows("image"))
                self.assertEqual(images, sorted((g["image"], g["runs"], round(g["median_seconds"], 9),
                                                 round(g["p95_seconds"], 9)) for g in self.summary("image", *filters)))
                runs = sum(g["runs"] for g in self.summary("result", *filters))
                self.assertEqual(int(next(e for e in dom.elements if e.get("id") == "runs")["text"]), runs)
                if "--until" in filters:  # the hours of the period, those without runs too
                    self.assertEqual(len([e for e in dom.elements if e["tag"] == "g"]), 8)
                shown = ", ".join(" ".join(filters[i:i + 2]) for i in range(0, len(filters), 2))
                self.assertIn(shown or "none", next(e for e in dom.elements if e.get("id") == "filters")["text"])

    def test_markup_in_the_records_stays_text(self):
        text = self.dom()
        dom = Dom(text)
        self.assertEqual([e for e in dom.elements if e["tag"] in ("script", "b")], [])
        handsets = dom.rows("handset")
        self.assertEqual([(h["text"].split("2")[0], h["data-failures"]) for h in handsets], [(SCRIPT, "2")])
        self.assertIn("success", handsets[0]["text"])  # its last result
        causes = [(c["data-runs"], c["text"]) for c in dom.rows("cause")]
        self.assertEqual(causes[0], ("2", "2at block N's ready packet: timed out after N s"))

    def test_a_file_that_cannot_be_written_is_said(self):
        made = cli("records", "report", "--db", self.db, "--html", os.path.join(self.dir, "no", "such", "r.html"))
        self.assertEqual(made.returncode, 2)
        self.assertIn("could not be written", made.stderr)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
