"""The rig of the GUI tests: an X server, the Wine prefix with the handset's interface
registered, the UI driver under Wine, and handset-sim behind the interface's path.

While the rig is up it holds the prefix's device lock ($WINEPREFIX.devices.lock), which
the Windows tests' fixture takes too, so runs sharing a prefix take turns.
"""
import ctypes
import fcntl
import json
import os
import queue
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time

from tests.tools import need

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
GUID = "{25DBCE51-6C8F-4A72-8A6D-B54C2B4FC835}"
CLASS_KEY = r"HKLM\System\CurrentControlSet\Control\DeviceClasses" + "\\" + GUID


def interface_key(n=0):
    """The class's key of the n-th handset's interface (ROOT\\BRENVIK\\000n)."""
    return CLASS_KEY + "\\##?#ROOT#BRENVIK#%04d#" % n + GUID


ENUM_KEY = r"HKLM\System\CurrentControlSet\Enum\ROOT\BRENVIK"
FONT_LINK_KEY = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink"
# The dialog's and the boxes' fonts, linked to a font that has the Chinese glyphs.
LINKED_FONTS = ["MS Sans Serif", "Microsoft Sans Serif", "Tahoma", "Tahoma Bold"]
CJK_FONT = "wqy-microhei.ttc,WenQuanYi Micro Hei"
DISPLAY_NUMBER = int(os.environ.get("BRENVIK_GUI_DISPLAY", "91"))


def _die_with_parent():
    """For helpers we start: they end when the test runner is killed (a ctest time-out)."""
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def wine_path(unix_path):
    """The Windows name of a Linux path, through Wine's Z: drive."""
    return "Z:" + os.path.abspath(unix_path).replace("/", "\\")


class RigError(Exception):
    pass


class Rig:
    def __init__(self, locale):
        arch = os.environ.get("WINEARCH", "win32")
        default_prefix = "wineprefix64" if arch == "win64" else "wineprefix"
        self.prefix = os.environ.get("WINEPREFIX", os.path.join(ROOT, "build", default_prefix))
        self.locale = locale
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEARCH=arch,
                        WINEDLLOVERRIDES="mscoree,mshtml=", LANG=locale, LC_ALL=locale)
        self.lock_file = None
        self.xvfb = None
        self.tmp = tempfile.mkdtemp(prefix="brenvik-gui-")

    # --- set-up and tear-down -------------------------------------------------------------
    def up(self):
        self._make_prefix()
        self._take_lock(float(os.environ.get("BRENVIK_DEVICES_LOCK_WAIT", "240")))
        self._start_x()
        subprocess.run(["wineserver", "-p30"], env=self.env, timeout=30, check=False,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.import_registry(self._registry_file())
        self.remove_link()

    def down(self):
        try:
            self.remove_link()
            self.unregister_handset()
        finally:
            if self.xvfb:
                self.xvfb.terminate()
                self.xvfb.stdout.close()
                try:
                    self.xvfb.wait(10)
                except subprocess.TimeoutExpired:
                    self.xvfb.kill()
            if self.lock_file:
                self.lock_file.close()
            shutil.rmtree(self.tmp, ignore_errors=True)

    def _make_prefix(self):
        script = f'source "{ROOT}/scripts/wine-env.sh" && brenvik_wine_prefix'
        subprocess.run(["bash", "-c", script], env=self.env, timeout=400, check=True,
                       stdin=subprocess.DEVNULL)

    def _take_lock(self, wait):
        self.lock_file = open(self.prefix + ".devices.lock", "a")
        end = time.monotonic() + wait
        while True:
            try:
                fcntl.flock(self.lock_file, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return
            except BlockingIOError:
                if time.monotonic() > end:
                    raise RigError(f"another run held the Wine devices of {self.prefix} for {wait} s")
                time.sleep(0.2)

    def _start_x(self):
        need("Xvfb", "xvfb", RigError)
        log_path = os.path.join(self.tmp, "xvfb.log")
        number = DISPLAY_NUMBER
        if os.path.exists(f"/tmp/.X{number}-lock"):  # taken: let the server pick a free one
            number = None
        args = ["Xvfb", f":{number}"] if number is not None else ["Xvfb", "-displayfd", "1"]
        with open(log_path, "w") as log:
            self.xvfb = subprocess.Popen(args + ["-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=log,
                                         preexec_fn=_die_with_parent)
        if number is None:
            number = int(self.xvfb.stdout.readline().strip() or -1)
        socket = f"/tmp/.X11-unix/X{number}"
        for _ in range(100):
            if os.path.exists(socket):
                break
            if self.xvfb.poll() is not None:
                raise RigError("Xvfb ended: " + _read(log_path))
            time.sleep(0.1)
        self.display = f":{number}"
        self.env["DISPLAY"] = self.display

    # --- the registry -------------------------------------------------------------------
    def wine(self, *args, timeout=60):
        out = os.path.join(self.tmp, "wine.out")
        with open(out, "wb") as f:  # a file, not a pipe: Wine's services would hold a pipe open
            r = subprocess.run(["timeout", "--kill-after=5", str(timeout), "wine", *args], env=self.env,
                               stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT)
        with open(out, "rb") as f:
            return r.returncode, f.read().decode("utf-8", "replace")

    def _registry_file(self, handset=True, fonts=True, instance=0, location=None):
        lines = ["Windows Registry Editor Version 5.00", ""]
        if handset:
            key = interface_key(instance)
            lines += [f"[{key}]", '"DeviceInstance"="ROOT\\\\BRENVIK\\\\%04d"' % instance, "",
                      f"[{key}\\#\\Control]", '"Linked"=dword:00000001', "",
                      f"[{ENUM_KEY}\\%04d]" % instance, f'"ClassGUID"="{GUID}"']
            if location is not None:
                escaped = location.replace("\\", "\\\\").replace('"', '\\"')
                lines += [f'"LocationInformation"="{escaped}"']
            lines += [""]
        if fonts:
            value = ",".join("%02x" % b for b in (CJK_FONT + "\0\0").encode("utf-16-le"))
            lines += [f"[{FONT_LINK_KEY}]"] + [f'"{name}"=hex(7):{value}' for name in LINKED_FONTS] + [""]
        path = os.path.join(self.tmp, "rig.reg")
        with open(path, "wb") as f:
            f.write(b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        return path

    def import_registry(self, path):
        code, out = self.wine("reg", "import", wine_path(path))
        if code != 0:
            raise RigError("reg import failed: " + out)

    def register_handset(self, instance=0, location=None):
        """The handset's interface registered as the system does at its arrival; `location` is
        where the system says it is plugged in ("Port_#0004.Hub_#0003")."""
        self.import_registry(self._registry_file(fonts=False, instance=instance, location=location))

    def unregister_handset(self):
        for key in (CLASS_KEY, ENUM_KEY):
            self.wine("reg", "delete", key, "/f")

    # --- the handset's path -------------------------------------------------------------
    @property
    def interface_link(self):
        return self.link_of(0)

    def link_of(self, instance):
        """Where the n-th handset's interface path leads: a Sim's pty is linked here."""
        return os.path.join(self.prefix, "dosdevices", "root#brenvik#%04d#" % instance + GUID.lower())

    def remove_link(self):
        if os.path.islink(self.interface_link):
            os.unlink(self.interface_link)

    def screenshot(self, path, rect=None):
        args = ["import", "-display", self.display, "-window", "root"]
        if rect:
            left, top, right, bottom = rect
            args += ["-crop", f"{right - left}x{bottom - top}+{left}+{top}", "+repage"]
        subprocess.run(args + [path], timeout=30, check=True)


class Driver:
    """brenvik-uidriver under Wine, one JSON command and answer per line."""

    def __init__(self, rig, exe):
        self.rig = rig
        self.err = open(os.path.join(rig.tmp, "driver.err"), "ab")
        desktop = f"BrenvikGui{os.getpid()}"
        self.proc = subprocess.Popen(["timeout", "--kill-after=5", "900", "wine", exe, desktop], env=rig.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.err)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self("hello", timeout=60)

    def _read(self):
        # Only this thread touches stdout: a close from elsewhere would wait for its read.
        with self.proc.stdout:
            for line in self.proc.stdout:
                self.lines.put(line)
        self.lines.put(None)

    def __call__(self, cmd, timeout=30, **args):
        """Sends a command; returns the answer. An answer with ok false is returned as is."""
        if "timeout_ms" in args:
            timeout = max(timeout, args["timeout_ms"] / 1000 + 10)
        self.proc.stdin.write((json.dumps(dict(cmd=cmd, **args)) + "\n").encode())
        self.proc.stdin.flush()
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise RigError(f"the driver gave no answer to {cmd} within {timeout} s")
        if line is None:
            raise RigError(f"the driver ended during {cmd}")
        return json.loads(line)

    def close(self):
        try:
            self("kill", timeout=15)
            self.proc.stdin.write(b'{"cmd":"quit"}\n')
            self.proc.stdin.close()
            self.proc.wait(15)
        except Exception:
            self.proc.kill()
            self.proc.wait(5)
        finally:
            self.err.close()


class Sim:
    """handset-sim for one session, presented as the handset's interface (or `link`)."""

    def __init__(self, rig, sim, *args, expect=None, link=None, timeout=20, linger=2):
        self.out = tempfile.mkdtemp(dir=rig.tmp, prefix="sim-")
        self.link = link or rig.interface_link
        cmd = [sim, "--link", self.link, "--out", self.out, "--timeout", str(timeout),
               "--linger", str(linger), *args]
        if expect:
            cmd += ["--expect", expect]
        self.err = os.path.join(self.out, "sim.err")
        with open(self.err, "w") as err:
            self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=err,
                                         preexec_fn=_die_with_parent)
        first = self.proc.stdout.readline()  # the pty's path: the link is there from now on
        self.proc.stdout.close()
        if not first:
            raise RigError("handset-sim did not start: " + _read(self.err))

    def finish(self, timeout=30):
        try:
            self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.stop()
            raise RigError("handset-sim did not end its session: " + _read(self.err))
        return self.summary()

    def summary(self):
        path = os.path.join(self.out, "summary.json")
        if not os.path.exists(path):
            return None
        with open(path) as f:
            return json.load(f)

    def received(self, name):
        with open(os.path.join(self.out, name), "rb") as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)
        if os.path.islink(self.link):
            os.unlink(self.link)


def _read(path):
    with open(path, errors="replace") as f:
        return f.read()


# --- images ---------------------------------------------------------------------------
def bin_stream(records, entry=0x80001000):
    out = b"B000FF\n" + struct.pack("<II", 0x80001000, sum(len(d) for _, d in records))
    for address, data in records:
        out += struct.pack("<III", address, len(data), sum(data) & 0xFFFFFFFF) + data
    return out + struct.pack("<III", 0, entry, 0)


def records(count, size):
    return [(0x80001000 + i * size, os.urandom(size)) for i in range(count)]


def img_image(count=16, size=8192):
    return os.urandom(0x20000) + bin_stream(records(count, size))
