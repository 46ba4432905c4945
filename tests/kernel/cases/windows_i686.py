"""The i686 Windows programs that ship, run by the 32-bit Wine of the host, in a guest whose
kernel starts 32-bit programs (the host's may not). Three of the Windows tests, taken as they
are: brenvik-cli.exe flashing handset-sim through the class search and through two COM ports,
Brenvik.exe's dialog opened, used and closed under Xvfb, and setup.exe run whole as on
Windows XP."""
import glob
import os
import subprocess
import time

CLI_TESTS = ["CliUnderWine.test_flash_through_the_class_search",
             "CliUnderWine.test_two_handsets_at_once_one_failing_with_a_log"]
DIALOG_TESTS = ["Settings.test_every_way_out_writes_the_path_and_the_next_start_reads_it"]
SETUP_TEST = "Versions/SetupPlatforms.StartsTheInstallerOfItsPlatform/winxp"


def check(what, command, env, timeout, rig=None):
    began = time.monotonic()
    r = subprocess.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, timeout=timeout)
    out = r.stdout.decode(errors="replace")
    assert r.returncode == 0, "%s: exit %d\n%s" % (what, r.returncode, out[-4000:])
    if rig:
        rig.figure("seconds " + what, round(time.monotonic() - began, 1))
    return out


def built(build, name):
    """The file of that name in the build tree, wherever its folder puts it: the newest, since
    a tree built before a folder moved keeps the old one."""
    # Not the copies that the package's test unpacks from the zip.
    found = [p for p in glob.glob(os.path.join(build, "**", name), recursive=True) if "-win32" + os.sep not in p]
    assert found, "no %s in %s" % (name, build)
    return max(found, key=os.path.getmtime)


def run(rig):
    build = rig.config["windows_build"]
    source = rig.source
    # The guest's /tmp is its own tmpfs: the prefix is made there once, for the three.
    env = dict(os.environ, HOME="/root", WINEARCH="win32", WINEPREFIX="/tmp/wineprefix-i686",
               LANG="C.UTF-8", PYTHONPATH=source, PATH="/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin")
    env.pop("WINELOADER", None)
    wine = check("the 32-bit loader", ["/usr/lib/wine/wine", "--version"], env, 60)
    rig.figure("wine_i686", wine.strip())

    driver = built(build, "brenvik-uidriver.exe")
    check("brenvik-cli.exe", ["python3", "-m", "tests.gui.cli_wine_test",
                              "--cli", built(build, "brenvik-cli.exe"),
                              "--sim", rig.sim_path, "--driver", driver, *CLI_TESTS], env, 900, rig)
    check("Brenvik.exe", ["python3", "-m", "tests.gui.gui_test",
                          "--app", built(build, "Brenvik.exe"),
                          "--sim", rig.sim_path, "--driver", driver, "--locale", "en_US.UTF-8",
                          *DIALOG_TESTS], env, 900, rig)

    # setup.exe as ctest runs it: a display of its own, Wine's rundll32.exe in place before
    # and after, and the recording stand-in as the system's rundll32.exe meanwhile.
    setup = os.path.join(source, "tests", "setup")
    state = "/tmp/setup-display"
    check("the display", [os.path.join(setup, "display.sh"), "up", state], env, 300)
    try:
        check("rundll32.exe", [os.path.join(setup, "system-rundll32.sh"), "restore"], env, 120)
        out = check("setup.exe", [os.path.join(setup, "wine-run-stand-in.sh"), built(build, "setup_stand_in_tests.exe"),
                                  "--gtest_filter=" + SETUP_TEST], dict(env, DISPLAY=":92"), 600, rig)
        assert "[  PASSED  ] 1 test." in out, out[-4000:]  # a filter that matched nothing passes too
    finally:
        subprocess.run([os.path.join(setup, "display.sh"), "down", state], env=env, timeout=120,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
