#!/usr/bin/env python3
"""station --metrics: what it serves and refuses, a scraper that hangs while handsets are
flashed, and Debian's own Prometheus scraping two stations every second.
Usage: python3 -m tests.cli.metrics_test CLI SIM [TEST...]"""
import json
import os
import signal
import socket
import subprocess
import sys
import time
import unittest
import urllib.parse
import urllib.request

from tests.cli import cli_test  # noqa: F401  (takes CLI and SIM from argv)
from tests.cli.cli_test import CLI
from tests.tools import need
from tests.cli import station_test
from tests.cli.station_test import Station, log_lines, result_of


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def http(port, request, timeout=10):
    """The raw answer to a raw request."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        answer = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return answer.decode("utf-8", "replace")
            answer += chunk


def wait_listening(port, timeout=10):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise AssertionError("nothing listens on port %d" % port)


def successes(log):
    with open(log) as f:
        return sum(json.loads(line)["result"] == "success" for line in f)


class MetricsTest(unittest.TestCase):
    # The station test's tree, image and handsets, without its cases.
    setUp = station_test.StationTest.setUp
    tearDown = station_test.StationTest.tearDown
    plug = station_test.StationTest.plug

    def test_served_refused_and_a_stuck_scraper_holds_up_nothing(self):
        need("promtool", "prometheus")
        port = free_port()
        log = os.path.join(self.dir, "m.log")
        st = Station(self.root, self.image, log, "--metrics", "127.0.0.1:%d" % port)
        wait_listening(port)
        ok = http(port, b"GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertTrue(ok.startswith("HTTP/1.1 200 "), ok)
        body = ok.split("\r\n\r\n", 1)[1]
        check = subprocess.run(["promtool", "check", "metrics"], input=body, capture_output=True, text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        # The port is bound before the image is read (a port in use ends the start at once), so
        # a slow (sanitized) build may be asked before it knows the image.
        image_info = 'brenvik_station_image_info{sha256="%s"' % cli_test.digest(self.image)
        deadline = time.monotonic() + 60
        while image_info not in body and time.monotonic() < deadline:
            time.sleep(0.2)
            body = http(port, b"GET /metrics HTTP/1.1\r\n\r\n").split("\r\n\r\n", 1)[1]
        self.assertIn(image_info, body)
        for request, status in [
                (b"HEAD /metrics HTTP/1.1\r\n\r\n", "200"),
                (b"GET /metrics?x=1 HTTP/1.0\r\n\r\n", "200"),
                (b"GET / HTTP/1.1\r\n\r\n", "404"),
                (b"GET /metricsx HTTP/1.1\r\n\r\n", "404"),
                (b"POST /metrics HTTP/1.1\r\nContent-Length: 2\r\n\r\nhi", "405"),
                (b"DELETE /metrics HTTP/1.1\r\n\r\n", "405"),
                (b"GET /metrics HTTP/1.1\r\nX: " + b"a" * 9000 + b"\r\n\r\n", "431"),
                (b"hello\r\n\r\n", "400")]:
            answer = http(port, request)
            self.assertTrue(answer.startswith("HTTP/1.1 %s " % status), (request[:30], answer[:80]))
            if request.startswith(b"HEAD"):
                self.assertTrue(answer.endswith("\r\n\r\n"), "HEAD has no body")

        # The same port for a second station: refused at start, saying why.
        second = subprocess.run([CLI, "station", "--metrics", "127.0.0.1:%d" % port, self.image],
                                capture_output=True, text=True, timeout=30, env=dict(os.environ, SYSFS_PATH=self.root))
        self.assertEqual(second.returncode, 2, second.stderr)
        self.assertIn("already in use", second.stderr)
        bad = subprocess.run([CLI, "station", "--metrics", "9464", self.image], capture_output=True, text=True, timeout=30)
        self.assertEqual(bad.returncode, 2, bad.stderr)

        # Scrapers that connect and then say nothing, more than the server takes at once: a
        # handset is flashed meanwhile and a signal stops the station at once.
        stuck = [socket.create_connection(("127.0.0.1", port)) for _ in range(20)]
        try:
            sim = self.plug("ttyUSB0", "M1", "1-4.1")
            self.assertEqual(st.wait_for(result_of("M1"))["result"], "success")
            self.assertTrue(sim.finish()["matches_expected"])
            # Their time runs out: the server answers again.
            answer = http(port, b"GET /metrics HTTP/1.1\r\n\r\n", timeout=20)
            self.assertIn('brenvik_station_runs_total{result="success"} 1\n', answer)
            self.assertIn('brenvik_station_handsets{state="done"} 1\n', answer)
            st.proc.send_signal(signal.SIGTERM)
            rc, err = st.finish()
            self.assertEqual(rc, 0, err)
        finally:
            for s in stuck:
                s.close()

    def test_prometheus_scrapes_two_stations(self):
        need("prometheus", "prometheus")
        ports = [free_port(), free_port()]
        prom_port = free_port()
        config = os.path.join(self.dir, "prometheus.yml")
        with open(config, "w") as f:
            f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                    "scrape_configs:\n  - job_name: brenvik-station\n    static_configs:\n"
                    "      - targets: ['127.0.0.1:%d', '127.0.0.1:%d']\n" % tuple(ports))
        prom = subprocess.Popen(["prometheus", "--config.file", config, "--storage.tsdb.path",
                                 os.path.join(self.dir, "tsdb"), "--web.listen-address", "127.0.0.1:%d" % prom_port],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        stations, sims = [], []
        try:
            # Two stations on two trees; each flashes two handsets, one of them failing.
            for i, port in enumerate(ports):
                root = os.path.join(self.dir, "sys%d" % i)
                os.makedirs(os.path.join(root, "class/tty"))
                log = os.path.join(self.dir, "station%d.log" % i)
                stations.append((Station(root, self.image, log, "--metrics", "127.0.0.1:%d" % port), log, root))
            for i, (st, log, root) in enumerate(stations):
                self.root = root
                sims.append(self.plug("ttyUSB0", "S%dA" % i, "1-1.1"))
                sims.append(self.plug("ttyUSB1", "S%dB" % i, "1-1.2", "--fault", "drop-after=140000"))
            for i, (st, log, root) in enumerate(stations):
                st.wait_for(result_of("S%dA" % i))
                st.wait_for(result_of("S%dB" % i))
            expected = sum(successes(log) for _, log, _ in stations)
            failed = sum(log_lines(log) for _, log, _ in stations) - expected
            self.assertEqual((expected, failed), (2, 2))

            def query(promql):
                url = "http://127.0.0.1:%d/api/v1/query?%s" % (prom_port, urllib.parse.urlencode({"query": promql}))
                with urllib.request.urlopen(url, timeout=5) as r:
                    result = json.load(r)["data"]["result"]
                return int(float(result[0]["value"][1])) if result else None

            got = {}
            deadline = time.monotonic() + 60
            while time.monotonic() < deadline:
                try:
                    got = {"up": query("sum(up{job='brenvik-station'})"),
                           "success": query("sum(brenvik_station_runs_total{result='success'})"),
                           "failed": query("sum(brenvik_station_failures_total)")}
                except OSError:
                    pass  # Prometheus is still starting
                if got == {"up": 2, "success": expected, "failed": failed}:
                    break
                time.sleep(0.5)
            self.assertEqual(got, {"up": 2, "success": expected, "failed": failed})
        finally:
            prom.terminate()
            try:
                prom.wait(timeout=30)
            except subprocess.TimeoutExpired:
                prom.kill()
                prom.wait()
            for st, _, _ in stations:
                st.proc.send_signal(signal.SIGTERM)
                st.finish()
            for sim in sims:
                sim.proc.kill()


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
