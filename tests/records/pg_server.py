"""A PostgreSQL server of the test's own: initdb and pg_ctl from Debian's postgresql in a
scratch folder, on a Unix socket only (no TCP), with a password. PostgreSQL refuses to run as
root, so under root (CI) the server runs as `nobody`."""
import glob
import os
import shutil
import subprocess
import tempfile
import time

USER = "brenvik"
PASSWORD = "s3cr'et pw"  # an apostrophe and a blank: it must be percent-encoded in a URL


def pg_bin():
    found = sorted(glob.glob("/usr/lib/postgresql/*/bin/pg_ctl"))
    if not found:
        raise RuntimeError("no PostgreSQL server: apt-get install postgresql")
    return os.path.dirname(found[-1])


class PgServer:
    def __init__(self):
        self.dir = tempfile.mkdtemp(prefix="records-pg-")
        os.chmod(self.dir, 0o755)
        self.data = os.path.join(self.dir, "data")
        self.socket = os.path.join(self.dir, "sock")
        os.mkdir(self.socket)
        pwfile = os.path.join(self.dir, "pw")
        with open(pwfile, "w") as f:
            f.write(PASSWORD + "\n")
        self.run_as = []
        if os.geteuid() == 0:
            self.run_as = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]
            os.mkdir(self.data, 0o700)
            for path in (self.socket, pwfile, self.data):
                shutil.chown(path, "nobody", "nogroup")
        self.bin = pg_bin()
        self._run("initdb", "-D", self.data, "-U", USER, "--pwfile", pwfile, "--auth=scram-sha-256",
                  "-E", "UTF8", "--locale=C")
        os.unlink(pwfile)
        self.start()
        subprocess.run(["psql", self.url(), "-qc", "CREATE DATABASE records"], check=True, capture_output=True)

    def _run(self, tool, *args):
        done = subprocess.run([*self.run_as, os.path.join(self.bin, tool), *args],
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, cwd=self.dir)
        if done.returncode:
            raise RuntimeError("%s failed: %s" % (tool, done.stderr))

    def start(self):
        self._run("pg_ctl", "-D", self.data, "-w", "-l", os.path.join(self.data, "server.log"), "-o",
                  "-c listen_addresses='' -k %s -c max_connections=50 -c fsync=off" % self.socket, "start")

    def stop(self, mode="fast"):
        self._run("pg_ctl", "-D", self.data, "-w", "-m", mode, "stop")

    def url(self, db="postgres", password=PASSWORD):
        from urllib.parse import quote
        return "postgresql://%s:%s@/%s?host=%s" % (USER, quote(password, safe=""), db, quote(self.socket, safe=""))

    def new_database(self):
        """The URL of a database of its own, for one test."""
        name = "t%d" % time.monotonic_ns()
        subprocess.run(["psql", self.url(), "-qc", "CREATE DATABASE " + name], check=True, capture_output=True)
        return self.url(name)

    def close(self):
        try:
            self.stop("immediate")
        except RuntimeError:
            pass
        shutil.rmtree(self.dir, ignore_errors=True)
