"""The guest's side of the rig: brings up udev, dummy_hcd and configfs, runs each case the
host named and writes results.json to the shared folder. Runs as PID 1 (then powers off) or
as systemd's oneshot unit (whose SuccessAction powers off)."""
import ctypes
import importlib
import json
import os
import subprocess
import time
import traceback

from tests.kernel import handsets

RESULTS = "/rig"


def mount(kind, target, options=None):
    os.makedirs(target, exist_ok=True)
    command = ["mount", "-t", kind, kind, target] + (["-o", options] if options else [])
    subprocess.run(command, check=True, stderr=subprocess.DEVNULL)


def tmp_folders_in_use(config):
    """The folders directly in /tmp that hold the rig's own paths (a tree checked out under
    /tmp): the guest's fresh /tmp must not hide them."""
    return sorted({"/tmp/" + value.split("/")[2] for value in config.values()
                   if isinstance(value, str) and value.startswith("/tmp/")})


def bring_up_as_init(config):
    """What systemd would have done, for the cases that do without it."""
    mount("tmpfs", "/run", "mode=755")
    kept = tmp_folders_in_use(config)
    for n, folder in enumerate(kept):
        os.makedirs("/run/rig-kept/%d" % n)
        subprocess.run(["mount", "--bind", folder, "/run/rig-kept/%d" % n], check=True)
    mount("tmpfs", "/tmp", "mode=1777")
    for n, folder in enumerate(kept):
        os.makedirs(folder)
        subprocess.run(["mount", "--move", "/run/rig-kept/%d" % n, folder], check=True)
    mount("devpts", "/dev/pts", "gid=5,mode=620,ptmxmode=666")
    os.makedirs("/run/udev", exist_ok=True)
    subprocess.run(["/lib/systemd/systemd-udevd", "--daemon"], check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def power_off():
    os.sync()
    libc = ctypes.CDLL(None, use_errno=True)
    libc.reboot(0x4321FEDC)  # RB_POWER_OFF


def main():
    with open(os.path.join(RESULTS, "config.json")) as f:
        config = json.load(f)
    as_init = os.getpid() == 1
    results = {"cases": [], "figures": {}}
    try:
        if as_init:
            bring_up_as_init(config)
        rig = handsets.Rig(config, results["figures"])
        started = time.monotonic()
        rig.start()
        results["setup_seconds"] = round(time.monotonic() - started, 1)
        for name in config["cases"]:
            began = time.monotonic()
            entry = {"name": name}
            try:
                importlib.import_module("tests.kernel.cases." + name).run(rig)
                entry["ok"] = True
            except Exception:  # every failure is a finding, reported with its trace
                entry["ok"] = False
                entry["error"] = traceback.format_exc()
            finally:
                rig.unplug_all()
            entry["seconds"] = round(time.monotonic() - began, 1)
            results["cases"].append(entry)
    except Exception:
        results["error"] = traceback.format_exc()
    with open(os.path.join(RESULTS, "results.json"), "w") as f:
        json.dump(results, f, indent=1)
    # Under systemd too: its stop jobs would only add time, and the results are written.
    power_off()


if __name__ == "__main__":
    main()
