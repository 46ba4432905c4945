"""Flashes through the ipaq driver into handset-sim behind a gadget, and unplugs mid-flash. A
second flasher naming the tty of a handset being flashed hears that it is busy."""
import json
import os
import signal
import subprocess
import time


def flash(rig, image, *devices, args=(), user=None, timeout=120):
    command = ["flash", image, *args]
    for device in devices:
        command += ["--device", device]
    return rig.cli(*command, user=user, timeout=timeout)


def run(rig):
    image, tiny = "/tmp/flash.img", "/tmp/tiny.img"
    rig.image(image, records=8)
    rig.image(tiny, records=1, size=512)

    # A flash through the real driver: success, the handset has the image's bytes. The first
    # open of a fresh ttyUSB index, with the handset speaking first.
    handset = rig.plug(serial="F1A5H001")
    tty = handset.tty()
    handset.serve("--expect", image)
    started = time.monotonic()
    r = flash(rig, image, tty)
    rig.figure("flash_256KiB_seconds", round(time.monotonic() - started, 2))
    summary = handset.summary()
    assert r.returncode == 0, (r.returncode, r.stdout, r.stderr)
    assert summary["matches_expected"] and summary["protocol_errors"] == [], summary

    # The fixed cost of a run: a tiny image, the same index opened again.
    costs = []
    for _ in range(3):
        handset.serve("--expect", tiny)
        started = time.monotonic()
        r = flash(rig, tiny, "/dev/brenvik/F1A5H001")  # its tty is gone since the first flash
        costs.append(time.monotonic() - started)
        assert r.returncode == 0 and handset.summary()["matches_expected"], (r.stdout, r.stderr)
    rig.figure("flash_fixed_cost_seconds_median", round(sorted(costs)[1], 2))
    handset.remove()
    rig.handsets.remove(handset)

    # A second flasher names the tty, gone while the first talks to the handset over USB.
    busy = rig.plug(serial="F1A5H003")
    tty = busy.tty()
    busy.serve("--expect", image, "--rate", "48")
    first = subprocess.Popen([rig.cli_path, "flash", image, "--device", tty],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.monotonic() + 20
    while os.path.exists(tty) and time.monotonic() < deadline:
        time.sleep(0.05)
    r = flash(rig, image, tty, timeout=60)
    assert r.returncode == 3, (r.returncode, r.stdout, r.stderr)
    assert tty + " is busy: another program is flashing this handset" in r.stdout + r.stderr, (r.stdout, r.stderr)
    out, err = first.communicate(timeout=120)
    assert first.returncode == 0 and busy.summary()["matches_expected"], (out, err)
    busy.remove()
    rig.handsets.remove(busy)

    # Unplugged mid-flash: fails at once with the link's cause, logged, nothing hangs.
    log = "/tmp/unplug.log"
    slow = rig.plug(serial="F1A5H002")
    tty = slow.tty()
    slow.serve("--rate", "16")
    run = subprocess.Popen([rig.cli_path, "flash", image, "--device", tty, "--log", log],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(3)
    assert run.poll() is None, run.communicate()
    slow.unplug()
    unplugged = time.monotonic()
    out, err = run.communicate(timeout=30)
    rig.figure("unplug_to_exit_seconds", round(time.monotonic() - unplugged, 2))
    assert run.returncode == 1, (run.returncode, out, err)
    assert "the link hung up" in out + err, (out, err)
    with open(log) as f:
        lines = [json.loads(line) for line in f]
    assert len(lines) == 1 and lines[0]["result"] == "failed", lines
    slow.remove()
    rig.handsets.remove(slow)

    # flash --all over four handsets, one of them unplugged mid-flash: the other three succeed.
    four = [rig.plug(serial="F1A5H01%d" % i) for i in range(4)]
    for i, h in enumerate(four):
        h.tty()
        h.serve("--expect", image, *(["--rate", "16"] if i == 2 else []))
    run = subprocess.Popen([rig.cli_path, "flash", image, "--all", "--json"],
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    time.sleep(3)
    four[2].unplug()
    out, err = run.communicate(timeout=120)
    assert run.returncode == 1, (run.returncode, out, err)
    summary = [e for e in map(json.loads, out.splitlines()) if e.get("event") == "summary"][0]
    assert sorted(r["result"] for r in summary["runs"]) == ["failed", "success", "success", "success"], out
    for i, h in enumerate(four):
        if i != 2:
            assert h.summary()["matches_expected"], i
