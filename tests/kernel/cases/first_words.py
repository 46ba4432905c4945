"""A handset that speaks first, on a ttyUSB index opened for the first time since the driver
loaded: the flash succeeds and the handset gets nothing but the flasher's packets, to the
last byte. It is flashed by the bench user through the USB device node that the udev rule
gives to plugdev. While the flasher holds it, and after, it is listed as the same handset,
and it is flashed again by its /dev/brenvik link, which then leads to the USB device node."""
import grp
import json
import os
import pwd
import stat
import subprocess
import time

from tests.kernel import handsets


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


def flash_into_sim(rig, handset, image, device, out, watch=None):
    """handset-sim at the gadget, speaking first; then the flash by the bench user. While it
    runs, `watch` is called until it returns something; its last answer comes back."""
    sim = subprocess.Popen([rig.sim_path, "--tty", handset.gadget_tty, "--out", out, "--expect", image,
                            "--rate", "64"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    time.sleep(1.0)  # its acknowledgement waits at the gadget before the PC opens anything
    flash = subprocess.Popen([rig.cli_path, "flash", image, "--device", device], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, **as_user(handsets.BENCH_USER))
    seen = None
    while watch and flash.poll() is None and not seen:
        seen = watch()
    out_text, err_text = flash.communicate(timeout=120)
    sim.wait(timeout=60)
    with open(os.path.join(out, "summary.json")) as f:
        summary = json.load(f)
    assert flash.returncode == 0, (flash.returncode, out_text, err_text, summary)
    assert summary["protocol_errors"] == [] and summary["matches_expected"] and summary["complete"], summary
    return seen


def run(rig):
    # The driver loaded anew: every ttyUSB index starts from the kernel's defaults (echo on).
    subprocess.run(["modprobe", "-r", "ipaq", "usbserial"], check=True)
    subprocess.run(["modprobe", "ipaq"], check=True)
    image = "/tmp/first-words.img"
    records = [(0x80001000 + i * 16384, bytes((i * 7 + j) & 0xFF for j in range(16384))) for i in range(8)]
    with open(image, "wb") as f:  # an .img: the boot part, then the records
        f.write(bytes(range(256)) * 512 + handsets.bin_stream(records))
    handset = rig.plug(serial="F125T001")
    tty = handset.tty()
    node = usb_node(handset)

    def plugdev_only():
        st = os.stat(node)
        assert (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)) == (0, rig.gid("plugdev"), 0o660), \
            (node, st.st_uid, st.st_gid, oct(st.st_mode))

    plugdev_only()
    held = flash_into_sim(rig, handset, image, tty, "/tmp/first-words-1",
                          watch=lambda: [h for h in listed(rig, handset.port) if h["driver"] == "usbfs"])
    # Held, it is the same handset at the same port, by its USB device node.
    assert held and held[0]["serial"] == handset.serial and held[0]["path"] == node, held

    # After: no driver has it (the driver's probe would reset the handset), and it is still
    # the one handset, flashed again by its link, also after udev saw it anew.
    after = listed(rig, handset.port)
    assert [(h["path"], h["serial"], h["driver"]) for h in after] == [(node, handset.serial, None)], after
    subprocess.run(["udevadm", "trigger", "--action=change", "--subsystem-match=usb"], check=True)
    rig.settle()
    plugdev_only()
    link = "/dev/brenvik/" + handset.serial
    assert os.path.realpath(link) == node, (link, os.path.realpath(link))
    flash_into_sim(rig, handset, image, link, "/tmp/first-words-2")

    # Unplugged while the flasher holds it: the same cause and words as a tty's hang-up, at once.
    slow = rig.plug(serial="F125T002")
    slow_tty = slow.tty()
    sim = subprocess.Popen([rig.sim_path, "--tty", slow.gadget_tty, "--rate", "16"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    flash = subprocess.Popen([rig.cli_path, "flash", image, "--device", slow_tty], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True)
    handsets.wait_for("the flash to hold the handset",
                      lambda: [h for h in listed(rig, slow.port) if h["driver"] == "usbfs"])
    time.sleep(1.0)
    slow.unplug()
    unplugged = time.monotonic()
    out_text, err_text = flash.communicate(timeout=30)
    rig.figure("usb_unplug_to_exit_seconds", round(time.monotonic() - unplugged, 2))
    sim.kill()
    assert flash.returncode == 1 and "the link hung up" in out_text + err_text, (flash.returncode, out_text, err_text)
