"""A handset that speaks first, on a ttyUSB index opened for the first time since the driver
loaded: the flash succeeds and the handset gets nothing but the flasher's packets. It is
flashed by the bench user through the USB device node that the udev rule gives to plugdev;
while the flasher holds it, it is listed as the same handset, and its tty comes back after."""
import json
import os
import pwd
import grp
import stat
import subprocess
import time

import handsets


def as_user(name):
    entry = pwd.getpwnam(name)
    return dict(user=entry.pw_uid, group=entry.pw_gid,
                extra_groups=[g.gr_gid for g in grp.getgrall() if name in g.gr_mem])


def usb_node(handset):
    uevent = handsets.read("/sys/bus/usb/devices/%s/uevent" % handset.port)
    return "/dev/" + dict(line.split("=", 1) for line in uevent.splitlines())["DEVNAME"]


def listed(rig, port):
    r = rig.cli("list", "--json")
    assert r.returncode == 0, r.stderr
    return [h for h in json.loads(r.stdout) if h["usb_port"] == port]


def run(rig):
    # The driver loaded anew: every ttyUSB index starts from the kernel's defaults (echo on).
    subprocess.run(["modprobe", "-r", "ipaq", "usbserial"], check=True)
    subprocess.run(["modprobe", "ipaq"], check=True)
    image, out = "/tmp/first-words.img", "/tmp/first-words"
    rig.image(image, records=8)
    handset = rig.plug(serial="F125T001")
    tty = handset.tty()
    node = usb_node(handset)
    st = os.stat(node)
    assert (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)) == (0, rig.gid("plugdev"), 0o660), \
        (node, st.st_uid, st.st_gid, oct(st.st_mode))

    # The handset's acknowledgement waits at the gadget before the PC opens anything; slow
    # enough that the flash can be watched while it holds the handset.
    sim = subprocess.Popen([rig.sim_path, "--tty", handset.gadget_tty, "--out", out, "--expect", image,
                            "--rate", "64"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    time.sleep(1.0)
    flash = subprocess.Popen([rig.cli_path, "flash", image, "--device", tty], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, **as_user(handsets.BENCH_USER))
    held = []
    while flash.poll() is None and not held:
        held = [h for h in listed(rig, handset.port) if h["driver"] == "usbfs"]
    flash_out, flash_err = flash.communicate(timeout=120)
    sim.wait(timeout=60)
    with open(os.path.join(out, "summary.json")) as f:
        summary = json.load(f)
    assert flash.returncode == 0, (flash.returncode, flash_out, flash_err, summary)
    assert summary["protocol_errors"] == [] and summary["matches_expected"], summary
    # Held, it is the same handset at the same port, by its USB device node.
    assert held and held[0]["serial"] == handset.serial and held[0]["path"] == node, held

    # Given back: the driver has it again, with a tty, and it is still the one handset.
    back = handsets.wait_for("the tty back", lambda: [h for h in listed(rig, handset.port) if h["driver"] == "ipaq"])
    assert len(back) == 1 and back[0]["serial"] == handset.serial, back
    assert os.path.exists(back[0]["path"]), back
