"""handset-sim as a USB device of its own (--gadget), flashed through the real ipaq driver.
It speaks as soon as its port is up, on a ttyUSB index opened for the first time since the
driver loaded: the tty's default echo must not reach it. A gadget that a killed sim left
bound is cleared by the next start on that UDC, and an ended sim leaves none. Started as a
shell job (its own process group), it serves from a child: SIGKILL to the job's process
ends that child too, and the UDC is free again. A serial is refused before anything is made
when configfs would not take it whole (its newline included) or it holds a control
character; the longest one it takes is listed whole."""
import json
import os
import signal
import subprocess

from tests.kernel import handsets

SERIAL = "51AD0001"


def start(rig, udc, image, out, serial=SERIAL, **kw):
    sim = subprocess.Popen([rig.sim_path, "--gadget", udc, "--serial", serial, "--out", out, "--expect", image],
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, **kw)

    def listed():
        r = rig.cli("list", "--json")
        return r.returncode == 0 and [h for h in json.loads(r.stdout) if h["serial"] == serial]
    return sim, handsets.wait_for("handset-sim's gadget on the host", listed, 30)[0]


def run(rig):
    rig.unplug_all()
    subprocess.run(["modprobe", "-r", "ipaq", "usbserial"], check=True)
    subprocess.run(["modprobe", "ipaq"], check=True)
    image = "/tmp/sim-gadget.img"
    rig.image(image, records=8)
    udc = rig.free_udc()
    gadget = os.path.join(handsets.CONFIGFS, "brenvik-sim-" + udc)

    for serial in ["A" * 126, "AB\nCD"]:
        r = subprocess.run([rig.sim_path, "--gadget", udc, "--serial", serial], capture_output=True, text=True,
                           timeout=30)
        assert r.returncode == 2 and "serial number" in r.stderr, (serial, r.returncode, r.stderr)
        assert not os.path.exists(gadget)
    longest = "S" * 125
    sim, found = start(rig, udc, image, "/tmp/sim-gadget-longest", serial=longest)
    assert found["serial"] == longest, found
    sim.send_signal(signal.SIGTERM)
    sim.wait(timeout=30)

    # Killed while plugged in: its gadget stays behind, bound, until the next start clears it.
    sim, _ = start(rig, udc, image, "/tmp/sim-gadget-killed")
    sim.send_signal(signal.SIGKILL)
    sim.wait(timeout=10)
    assert os.path.isdir(gadget)

    out = "/tmp/sim-gadget-leader"
    sim, _ = start(rig, udc, image, out, process_group=0)
    sim.send_signal(signal.SIGKILL)
    sim.wait(timeout=10)

    def child_gone():
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    if out.encode() in f.read():
                        return False
            except OSError:
                pass
        return True
    handsets.wait_for("the serving child to end with its stand-in", child_gone, 20)
    assert not os.path.exists(gadget)  # it unplugged and removed its gadget on its way out

    sim, found = start(rig, udc, image, "/tmp/sim-gadget")
    assert (found["usb_id"], found["driver"]) == ("049f:0003", "ipaq"), found
    r = rig.cli("flash", image, "--device", found["path"], "--timeout", "10", timeout=120)
    assert r.returncode == 0, (r.returncode, r.stdout, r.stderr)
    sim.wait(timeout=30)
    with open("/tmp/sim-gadget/summary.json") as f:
        summary = json.load(f)
    assert summary["matches_expected"] and summary["protocol_errors"] == [], summary
    assert not os.path.exists(gadget)  # removed on its way out
