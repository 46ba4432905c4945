"""The package's service under real systemd: installed with dpkg -i, a handset plugged in is
flashed as the unit's own user through the udev rule; stop lets a flash finish; a stop after a
failed flash, or one that stops a flash, leaves the unit inactive, not failed; an image that
cannot be read fails it once, without restarts; a killed station is restarted."""
import json
import os
import re
import subprocess
import time

from tests.kernel.handsets import read, wait_for

DEFAULTS = "/etc/default/brenvik-station"
LOG = "/var/log/brenvik/station.log"


def systemctl(*args, timeout=120):
    return subprocess.run(["systemctl", *args], capture_output=True, text=True, timeout=timeout)


def main_pid():
    pid = systemctl("show", "-p", "MainPID", "--value", "brenvik-station").stdout.strip()
    return int(pid or 0)


def state():
    out = systemctl("show", "-p", "ActiveState", "-p", "Result", "-p", "ExecMainStatus", "-p", "NRestarts",
                    "brenvik-station").stdout
    return dict(line.split("=", 1) for line in out.split())


def settled(active):
    try:
        return wait_for("the unit " + active, lambda: state()["ActiveState"] == active and state(), 60)
    except AssertionError as e:
        raise AssertionError((str(e), state(), journal()[-3000:]))


def journal():
    return subprocess.run(["journalctl", "-u", "brenvik-station", "-o", "cat", "--no-pager"],
                          capture_output=True, text=True).stdout


def set_options(options):
    text = read(DEFAULTS)
    text = re.sub(r"(?m)^BRENVIK_STATION_OPTIONS=.*$", "BRENVIK_STATION_OPTIONS=" + options, text)
    with open(DEFAULTS, "w") as f:
        f.write(text + "\n")


def log_lines():
    if not os.path.exists(LOG):
        return []
    with open(LOG) as f:
        return [json.loads(line) for line in f]


def plugged_and_served(rig, serial, *sim_args):
    """A handset plugged in; handset-sim speaks once the station has opened its port."""
    handset = rig.plug(serial=serial)
    handset.tty(raw=False)
    wait_for("the station to start on " + serial, lambda: "started: " in journal() and serial in journal(), 30)
    time.sleep(0.3)
    return handset.serve(*sim_args)


def run(rig):
    r = subprocess.run(["dpkg", "-i", rig.config["deb"]], capture_output=True, text=True)
    assert r.returncode == 0, r.stdout + r.stderr
    subprocess.run(["udevadm", "control", "--reload"], check=True)
    image = read(DEFAULTS).split("BRENVIK_STATION_IMAGE=")[1].split()[0]
    os.makedirs(os.path.dirname(image), exist_ok=True)
    rig.image(image, records=8)

    # The example options, as the file writes them: the station gets each as one argument.
    example = re.search(r"For example: (.*)", read(DEFAULTS)).group(1)
    set_options(example)
    assert systemctl("restart", "brenvik-station").returncode == 0
    pid = wait_for("the station's process", main_pid, 20)
    argv = open("/proc/%d/cmdline" % pid).read().split("\0")
    assert ["--usb-port", "1-1.*"] == argv[argv.index("--usb-port"):argv.index("--usb-port") + 2], argv
    assert ["--serial", "0123"] == argv[argv.index("--serial"):argv.index("--serial") + 2], argv

    # A handset plugged in is flashed by the unit's own user, in plugdev, through the rule.
    set_options("--serial 5E")
    assert systemctl("restart", "brenvik-station").returncode == 0
    pid = wait_for("the station's process", main_pid, 20)
    status = read("/proc/%d/status" % pid)
    uid = int(re.search(r"Uid:\s+(\d+)", status).group(1))
    groups = re.search(r"Groups:\s*(.*)", status).group(1).split()
    assert uid != 0 and str(rig.gid("plugdev")) in groups, status
    handset = plugged_and_served(rig, "5E000001", "--expect", image)
    wait_for("the run's log line", lambda: len(log_lines()) == 1, 60)
    assert handset.summary()["matches_expected"]
    assert log_lines()[0]["result"] == "success", log_lines()
    text = journal()
    assert re.search(r"result: /dev/ttyUSB\d+ .*5E000001.*: success", text), text
    assert "\x1b" not in text, text  # plain lines, no terminal codes

    # A stop during a flash lets it finish, well within TimeoutStopSec.
    slow = plugged_and_served(rig, "5E000002", "--expect", image, "--rate", "48")
    time.sleep(1)
    started = time.monotonic()
    assert systemctl("stop", "brenvik-station", timeout=300).returncode == 0
    rig.figure("service_stop_during_flash_seconds", round(time.monotonic() - started, 1))
    assert slow.summary()["matches_expected"]
    assert [line["result"] for line in log_lines()] == ["success", "success"], log_lines()

    for done in (handset, slow):
        done.remove()
        rig.handsets.remove(done)

    # The shift's result is the exit code, 1 after a failed flash; the unit ends as stopped.
    # (systemd tells a main process's exit status only at its debug level when it counts as
    # success.)
    systemctl("log-level", "debug")
    set_options("--serial 5E --timeout 2")
    assert systemctl("start", "brenvik-station").returncode == 0
    wait_for("the station's process", main_pid, 20)
    plugged_and_served(rig, "5E000003", "--fault", "no-ack")
    wait_for("the failed run's log line", lambda: len(log_lines()) == 3, 60)
    assert log_lines()[-1]["result"] != "success", log_lines()
    assert systemctl("stop", "brenvik-station").returncode == 0
    s = settled("inactive")
    assert s["Result"] == "success" and "code=exited, status=1/FAILURE" in journal(), (s, journal()[-3000:])

    # A second SIGTERM stops the running flash: 143, still an ordinary end.
    set_options("--serial 5E")
    assert systemctl("start", "brenvik-station").returncode == 0
    wait_for("the station's process", main_pid, 20)
    plugged_and_served(rig, "5E000004", "--expect", image, "--rate", "48")
    time.sleep(1)
    assert systemctl("stop", "--no-block", "brenvik-station").returncode == 0
    time.sleep(0.5)
    systemctl("kill", "-s", "TERM", "brenvik-station")
    s = settled("inactive")
    assert s["Result"] == "success" and "code=exited, status=143" in journal(), (s, journal()[-3000:])

    # An image that cannot be read fails the unit, and no restart mends it.
    defaults = read(DEFAULTS)
    with open(DEFAULTS, "w") as f:
        f.write(defaults.replace("BRENVIK_STATION_IMAGE=" + image, "BRENVIK_STATION_IMAGE=/nonexistent.img") + "\n")
    systemctl("start", "brenvik-station")
    s = settled("failed")
    assert s["ExecMainStatus"] == "2", s
    time.sleep(7)  # past RestartSec
    s = state()
    assert (s["ActiveState"], s["NRestarts"]) == ("failed", "0"), s
    with open(DEFAULTS, "w") as f:
        f.write(defaults + "\n")

    # Killed, it is restarted, and leaves alone the handset it had flashed that stayed plugged in.
    assert systemctl("start", "brenvik-station").returncode == 0
    before = wait_for("the station's process", main_pid, 20)
    kept = plugged_and_served(rig, "5E000005", "--expect", image)
    wait_for("the kept one's log line", lambda: [l for l in log_lines() if l.get("usb_serial") == "5E000005"], 60)
    assert kept.summary()["matches_expected"]
    time.sleep(1)  # a look at the bus that finds it done and without a driver

    def starts():  # its first run may have taken a second attempt (udev still at its node)
        return [l for l in journal().splitlines() if "started: " in l and "5E000005" in l]

    before_kill = starts()
    assert before_kill, journal()[-3000:]
    systemctl("kill", "-s", "KILL", "brenvik-station")
    after = wait_for("a restarted station", lambda: main_pid() not in (0, before) and main_pid(), 30)
    assert after != before
    time.sleep(3)
    assert starts() == before_kill, starts()
