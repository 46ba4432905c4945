"""Handsets on the guest's dummy_hcd buses, and the programs the cases run. Each handset is a
configfs gadget on its own UDC, so on its own bus: port path B-1 on bus B."""
import glob
import grp
import json
import os
import shutil
import subprocess
import time

# The Wine rig writes the image format too; its module imports only the standard library.
from tests.gui.gui_rig import bin_stream  # noqa: F401  (the cases take it from here too)

CONFIGFS = "/sys/kernel/config/usb_gadget"
BUSES = 8
BENCH_USER = "bench"  # not root, in plugdev: the bench's own user


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def read(path):
    with open(path) as f:
        return f.read().strip()


def wait_for(what, check, timeout=20.0, step=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("waited %.0f s for %s" % (timeout, what))
        time.sleep(step)


class Gadget:
    """A handset made by hand in configfs: an ACM function under the handset's USB id, so
    that ipaq binds it. Its tty at the gadget's end is /dev/ttyGSn."""

    def __init__(self, rig, udc, serial, usb_id, function="acm", plug=True):
        self.rig, self.udc, self.serial = rig, udc, serial
        self.function = function + ".gs0"
        self.name = "rig-" + udc.replace(".", "-")
        self.dir = os.path.join(CONFIGFS, self.name)
        vid, pid = usb_id.split(":")
        os.makedirs(self.dir)
        write(os.path.join(self.dir, "idVendor"), "0x" + vid)
        write(os.path.join(self.dir, "idProduct"), "0x" + pid)
        strings = os.path.join(self.dir, "strings", "0x409")
        os.makedirs(strings)
        write(os.path.join(strings, "manufacturer"), "Brenvik rig")
        write(os.path.join(strings, "product"), "handset")
        if serial:
            write(os.path.join(strings, "serialnumber"), serial)
        function = os.path.join(self.dir, "functions", self.function)
        os.makedirs(function)
        config = os.path.join(self.dir, "configs", "c.1")
        os.makedirs(config)
        os.symlink(function, os.path.join(config, self.function))
        self.gadget_tty = "/dev/ttyGS" + read(os.path.join(function, "port_num"))
        if plug:
            self.plug()

    @property
    def bus_dir(self):
        return glob.glob("/sys/devices/platform/dummy_hcd.%s/usb*" % self.udc.split(".")[1])[0]

    @property
    def port(self):
        return os.path.basename(self.bus_dir).replace("usb", "") + "-1"

    def plug(self):
        write(os.path.join(self.dir, "UDC"), self.udc)

    def unplug(self):
        write(os.path.join(self.dir, "UDC"), "\n")

    def tty(self, timeout=20.0, raw=True):
        """The host's /dev/ttyUSBn for this handset, once udev has made it. raw: made raw
        before any handset speaks on it. A fresh ttyUSB starts with echo on, and echoes a
        handset's first words back to it before brenvik-cli makes the line raw; the
        first_open_echo case is that fault, and the other cases keep clear of it. The
        settings last while the device stays plugged in."""
        def found():
            names = glob.glob(os.path.join(self.bus_dir, "*-1", "*-1:1.*", "ttyUSB*"))
            if names and os.path.exists("/dev/" + os.path.basename(names[0])):
                return "/dev/" + os.path.basename(names[0])
            return None
        path = wait_for("the tty of the handset on " + self.udc, found, timeout)
        self.rig.settle()
        if raw:
            subprocess.run(["stty", "-F", path, "raw", "-echo"], check=True)
        return path

    def gone(self, timeout=20.0):
        wait_for("the handset on %s to leave" % self.udc,
                 lambda: not glob.glob(os.path.join(self.bus_dir, "*-1")), timeout)

    def serve(self, *args, out=None):
        """handset-sim behind this handset's gadget tty: the handset's own side of the cable."""
        self.out = out or "/tmp/sim-%s-%d" % (self.name, time.monotonic_ns())
        self.sim = subprocess.Popen([self.rig.sim_path, "--tty", self.gadget_tty, "--out", self.out, *args],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        return self

    def summary(self, timeout=60):
        """What handset-sim saw, once it has ended."""
        try:
            self.sim.wait(timeout=timeout)
        finally:
            if self.sim.poll() is None:
                self.sim.kill()
        with open(os.path.join(self.out, "summary.json")) as f:
            return json.load(f)

    def remove(self):
        if getattr(self, "sim", None) and self.sim.poll() is None:
            self.sim.kill()
            self.sim.wait()
        if read(os.path.join(self.dir, "UDC")):
            self.unplug()
        os.unlink(os.path.join(self.dir, "configs", "c.1", self.function))
        for sub in ("configs/c.1", "functions/" + self.function, "strings/0x409", ""):
            os.rmdir(os.path.join(self.dir, sub))


class Rig:
    def __init__(self, config, figures):
        self.config, self.figures = config, figures
        self.cli_path, self.sim_path = config["cli"], config.get("sim")
        self.source = config["source"]
        self.handsets = []

    def start(self):
        write("/etc/modprobe.d/brenvik-rig.conf",
              "# A real handset's interface is vendor-specific: cdc_acm must not take it.\n"
              "blacklist cdc_acm\ninstall cdc_acm /bin/false\n")
        if self.config.get("udev_rule", True):
            shutil.copy(os.path.join(self.source, "packaging", "70-brenvik.rules"), "/etc/udev/rules.d/")
        subprocess.run(["udevadm", "control", "--reload"], check=True)
        subprocess.run(["modprobe", "dummy_hcd", "num=%d" % BUSES], check=True)
        for module in ("libcomposite", "usb_f_acm", "usb_f_serial", "ipaq"):
            subprocess.run(["modprobe", module], check=True)
        if not os.path.ismount("/sys/kernel/config"):
            subprocess.run(["mount", "-t", "configfs", "configfs", "/sys/kernel/config"], check=True)
        try:
            grp.getgrnam("plugdev")
        except KeyError:
            subprocess.run(["groupadd", "-r", "plugdev"], check=True)
        subprocess.run(["useradd", "-M", "-G", "plugdev", BENCH_USER], check=True)
        self.settle()

    def settle(self):
        subprocess.run(["udevadm", "settle", "--timeout=20"], check=False)

    def udcs(self):
        return sorted(os.listdir("/sys/class/udc"), key=lambda n: int(n.split(".")[1]))

    def free_udc(self):
        used = {h.udc for h in self.handsets}
        return next(u for u in self.udcs() if u not in used)

    def plug(self, serial="", usb_id="049f:0003", udc=None, function="acm", plug=True):
        """A handset by hand on a free bus (or the one named). function: "acm" (a control
        interface 0 that takes the line state, the link on interface 1), or "gser" (one
        interface with the bulk pair, which refuses it). plug=False: made, not yet plugged in."""
        handset = Gadget(self, udc or self.free_udc(), serial, usb_id, function, plug)
        self.handsets.append(handset)
        return handset

    def unplug_all(self):
        for handset in self.handsets:
            try:
                handset.remove()
            except OSError:
                pass
        self.handsets = []
        self.settle()

    def cli(self, *args, user=None, timeout=120, **kw):
        """brenvik-cli, as root or as the bench user; its output as text."""
        extra = {}
        if user:
            import pwd
            entry = pwd.getpwnam(user)
            extra = dict(user=entry.pw_uid, group=entry.pw_gid,
                         extra_groups=[g.gr_gid for g in grp.getgrall() if user in g.gr_mem])
        return subprocess.run([self.cli_path, *args], capture_output=True, text=True, timeout=timeout,
                              **extra, **kw)

    def image(self, path, records=8, size=16384):
        data = [(0x80001000 + i * size, bytes((i * 7 + j) & 0xFF for j in range(size))) for i in range(records)]
        with open(path, "wb") as f:  # an .img: the boot part, then the records
            f.write(bytes(range(256)) * 512 + bin_stream(data))
        return data

    def gid(self, group):
        return grp.getgrnam(group).gr_gid

    def udev_properties(self, device):
        out = subprocess.run(["udevadm", "info", "--query=property", "--name", device],
                             capture_output=True, text=True, check=True).stdout
        return dict(line.split("=", 1) for line in out.splitlines() if "=" in line)

    def figure(self, name, value):
        self.figures[name] = value
