#!/usr/bin/env python3
"""The rig on a real kernel: boots Debian's kernel once for the named boot and runs every
case of that boot in it. Usage: python3 -m tests.kernel.kernel_test BOOT CLI SIM [--cpack CPACK CPackConfig.cmake WORKDIR] [--windows BUILD] [CASE...]
(the systemd boot installs the .deb that CPack builds; the windows boot runs the i686 build
BUILD, for a host whose kernel cannot start 32-bit programs)

A case is one file in cases/ with run(rig); CASES below says which boot runs it. A new case
is a new file and one more name in its boot's list."""
import os
import shutil
import subprocess
import sys
import time

from tests.kernel import vm

CASES = {
    # The busybox init, then Python as PID 1 with udevd: a few seconds to a shell.
    "plain": ["list_and_udev", "first_words", "flash_and_unplug", "station_hotplug", "station_unplug",
              "sim_gadget", "usb_bounds"],
    # systemd as PID 1, for the service.
    "systemd": ["service"],
    # The shipped i686 Windows programs under the host's 32-bit Wine.
    "windows": ["windows_i686"],
}


def build_deb(cpack, config, work):
    shutil.rmtree(work, ignore_errors=True)
    built = subprocess.run([cpack, "-G", "DEB", "--config", config, "-B", work], capture_output=True, text=True)
    debs = [f for f in os.listdir(work) if f.endswith(".deb")] if built.returncode == 0 else []
    if len(debs) != 1:
        sys.exit("cpack made no .deb:\n" + built.stdout + built.stderr)
    return os.path.join(work, debs[0])


def main():
    boot, cli, sim = sys.argv[1:4]
    rest = sys.argv[4:]
    deb = None
    if rest[:1] == ["--cpack"]:
        deb = build_deb(*rest[1:4])
        rest = rest[4:]
    windows = None
    if rest[:1] == ["--windows"]:
        windows = os.path.abspath(rest[1])
        rest = rest[2:]
    cases = rest or CASES[boot]
    source = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    config = {"cases": cases, "cli": os.path.abspath(cli), "sim": os.path.abspath(sim), "deb": deb,
              "windows_build": windows, "source": source, "systemd": boot == "systemd",
              "udev_rule": boot != "systemd"}  # the .deb brings its own
    started = time.monotonic()
    # The service case starts and stops the unit many times over, each a slow systemd step
    # under emulation; the Windows programs' case makes a Wine prefix first (~6 min loaded).
    slow = {"systemd": 240, "windows": 600}.get(boot, 0)
    results, console = vm.boot(config, timeout=300 + 120 * len(cases) + slow)
    took = time.monotonic() - started
    if results is None:
        print(console[:3000] + "\n...\n" + console[-6000:])
        print("the guest reported nothing: its console above")
        return 1
    failed = [c for c in results["cases"] if not c["ok"]]
    for c in results["cases"]:
        print("%-28s %s %5.1f s" % (c["name"], "ok  " if c["ok"] else "FAIL", c["seconds"]))
        if not c["ok"]:
            print(c["error"])
    for name, value in sorted(results["figures"].items()):
        print("figure %s: %s" % (name, value))
    print("boot %s: %.1f s in all (setup in the guest %.1f s)" % (boot, took, results.get("setup_seconds", 0)))
    if "error" in results:
        print(results["error"])
    if failed or "error" in results or len(results["cases"]) != len(cases):
        if os.environ.get("BRENVIK_KERNEL_CONSOLE") == "1" or "error" in results:
            print(console[-6000:])
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
