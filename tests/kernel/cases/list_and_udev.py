"""list on several buses, and the udev rule: what the real ipaq driver, sysfs and udev give."""
import json
import os
import pwd
import re
import stat
import subprocess
import time

SERIALS = ["0A1B2C3D", "CAFE0001", ""]


def run(rig):
    handsets = [rig.plug(serial=s) for s in SERIALS]
    ttys = [h.tty() for h in handsets]
    assert len(set(ttys)) == 3, ttys

    r = rig.cli("list", "--json")
    assert r.returncode == 0, r.stderr
    listed = {h["path"]: h for h in json.loads(r.stdout)}
    for handset, tty in zip(handsets, ttys):
        assert tty in listed, (tty, listed)
        assert listed[tty] == {"path": tty, "usb_id": "049f:0003", "serial": handset.serial or None,
                               "usb_port": handset.port, "name": None, "driver": "ipaq"}, listed[tty]
    assert [h["usb_port"] for h in listed.values()] != [None] * 3
    # The layout the fake sysfs trees of the other tests copy: the class link to the port's
    # tty folder under its usb-serial device, the driver link there, and no serial attribute
    # on a device without one.
    for handset, tty in zip(handsets, ttys):
        name = os.path.basename(tty)
        node = os.path.realpath("/sys/class/tty/" + name)
        device = os.path.dirname(os.path.dirname(node))
        assert node.endswith("/%s-1:1.1/%s/tty/%s" % (handset.port.split("-")[0], name, name)), node
        assert os.path.basename(os.readlink(device + "/driver")) == "ipaq"
        usb = os.path.dirname(os.path.dirname(device))
        assert os.path.exists(usb + "/serial") == bool(handset.serial), usb
    text = rig.cli("list").stdout
    for handset, tty in zip(handsets, ttys):
        assert tty in text and "usb port: " + handset.port in text, text

    for handset, tty in zip(handsets, ttys):
        st = os.stat(tty)
        assert (st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode)) == (0, rig.gid("plugdev"), 0o660), \
            (tty, st.st_uid, st.st_gid, oct(st.st_mode))
        link = "/dev/brenvik/" + handset.serial
        if handset.serial:
            assert os.path.realpath(link) == tty, (link, os.path.realpath(link), tty)
        props = rig.udev_properties(tty)
        assert props.get("ID_MM_DEVICE_IGNORE") == "1", props
    # The handset without a serial gets no link, nor /dev/brenvik/ itself as one.
    assert sorted(os.listdir("/dev/brenvik")) == sorted(s for s in SERIALS if s)

    # The bench's own user, in plugdev and not root, flashes through the link; the handset
    # without a serial by its tty.
    image = "/tmp/udev.img"
    rig.image(image, records=2)
    for handset, device in ((handsets[1], "/dev/brenvik/" + SERIALS[1]), (handsets[2], ttys[2])):
        handset.serve("--expect", image)
        r = rig.cli("flash", image, "--device", device, user="bench")
        assert r.returncode == 0, (device, r.stdout, r.stderr)
        assert handset.summary()["matches_expected"], device

    # A user outside plugdev is refused, told the path they named, the node refused and what
    # to do; nothing is taken from the driver.
    bench = pwd.getpwnam("bench")
    r = subprocess.run([rig.cli_path, "flash", image, "--device", ttys[0]], capture_output=True, text=True,
                       timeout=60, user=bench.pw_uid, group=bench.pw_gid, extra_groups=[])
    assert r.returncode == 3, (r.returncode, r.stdout, r.stderr)
    assert re.search(re.escape("cannot open " + ttys[0]) + r" \(its USB device /dev/bus/usb/\d+/\d+\): Permission "
                     r"denied: add the user to the group plugdev and install the udev rule", r.stdout + r.stderr), \
        (r.stdout, r.stderr)
    assert os.path.exists(ttys[0])

    # A tty another program holds is busy, and stays its: read by cat (seen by root among
    # the open files), or locked and made exclusive (the lock seen by the bench user too).
    hold = ("import fcntl, os, sys, termios, time\n"
            "fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)\n"
            "fcntl.flock(fd, fcntl.LOCK_EX); fcntl.ioctl(fd, termios.TIOCEXCL)\n"
            "print('held', flush=True); time.sleep(120)\n")
    for holder, user in ((["cat", ttys[0]], None), (["python3", "-c", hold, ttys[0]], "bench")):
        held = subprocess.Popen(holder, stdout=subprocess.PIPE, text=True)
        try:
            if holder[0] == "python3":
                assert held.stdout.readline() == "held\n"
            else:
                time.sleep(0.5)
            r = rig.cli("flash", image, "--device", ttys[0], user=user, timeout=60)
            assert r.returncode == 3, (holder[0], r.returncode, r.stdout, r.stderr)
            assert ttys[0] + " is busy" in r.stdout + r.stderr, (holder[0], r.stdout, r.stderr)
            assert held.poll() is None and os.path.exists(ttys[0]), holder[0]
        finally:
            held.kill()
            held.wait()

    # The links follow the handset: gone on unplug.
    handsets[0].unplug()
    handsets[0].gone()
    rig.settle()
    assert not os.path.exists("/dev/brenvik/" + SERIALS[0])
