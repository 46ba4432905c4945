#!/usr/bin/env python3
"""brenvik-cli records on real databases: SQLite files and a PostgreSQL server the test starts
itself. Imports, the questions asked of them, stations writing as they go, a server that goes
away mid-shift, and a password that never shows. Usage: records_test.py CLI SIM [TEST...]"""
import gzip
import json
import os
import random
import shutil
import signal
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
from tests.cli import cli_test  # (takes CLI and SIM from argv)
from tests.cli.cli_test import bin_stream, cli, fake_tty
from tests.records.pg_server import PASSWORD, PgServer
from tests.cli.station_test import Station
from tests.cli.sysfs_tree import unplug

# A time without a zone is local time: here one hour east of UTC (POSIX form, no tzdata needed).
os.environ["TZ"] = "UTC-1"
SCHEMA = os.path.join(HERE, "..", "..", "docs", "log-line.schema.json")


def line(**fields):
    base = {"time": "2026-12-07T14:26:05.195Z", "image": "/srv/fw/fw.img", "size": 4328475, "sha256": "ab" * 32,
            "kind": 5, "device": "/dev/ttyUSB0", "usb_serial": "0123ABCD", "bytes_sent": 4333640, "seconds": 1.0,
            "average_rate": 29084832, "result": "success", "cause": None}
    base.update(fields)
    return json.dumps(base).encode()


def uid(n):
    return "00000000-0000-4000-8000-%012d" % n


# A known set: 10 runs over two stations and two hours, one old line without an id.
KNOWN = [
    line(run_id=uid(1), station="s1", usb_serial="A1", seconds=1.0, time="2026-12-07T14:00:01.000Z"),
    line(run_id=uid(2), station="s1", usb_serial="A2", seconds=2.0, time="2026-12-07T14:10:00.000Z"),
    line(run_id=uid(3), station="s1", usb_serial="A3", seconds=3.0, time="2026-12-07T14:20:00.000Z",
         result="failed", cause="at block 3: no answer"),
    line(run_id=uid(4), station="s2", usb_serial="B1", seconds=4.0, time="2026-12-07T14:30:00.000Z",
         usb_port="1-1.4"),
    line(run_id=uid(5), station="s2", usb_serial="B2", seconds=5.0, time="2026-12-07T15:00:00.000Z",
         sha256="cd" * 32, image="/srv/fw/new.img"),
    line(run_id=uid(6), station="s2", usb_serial="O'Brien'); DROP TABLE runs;--", seconds=6.0,
         time="2026-12-07T15:10:00.000Z", image="/srv/it's; DELETE FROM runs/x.img"),
    line(run_id=uid(7), station="s2", usb_serial="B3", seconds=7.0, time="2026-12-07T15:20:00.000Z",
         result="stopped", cause="stopped by SIGINT"),
    # A path that is no UTF-8, as the log writes it: replacement characters and its bytes.
    line(run_id=uid(8), station="s1", usb_serial="C1", seconds=8.0, time="2026-12-07T15:30:00.000Z",
         image="/srv/fw/\ufffd.img", image_bytes=b"/srv/fw/\xe9.img".hex()),
    line(run_id=uid(9), station="s1", usb_serial="C2", seconds=9.0, time="2026-12-07T15:40:00.000Z",
         image="/srv/fw/\ufffd.img", image_bytes=b"/srv/fw/\xea.img".hex()),
    line(usb_serial="OLD1", seconds=10.0, time="2026-12-06T09:00:00.000Z"),  # before run ids
]
MALFORMED = [
    (b"not json at all", "no JSON"),
    (b'{"time": "2026-12-07T14:00:00.000Z", "image": "/x"}', "no result"),
    (line(result="maybe"), "result"),
    (line(seconds="fast"), "seconds is not a number"),
    (line(time="07/12/2026"), "time"),
    (line(size=2 ** 64 - 1), "size"),
    (line(usb_serial="A\u0000B"), "NUL"),
    (line(run_id="1; DROP TABLE runs"), "run_id"),
]


class WithPostgres(unittest.TestCase):
    """A PostgreSQL server of the class's own, started once for its tests."""

    @classmethod
    def setUpClass(cls):
        cls.pg = PgServer()

    @classmethod
    def tearDownClass(cls):
        cls.pg.close()


class RecordsTest(WithPostgres):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="records-test-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.dir, name)

    def fresh_pg(self):
        return self.pg.new_database()

    def databases(self):
        return [("sqlite", "sqlite:" + self.path("r%d.db" % time.monotonic_ns())), ("postgresql", self.fresh_pg())]

    def records(self, *args, check=True):
        r = cli("records", *args, timeout=120)
        for out in (r.stdout, r.stderr):
            self.assertNotIn("s3cr", out)
            self.assertNotIn("et%20pw", out)
        if check:
            self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def find(self, db, *filters):
        return [json.loads(l) for l in self.records("find", "--db", db, "--json", *filters).stdout.splitlines()]

    def write_log(self, name, lines):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(b"\n".join(lines) + b"\n")
        return path

    def test_an_import_twice_with_malformed_and_cut_lines(self):
        mixed = []
        for good, (bad, _) in zip(KNOWN, MALFORMED):
            mixed += [good, bad]
        mixed += KNOWN[len(MALFORMED):]
        log = self.write_log("a.log", mixed)
        with open(log, "ab") as f:
            f.write(KNOWN[0][:40])  # a last line cut short
        for kind, db in self.databases():
            with self.subTest(kind):
                first = json.loads(self.records("import", "--db", db, "--json", log).stdout)
                self.assertEqual((first["new"], first["already_there"], first["malformed"]),
                                 (len(KNOWN), 0, len(MALFORMED) + 1))
                self.assertEqual([b["line"] for b in first["malformed_lines"]],
                                 [2 * i + 2 for i in range(len(MALFORMED))] + [len(mixed) + 1])
                for b, (_, why) in zip(first["malformed_lines"], MALFORMED):
                    self.assertIn(why, b["why"])
                again = self.records("import", "--db", db, log)
                self.assertEqual(again.stdout, "0 new, %d already there, %d malformed\n"
                                 % (len(KNOWN), len(MALFORMED) + 1))
                self.assertIn("a.log:2: skipped:", again.stderr)
                runs = self.find(db)
                self.assertEqual(len(runs), len(KNOWN))
                old = [r for r in runs if r["usb_serial"] == "OLD1"][0]
                self.assertRegex(old["run_id"], "^[0-9a-f]{8}-[0-9a-f]{4}-8")  # made of its bytes
                # The apostrophes and SQL went in as text, and are found as text.
                evil = self.find(db, "--serial", "O'Brien'); DROP")
                self.assertEqual([r["image"] for r in evil], ["/srv/it's; DELETE FROM runs/x.img"])
                self.assertEqual(len(self.find(db, "--image", "/srv/it's; DELETE FROM runs/x.img")), 1)

    def test_paths_that_are_no_utf8_keep_their_bytes(self):
        # An overlong form looks like UTF-8 to a loose check; the log takes it for none.
        overlong = line(run_id=uid(10), station="s1", usb_serial="C3", seconds=1.0, time="2026-12-07T15:50:00.000Z",
                        image="/srv/fw/\ufffd\ufffd.img", image_bytes=b"/srv/fw/\xc0\xaf.img".hex())
        log = self.write_log("a.log", KNOWN + [overlong])
        for kind, db in self.databases():
            with self.subTest(kind):
                self.records("import", "--db", db, log)
                for raw, serial in ((b"/srv/fw/\xe9.img", "C1"), (b"/srv/fw/\xea.img", "C2"),
                                    (b"/srv/fw/\xc0\xaf.img", "C3")):
                    got = self.find(db, "--image", os.fsdecode(raw))
                    self.assertEqual([(r["usb_serial"], r["image_bytes"]) for r in got], [(serial, raw.hex())])
                table = cli("records", "find", "--db", db, "--serial", "C")
                self.assertIn("/srv/fw/\\xE9.img", table.stdout)  # told apart, and no raw byte

    def test_filters_that_are_no_utf8_answer_alike(self):
        # The log writes such a name with U+FFFD for the byte; a filter is read the same way.
        odd = line(run_id=uid(20), station="st\ufffd", usb_serial="S\ufffd1", usb_port="1-\ufffd")
        log = self.write_log("a.log", KNOWN + [odd])
        cases = [  # (filter, its bytes, serials found)
            ("--serial", b"S\xff", ["S\ufffd1"]),
            ("--station", b"st\xe9", ["S\ufffd1"]),
            ("--usb-port", b"1-\xe9", ["S\ufffd1"]),
            ("--serial", b"\xffX", []),
            ("--sha256", b"ab\xff", []),
        ]
        for kind, db in self.databases():
            self.records("import", "--db", db, log)
            for option, raw, serials in cases:
                with self.subTest(kind, option=option, raw=raw):
                    self.assertEqual([r["usb_serial"] for r in self.find(db, option, os.fsdecode(raw))], serials)
                    table = self.records("find", "--db", db, option, os.fsdecode(raw))
                    self.assertEqual(table.stderr, "" if serials else "no run found\n")

    def test_find_and_summary_against_a_known_set(self):
        log = self.write_log("a.log", KNOWN)
        finds = [  # (filters, serials found)
            (["--serial", "A"], ["A1", "A2", "A3"]),
            (["--serial", "B", "--result", "success"], ["B1", "B2"]),
            (["--sha256", "CDCD"], ["B2"]),
            (["--station", "s2", "--since", "2026-12-07T15:00Z", "--until", "2026-12-07T15:20:00Z"],
             ["B2", "O'Brien'); DROP TABLE runs;--"]),
            (["--usb-port", "1-1.4"], ["B1"]),
            (["--until", "2026-12-06"], []),
            (["--until", "2026-12-07T15:00"], ["OLD1"]),  # local: 14:00Z
            (["--until", "2026-12-07T15:01"], ["OLD1", "A1"]),
            (["--since", "2026-12-07T16:00+01:00"], ["B2", "O'Brien'); DROP TABLE runs;--", "B3", "C1", "C2"]),
            (["--device", "/dev/ttyUSB9"], []),
            (["--since", "-8h"], []),
        ]
        summaries = [  # (by, [(key, runs, successes, median, p95)])
            ("station", [("s1", 5, 4, 3.0, 8.8), ("s2", 4, 3, 5.5, 6.85)]),
            ("hour", [("2026-12-06T09", 1, 1, 10.0, 10.0), ("2026-12-07T14", 4, 3, 2.5, 3.85),
                      ("2026-12-07T15", 5, 4, 7.0, 8.8)]),
            ("result", [("failed", 1, 0, 3.0, 3.0), ("stopped", 1, 0, 7.0, 7.0), ("success", 8, 8, 5.5, 9.65)]),
        ]
        for kind, db in self.databases():
            self.records("import", "--db", db, log)
            for filters, serials in finds:
                with self.subTest(kind, filters=filters):
                    # the old line (station null) only when no station is asked for
                    got = [r["usb_serial"] for r in self.find(db, *filters)]
                    self.assertEqual(sorted(got), sorted(serials))
            for by, want in summaries:
                with self.subTest(kind, by=by):
                    out = self.records("summary", "--db", db, "--by", by, "--json").stdout
                    got = [json.loads(l) for l in out.splitlines()]
                    self.assertEqual([(g[by], g["runs"], g["successes"], g["median_seconds"],
                                       round(g["p95_seconds"], 2)) for g in got if g[by] is not None], want)
                    if by == "result":  # the successes' durations leave the others out
                        self.assertEqual([(g["success_median_seconds"], g["success_p95_seconds"] and round(g["success_p95_seconds"], 2))
                                          for g in got],
                                         [(None, None), (None, None), (5.5, 9.65)])
            table = self.records("summary", "--db", db, "--by", "hour", "--station", "s1").stdout.splitlines()
            # every run's durations (a failure's too), then the successes' apart
            self.assertEqual(table[0].split()[-4:], ["s", "ok", "p95", "s"])
            self.assertEqual(table[1].split(), ["2026-12-07", "14:00", "3", "2", "33.3%", "2.000", "2.900", "1.500",
                                                "1.950"])

    def test_several_processes_share_one_sqlite_file_and_other_files_are_refused(self):
        import subprocess
        db = "sqlite:" + self.path("shared.db")
        logs = [self.write_log("p%d.log" % p, [line(run_id=uid(p * 100000 + i), usb_serial="P%d-%d" % (p, i))
                                                for i in range(3000)]) for p in range(3)]
        # Six imports at once, each log twice: they wait for the lock, and each run is new once.
        procs = [subprocess.Popen([cli_test.CLI, "records", "import", "--db", db, log], stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True) for log in logs * 2]
        outs = [p.communicate(timeout=120) for p in procs]
        self.assertEqual([p.returncode for p in procs], [0] * 6, outs)
        self.assertEqual(sum(int(out.split()[0]) for out, _ in outs), 9000)  # each run new exactly once
        self.assertEqual(len(self.find(db)), 9000)
        with open(self.path("notes.txt"), "w") as f:
            f.write("not a database\n")
        os.mkfifo(self.path("fifo"))
        for target, words in ((self.path("notes.txt"), "is no SQLite database"), (self.path("fifo"), "is not a file"),
                              (self.dir, "is not a file")):
            with self.subTest(target=target):
                r = cli("records", "import", "--db", "sqlite:" + target, logs[0], timeout=20)
                self.assertEqual(r.returncode, 2)
                self.assertIn(words, r.stderr)
        with open(self.path("notes.txt")) as f:
            self.assertEqual(f.read(), "not a database\n")

    def test_what_cannot_be_used_is_refused_and_left_as_it_was(self):
        log = self.write_log("station.log", KNOWN[:2])
        with open(log, "rb") as f:
            kept = f.read()
        typo = self.path("typo/records.db")
        cases = [
            # A read never makes a database: a mistyped path is no "never flashed".
            (("records", "find", "--db", "sqlite:" + typo), "cannot be opened"),
            (("records", "summary", "--by", "hour", "--db", "sqlite:" + typo), "cannot be opened"),
        ]
        # A log that cannot be read is a log that cannot be used, as --help says.
        cases += [(("records", "import", "--db", "sqlite:" + self.path("i.db"), self.path("none.log")), "cannot be read"),
                  (("records", "import", "--db", "sqlite:" + self.path("i.db"), self.dir), "is not a file")]
        # The log is no database, by whatever name it is given: SQLite would make it one.
        os.symlink(log, self.path("link.log"))
        for db in (log, self.path("link.log"), os.path.join(self.dir, ".", "station.log")):
            cases += [(("flash", "--log", log, "--db", "sqlite:" + db, self.path("fw.img")), "is the log"),
                      (("station", "--log", log, "--db", "sqlite:" + db, self.path("fw.img")), "is the log")]
        for args, words in cases:
            with self.subTest(args=args):
                r = cli(*args, timeout=20)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertIn(words, r.stderr)
                if args[1] != "import":
                    self.assertEqual(r.stdout, "")
                self.assertFalse(os.path.exists(os.path.dirname(typo)))
                with open(log, "rb") as f:
                    self.assertEqual(f.read(), kept)

    def test_postgresql_text_is_utf8_and_a_newer_schema_is_refused(self):
        db = self.fresh_pg()
        log = self.write_log("latin.log", [line(run_id=uid(1), usb_serial="\u00c4rger",
                                                 image="/srv/fw/gr\u00fc\u00df.img")])
        # libpq's environment applies, but never to the runs' encoding
        r = subprocess.run([cli_test.CLI, "records", "import", "--db", db, log], capture_output=True, text=True,
                           timeout=60, env=dict(os.environ, PGCLIENTENCODING="LATIN1"))
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual([f["image"] for f in self.find(db, "--serial", "\u00c4")], ["/srv/fw/gr\u00fc\u00df.img"])
        raw = subprocess.run(["psql", db, "-Atc", "SELECT encode(convert_to(usb_serial, 'UTF8'), 'hex') FROM runs"],
                             capture_output=True, text=True, check=True).stdout.strip()
        self.assertEqual(raw, "\u00c4rger".encode().hex())
        subprocess.run(["psql", db, "-qc", "INSERT INTO schema_version VALUES (99, 'later')"], check=True)
        newer = self.records("find", "--db", db, check=False)
        self.assertEqual(newer.returncode, 2)
        self.assertIn("version 99, newer than this brenvik-cli knows", newer.stderr)

    def import_from(self, db, source, stdin=None):
        r = subprocess.run([cli_test.CLI, "records", "import", "--db", db, "--json", source], input=stdin,
                           capture_output=True, timeout=120)
        return r.returncode, json.loads(r.stdout), r.stderr.decode()

    def test_rotated_and_compressed_logs(self):
        plain = b"\n".join(KNOWN) + b"\n"
        gz = self.path("station.log.2.gz")
        with gzip.open(gz, "wb") as f:
            f.write(plain)
        with open(gz, "rb") as f:
            packed = f.read()
        sources = [  # (what, the log named, standard input)
            ("a rotated log, compressed", gz, None),
            ("standard input", "-", plain),
            ("a pipe by its name", "/dev/stdin", plain),
            ("compressed, on standard input", "-", packed),
        ]
        for kind, _ in self.databases():
            for what, source, stdin in sources:
                with self.subTest(kind, what=what):
                    db = dict(self.databases())[kind]
                    code, counts, err = self.import_from(db, source, stdin)
                    self.assertEqual((code, counts["new"], counts["malformed"]), (0, len(KNOWN), 0), err)
                    self.assertEqual(len(self.find(db)), len(KNOWN))
            with self.subTest(kind, what="cut short"):
                # A compressed log cut short: what was read before the cut goes in, and the
                # import fails part way.
                db = dict(self.databases())[kind]
                cut = self.path("cut.gz")
                with open(cut, "wb") as f:
                    f.write(packed[:len(packed) * 2 // 3])
                code, counts, err = self.import_from(db, cut)
                self.assertEqual(code, 1)
                self.assertIn("cut.gz could not be read to its end: unexpected end of file", err)
                self.assertGreater(counts["new"], 0)
                self.assertEqual(len(self.find(db)), counts["new"])
            with self.subTest(kind, what="a line past any run's, and one with no end"):
                huge = self.write_log("huge.log", [b"x" * (5 << 20)] + KNOWN)
                with open(huge, "ab") as f:
                    f.write(b"y" * (5 << 20))
                code, counts, err = self.import_from(dict(self.databases())[kind], huge)
                self.assertEqual((code, counts["new"], counts["malformed"]), (0, len(KNOWN), 2), err)
                self.assertEqual([(b["line"], b["why"][:23]) for b in counts["malformed_lines"]],
                                 [(1, "it is longer than 4 MiB"), (len(KNOWN) + 2, "it is longer than 4 MiB")])

    def test_bad_rows_in_both_databases(self):
        # Long paths that no compression brings under a B-tree entry's limit (about 2.7 kB).
        noise = random.Random(1)
        letters = "".join(chr(c) for c in range(0x21, 0x7F) if chr(c) != "/")
        long_image = "/srv/fw/" + "".join(noise.choices(letters, k=4000)) + ".img"
        long_device = "/dev/serial/by-id/" + "".join(noise.choices(letters, k=4000))
        lines = KNOWN + [
            line(run_id=uid(30), kind=3000000000),                    # for a 32-bit column
            line(run_id=uid(31), usb_serial="x" * 100000),
            line(run_id=uid(32), image="/srv/" + "q" * 5000),          # past any path
            line(run_id=uid(33), usb_serial="REFUSED"),                # by a rule of the database
            line(run_id=uid(34), image=long_image, usb_serial="L1"),   # long, and within a path
            line(run_id=uid(35), device=long_device, usb_serial="L2"),
            line(run_id=uid(36), cause="c" * 60000, usb_serial="L3"),
        ]
        log = self.write_log("a.log", lines)
        answers = []
        for kind, db in self.databases():
            with self.subTest(kind):
                self.records("import", "--db", db, self.write_log("empty.log", []))  # makes the tables
                if kind == "sqlite":
                    with sqlite3.connect(db[len("sqlite:"):]) as c:
                        c.execute("CREATE TRIGGER refuse BEFORE INSERT ON runs WHEN NEW.usb_serial = 'REFUSED' "
                                  "BEGIN SELECT RAISE(ABORT, 'serial REFUSED is not taken here'); END")
                else:
                    subprocess.run(["psql", db, "-qc", "ALTER TABLE runs ADD CONSTRAINT refuse "
                                    "CHECK (usb_serial <> 'REFUSED')"], check=True, capture_output=True)
                got = json.loads(self.records("import", "--db", db, "--json", log).stdout)
                bad = {b["line"]: b["why"] for b in got["malformed_lines"]}
                self.assertEqual((got["new"], got["malformed"]), (len(KNOWN) + 3, 4))
                self.assertIn("kind is out of range for a 32-bit number", bad[len(KNOWN) + 1])
                self.assertIn("usb_serial is longer than 1024 bytes", bad[len(KNOWN) + 2])
                self.assertIn("image is longer than 4096 bytes", bad[len(KNOWN) + 3])
                self.assertIn("the database refused it", bad[len(KNOWN) + 4])
                self.assertEqual([r["usb_serial"] for r in self.find(db, "--image", long_image)], ["L1"])
                self.assertEqual([r["usb_serial"] for r in self.find(db, "--device", long_device)], ["L2"])
                answers.append(sorted(r["run_id"] for r in self.find(db)))
        self.assertEqual(answers[0], answers[1])

    def test_time(self):
        lines = [
            line(run_id=uid(40), usb_serial="T0", time="2026-12-07T10:00:00Z"),
            line(run_id=uid(41), usb_serial="T1", time="2026-12-07T10:00:00.500Z"),
            line(run_id=uid(42), usb_serial="T2", time="2026-12-07T11:00:00.25+01:00"),
            line(run_id=uid(43), time="2026-13-45T99:99:99Z"),
            line(run_id=uid(44), time="2026-02-29T10:00:00Z"),
            line(run_id=uid(45), time="2026-12-07T10:00:00+99:00"),
        ]
        log = self.write_log("a.log", lines)
        finds = [  # (filters, serials found, oldest first)
            ([], ["T0", "T2", "T1"]),
            (["--until", "2026-12-07T10:00:00.250Z"], ["T0"]),
            (["--since", "2026-12-07T10:00:00.250Z"], ["T2", "T1"]),
            (["--since", "2026-12-07T11:00:00.5+01:00"], ["T1"]),
        ]
        impossible = [["--since", "2026-02-31"], ["--until", "2026-12-07T10:00+99:00"],
                      ["--since", "2026-13-45T99:99:99Z"], ["--until", "2026-12-07T10:00:60Z"]]
        for kind, db in self.databases():
            with self.subTest(kind):
                got = json.loads(self.records("import", "--db", db, "--json", log).stdout)
                self.assertEqual((got["new"], got["malformed"]), (3, 3))
                for filters, serials in finds:
                    self.assertEqual([r["usb_serial"] for r in self.find(db, *filters)], serials, filters)
                self.assertEqual([r["time"] for r in self.find(db)],
                                 ["2026-12-07T10:00:00.000Z", "2026-12-07T10:00:00.250Z", "2026-12-07T10:00:00.500Z"])
                hours = self.records("summary", "--db", db, "--by", "hour", "--json").stdout.splitlines()
                self.assertEqual([(json.loads(h)["hour"], json.loads(h)["runs"]) for h in hours], [("2026-12-07T10", 3)])
                for filters in impossible:
                    r = self.records("find", "--db", db, *filters, check=False)
                    self.assertEqual((r.returncode, r.stdout), (2, ""), filters)
                    self.assertIn(filters[0] + " must be a time", r.stderr)

    def test_times_a_database_of_the_first_version_holds_are_put_in_one_form(self):
        text = {"run_id": "TEXT PRIMARY KEY", "time": "TEXT NOT NULL", "image": "TEXT NOT NULL",
                "result": "TEXT NOT NULL", "size": "BIGINT", "kind": "INTEGER", "bytes_sent": "BIGINT",
                "seconds": "DOUBLE PRECISION", "average_rate": "BIGINT"}
        names = ["run_id", "station", "time", "image", "image_bytes", "size", "sha256", "kind", "device",
                 "device_bytes", "usb_port", "usb_serial", "bytes_sent", "seconds", "average_rate", "result", "cause"]
        rows = [(uid(50), "2026-12-07T10:00:00Z", "V0"), (uid(51), "2026-12-07T10:00:00.5Z", "V1"),
                (uid(52), "2026-12-07T10:00:00.250Z", "V2")]
        for kind, db in self.databases():
            with self.subTest(kind):
                collate = ' COLLATE "C"' if kind == "postgresql" else ""
                columns = ", ".join("%s %s" % (n, text.get(n, "TEXT").replace("TEXT", "TEXT" + collate)) for n in names)
                sql = ["CREATE TABLE runs (%s)" % columns,
                       "CREATE TABLE schema_version (version INTEGER PRIMARY KEY, applied TEXT NOT NULL)",
                       "INSERT INTO schema_version VALUES (1, '2026-12-01T00:00:00Z')"]
                sql += ["CREATE INDEX runs_%s ON runs (%s)" % (i, i) for i in ("time", "image", "device", "usb_serial")]
                sql += ["INSERT INTO runs (run_id, time, image, result, usb_serial) VALUES ('%s', '%s', '/x', "
                        "'success', '%s')" % r for r in rows]
                if kind == "sqlite":
                    with sqlite3.connect(db[len("sqlite:"):]) as c:
                        for statement in sql:
                            c.execute(statement)
                else:
                    subprocess.run(["psql", db, "-q", "-v", "ON_ERROR_STOP=1", "-c", ";".join(sql)], check=True,
                                   capture_output=True)
                self.assertEqual([r["usb_serial"] for r in self.find(db)], ["V0", "V2", "V1"])
                self.assertEqual([r["usb_serial"] for r in self.find(db, "--until", "2026-12-07T10:00:00.250Z")],
                                 ["V0"])

    def test_a_new_files_indexes_are_built_after_its_rows_and_mended_by_the_next_writer(self):
        def indexes(path):
            with sqlite3.connect(path) as c:
                return sorted(r[0] for r in c.execute("SELECT name FROM sqlite_master WHERE type = 'index'"))
        path = self.path("new.db")
        self.records("import", "--db", "sqlite:" + path, self.write_log("a.log", KNOWN))
        built = indexes(path)
        self.assertEqual(len(built), 8, built)  # seven and the primary key's
        # An import stopped before it built them (killed, the machine down): a reader answers
        # all the same, and the next writer builds them.
        with sqlite3.connect(path) as c:
            c.execute("DROP INDEX runs_usb_serial")
            c.execute("DROP INDEX runs_time")
        self.assertEqual(len(self.find("sqlite:" + path, "--serial", "A")), 3)
        self.assertEqual(len(indexes(path)), 6)
        self.records("import", "--db", "sqlite:" + path, self.write_log("b.log", KNOWN[:1]))
        self.assertEqual(indexes(path), built)

    def test_a_password_never_leaks(self):
        db = self.fresh_pg()
        log = self.write_log("a.log", KNOWN[:2])
        self.records("import", "--db", db, log)
        wrong = self.records("find", "--db", db.replace("s3cr%27et%20pw", "s3cr3t-but-wrong"), check=False)
        self.assertEqual(wrong.returncode, 2)
        self.assertIn("password authentication failed", wrong.stderr)
        self.assertIn("brenvik:***@", self.records("find", "--db", "postgresql://brenvik:s3cr3t@/nodb?host=/nonexistent",
                                                   check=False).stderr)
        keyword = self.records("find", "--db", "host=/nonexistent password='s3cr et' dbname=x", check=False)
        self.assertIn("password=***", keyword.stderr)
        for refused in ("postgresql://brenvik:s3cr#et?pw@/nodb?host=/nonexistent",
                        "Postgresql://brenvik:s3cret@/nodb?host=/nonexistent",
                        "host=/nonexistent password=Sup3r s3cretPw dbname=x"):
            with self.subTest(refused):
                r = self.records("find", "--db", refused, check=False)
                self.assertEqual(r.returncode, 2)
                self.assertNotIn("Sup3r", r.stderr)
        # A flash whose database is down: told at the end, the password masked.
        self.pg.stop()
        try:
            sim = cli_test.Sim(self.dir)
            img = self.path("fw.img")
            with open(img, "wb") as f:
                f.write(os.urandom(0x20000) + bin_stream([(0x80001000, os.urandom(4096))]))
            r = cli("flash", "--device", sim.device, "--log", self.path("f.log"), "--db", db, img)
            sim.finish()
            self.assertEqual(r.returncode, 0, r.stderr)
            self.assertIn("1 run is not in the database postgresql://brenvik:***@", r.stderr)
            self.assertNotIn("s3cr", r.stdout + r.stderr)
        finally:
            self.pg.start()


class StationsTest(WithPostgres):
    """Stations writing into one PostgreSQL as they go."""

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="records-stations-")
        self.image = os.path.join(self.dir, "fw.img")
        with open(self.image, "wb") as f:
            f.write(os.urandom(0x20000) + bin_stream([(0x80001000 + i * 4096, os.urandom(4096)) for i in range(4)]))
        import jsonschema
        with open(SCHEMA) as f:
            self.schema = json.load(f)
        self.validate = jsonschema.validate

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def station(self, name, db):
        root = os.path.join(self.dir, name, "sys")
        os.makedirs(os.path.join(root, "class/tty"), exist_ok=True)
        log = os.path.join(self.dir, name, "station.log")
        return root, log, Station(root, self.image, log, "--db", db)

    def handset(self, st, root, serial):
        """One handset plugged in, flashed, and unplugged again."""
        sim = cli_test.Sim(self.dir)
        fake_tty(root, "ttyUSB0", "ipaq", "049f:0003", serial, "1-1.1", devname=sim.device[len("/dev/"):])
        st.mark()
        result = st.wait_for(lambda e: e["event"] == "result" and e.get("serial") == serial and "result" in e)
        sim.finish()
        unplug(root, "ttyUSB0", "1-1.1")
        st.wait_for(lambda e: e["event"] == "left" and e.get("serial") == serial)
        return result

    def log_ids(self, log):
        with open(log) as f:
            lines = [json.loads(l) for l in f]
        for l in lines:
            self.validate(l, self.schema)
        return [l["run_id"] for l in lines]

    def db_ids(self, db):
        r = cli("records", "find", "--db", db, "--json", timeout=60)
        self.assertEqual(r.returncode, 0, r.stderr)
        return [json.loads(l)["run_id"] for l in r.stdout.splitlines()]

    def wait_for_ids(self, db, ids, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline and sorted(self.db_ids(db)) != sorted(ids):
            time.sleep(0.3)
        self.assertEqual(sorted(self.db_ids(db)), sorted(ids))

    def test_three_stations_into_one_postgresql(self):
        db = self.pg.new_database()
        stations = [self.station("s%d" % i, db) for i in range(3)]
        errors = []

        def shift(i, root, st):
            try:
                for n in range(6):
                    self.assertEqual(self.handset(st, root, "S%dN%d" % (i, n))["result"], "success")
            except Exception as e:  # noqa: BLE001
                errors.append(e)

        threads = [threading.Thread(target=shift, args=(i, root, st)) for i, (root, _, st) in enumerate(stations)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(errors, [])  # a failed handset first: its station's exit says less
        ids = []
        for root, log, st in stations:
            st.proc.send_signal(signal.SIGINT)
            rc, err = st.finish()
            self.assertEqual(rc, 0, err)
            self.assertEqual([e["waiting"] for e in st.events if e["event"] == "records"], [0])
            ids += self.log_ids(log)
        self.assertEqual(len(ids), 18)
        self.assertEqual(sorted(self.db_ids(db)), sorted(ids))  # every run, exactly once

    def plain_station(self, root, log, db):
        """A station as the service runs it: plain lines into a pipe."""
        return subprocess.Popen([cli_test.CLI, "station", "--log", log, "--poll-ms", "50", "--db", db, self.image],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                env=dict(os.environ, SYSFS_PATH=root))

    def read_until(self, proc, text):
        seen = []
        for out in proc.stdout:
            seen.append(out)
            if text in out:
                return out
        self.fail("no %r in %s" % (text, seen))

    def test_a_station_whose_database_refuses_tells_its_line(self):
        db = self.pg.new_database()
        root = os.path.join(self.dir, "refused", "sys")
        os.makedirs(os.path.join(root, "class/tty"))
        log = os.path.join(self.dir, "refused", "station.log")
        # Rotated between two sessions, as the package's logrotate leaves it: runs from before wait.
        with open(log, "wb") as f:
            f.write(line(run_id=uid(6)) + b"\n")
        with open(log + ".1", "wb") as f:
            f.write(b"\n".join(line(run_id=uid(n)) for n in (3, 4, 5)) + b"\n")
        with gzip.open(log + ".2.gz", "wb") as f:
            f.write(b"\n".join(line(run_id=uid(n)) for n in (1, 2)) + b"\n")
        self.pg.stop()
        try:
            # Stopped before the database is back: the end says what is not in.
            st = self.plain_station(root, log, db)
            told = self.read_until(st, "records:")
            self.assertIn("the log's runs are waiting for the database (the database postgresql://brenvik:***@",
                          told)
            st.send_signal(signal.SIGINT)
            out, err = st.communicate(timeout=60)
            self.assertEqual(st.returncode, 0, err)
            self.assertNotIn("every run is in", err)
            self.assertIn("the runs of the log are not all in the database", err)
            self.assertIn("PGPASSFILE", err)  # the password on the command line, said once
            self.assertEqual(err.count("warning: the password in --db"), 1)
            self.assertNotIn("s3cr", out + err + told)
            # Back while the next one runs: said at once.
            st = self.plain_station(root, log, db)
            self.read_until(st, "waiting for the database")
        finally:
            self.pg.start()
        self.read_until(st, "records: every run is in the database postgresql://brenvik:***@")
        st.send_signal(signal.SIGINT)
        out, err = st.communicate(timeout=60)
        self.assertEqual(st.returncode, 0, err)
        self.assertIn("every run is in the database", err)
        self.assertEqual(sorted(self.db_ids(db)), [uid(n) for n in range(1, 7)])

    def test_the_server_stopped_mid_shift_and_the_station_restarted(self):
        db = self.pg.new_database()
        before = set(self.db_ids(db))
        root, log, st = self.station("one", db)
        self.handset(st, root, "P1")
        self.pg.stop()
        self.handset(st, root, "P2")  # the runs go on while the database is away
        told = st.wait_for(lambda e: e["event"] == "records_waiting")  # and the line is told
        self.assertGreaterEqual(told["waiting"], 1)
        self.assertIn("postgresql://brenvik:***@", told["error"])
        self.handset(st, root, "P3")
        self.pg.start()
        self.handset(st, root, "P4")
        st.since = 0  # told when the runs went in, before or after P4's
        st.wait_for(lambda e: e["event"] == "records_in")
        self.wait_for_ids(db, list(before) + self.log_ids(log))  # caught up while it runs
        # Down again, and the station stops before it is back: its restart catches up.
        self.pg.stop()
        self.handset(st, root, "P5")
        st.proc.send_signal(signal.SIGINT)
        rc, err = st.finish()
        self.assertEqual(rc, 0, err)
        self.assertEqual([e["waiting"] for e in st.events if e["event"] == "records"], [1])
        self.pg.start()
        again = Station(root, self.image, log, "--db", db)
        try:
            self.wait_for_ids(db, list(before) + self.log_ids(log))
        finally:
            again.proc.send_signal(signal.SIGINT)
            again.finish()
        self.assertEqual(len(self.log_ids(log)), 5)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0]] + sys.argv[3:], verbosity=2)
