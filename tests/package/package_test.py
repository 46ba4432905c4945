#!/usr/bin/env python3
"""Builds the .deb with CPack, then checks what it holds and that it works once unpacked.

usage: package_test.py CPACK CPackConfig.cmake WORKDIR
"""
import gzip
import os
import re
import shutil
import subprocess
import sys
import unittest

CPACK, CONFIG, WORK = sys.argv[1:4]
ROOT = os.path.join(WORK, "root")
UNIT = "usr/lib/systemd/system/brenvik-station.service"
RULE = "usr/lib/udev/rules.d/70-brenvik.rules"
COMPLETION = "usr/share/bash-completion/completions/brenvik-cli"

# udev's rule keys: which operators each takes, and whether it needs {attribute}.
MATCH, ASSIGN = {"==", "!="}, {"=", "+=", "-=", ":="}
KEYS = {
    "ACTION": (MATCH, False), "DEVPATH": (MATCH, False), "KERNEL": (MATCH, False),
    "KERNELS": (MATCH, False), "SUBSYSTEM": (MATCH, False), "SUBSYSTEMS": (MATCH, False),
    "DRIVER": (MATCH, False), "DRIVERS": (MATCH, False), "ATTRS": (MATCH, True),
    "TAGS": (MATCH, False), "TEST": (MATCH, None), "PROGRAM": (MATCH, False),
    "RESULT": (MATCH, False), "CONST": (MATCH, True),
    "NAME": (MATCH | ASSIGN, False), "SYMLINK": (MATCH | ASSIGN, False),
    "TAG": (MATCH | ASSIGN, False), "ENV": (MATCH | ASSIGN, True),
    "ATTR": (MATCH | ASSIGN, True), "SYSCTL": (MATCH | ASSIGN, True),
    "OWNER": (ASSIGN, False), "GROUP": (ASSIGN, False), "MODE": (ASSIGN, False),
    "SECLABEL": (ASSIGN, True), "OPTIONS": (ASSIGN, False), "IMPORT": (ASSIGN, True),
    "RUN": (ASSIGN, None), "LABEL": ({"="}, False), "GOTO": ({"="}, False),
}
IMPORT_TYPES = {"program", "builtin", "file", "db", "cmdline", "parent"}
PAIR = re.compile(r'([A-Z_]+)(?:\{([^{}"]*)\})?\s*(==|!=|\+=|-=|:=|=)\s*"((?:[^"\\]|\\.)*)"\s*')


def rule_errors(text):
    """Strict reading of the rules grammar: KEY[{attr}] OP "value", comma separated."""
    errors, labels, gotos = [], set(), []
    for number, line in enumerate(text.splitlines(), 1):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        position, pairs = 0, []
        while True:
            m = PAIR.match(line, position)
            if not m:
                errors.append(f"line {number}: cannot read at {line[position:]!r}")
                break
            pairs.append(m.groups())
            position = m.end()
            if position == len(line):
                break
            if line[position] != ",":
                errors.append(f"line {number}: expected a comma at {line[position:]!r}")
                break
            position += 1
            while position < len(line) and line[position] in " \t":
                position += 1
        for key, attr, op, value in pairs:
            if key not in KEYS:
                errors.append(f"line {number}: unknown key {key}")
                continue
            ops, needs_attr = KEYS[key]
            if op not in ops:
                errors.append(f"line {number}: {key} does not take {op}")
            if needs_attr is not None and needs_attr != (attr is not None):
                errors.append(f"line {number}: {key} {'needs' if needs_attr else 'takes no'} {{attribute}}")
            if key == "IMPORT" and attr not in IMPORT_TYPES:
                errors.append(f"line {number}: IMPORT{{{attr}}} is no import type")
            if key == "LABEL":
                labels.add(value)
            if key == "GOTO":
                gotos.append((number, value))
    errors += [f"line {n}: GOTO to a missing label {v}" for n, v in gotos if v not in labels]
    return errors


def run(*args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, timeout=120, check=True, **kwargs).stdout


class Package(unittest.TestCase):
    deb = None

    @classmethod
    def setUpClass(cls):
        shutil.rmtree(WORK, ignore_errors=True)
        os.makedirs(WORK)
        built = subprocess.run([CPACK, "-G", "DEB", "--config", CONFIG, "-B", WORK],
                               capture_output=True, text=True, timeout=540)
        if built.returncode != 0:
            raise AssertionError(f"cpack failed:\n{built.stdout}\n{built.stderr}")
        debs = [f for f in os.listdir(WORK) if f.endswith(".deb")]
        if len(debs) != 1:
            raise AssertionError(f"expected one .deb, found {debs}")
        cls.deb = os.path.join(WORK, debs[0])
        run("dpkg-deb", "-x", cls.deb, ROOT)

    def test_metadata(self):
        self.assertRegex(os.path.basename(self.deb), r"^brenvik_1\.0_[a-z0-9]+\.deb$")
        fields = {f: run("dpkg-deb", "-f", self.deb, f).strip()
                  for f in ("Package", "Version", "Maintainer", "Section", "Depends")}
        self.assertEqual(fields["Package"], "brenvik")
        self.assertEqual(fields["Version"], "1.0")
        self.assertEqual(fields["Maintainer"], "Brenvik developers <brenvik@example.org>")
        self.assertEqual(fields["Section"], "electronics")
        for library in ("libc6", "libstdc++6", "libusb-1.0-0"):
            self.assertIn(library, fields["Depends"])

    def test_contents(self):
        listing = {}
        for line in run("dpkg-deb", "-c", self.deb).splitlines():
            mode, owner, *_, path = line.split()
            listing[path.removeprefix("./")] = (mode, owner)
        for path, mode in [("usr/bin/brenvik-cli", "-rwxr-xr-x"), ("usr/bin/handset-sim", "-rwxr-xr-x"),
                           ("usr/share/man/man1/brenvik-cli.1.gz", "-rw-r--r--"),
                           ("usr/share/man/man1/handset-sim.1.gz", "-rw-r--r--"),
                           (COMPLETION, "-rw-r--r--"), (RULE, "-rw-r--r--"), (UNIT, "-rw-r--r--"),
                           ("etc/default/brenvik-station", "-rw-r--r--"),
                           ("etc/logrotate.d/brenvik-station", "-rw-r--r--")]:
            with self.subTest(path=path):
                self.assertEqual(listing.get(path), (mode, "root/root"))

    def test_debian_policy(self):
        # Errors and warnings fail; every override must still match something (an unused one is
        # told only among the informational tags).
        r = subprocess.run(["lintian", "--fail-on", "error,warning", "--pedantic", "--display-info", "--info",
                            self.deb],
                           capture_output=True, text=True, timeout=300)
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        self.assertNotRegex(r.stdout, r"(?m)^[EWP]:|unused-override|mismatched-override")

    def test_station_unit(self):
        # systemd-analyze checks the unit as systemd reads it, against the unpacked program.
        unit = os.path.join(WORK, "brenvik-station.service")
        with open(os.path.join(ROOT, UNIT)) as f, open(unit, "w") as out:
            out.write(f.read().replace("/usr/bin/", os.path.join(ROOT, "usr/bin/")))
        r = subprocess.run(["systemd-analyze", "verify", "--man=no", unit], capture_output=True, text=True, timeout=60)
        self.assertEqual((r.returncode, r.stderr), (0, ""), r.stdout)
        with open(os.path.join(ROOT, "etc/default/brenvik-station")) as f:
            self.assertRegex(f.read(), r"(?m)^BRENVIK_STATION_IMAGE=/")

    def test_udev_rule(self):
        with open(os.path.join(ROOT, RULE)) as f:
            self.assertEqual(rule_errors(f.read()), [])
        # The checker itself must refuse what udev refuses.
        for bad in ['KERNEL="ttyUSB0"', 'GROUP=="plugdev"', 'MODE="0660" GROUP="plugdev"',
                    'MODE="0660', 'ENV="x"', 'SERIAL=="1"', 'IMPORT{usb}="x"', 'GOTO="nowhere"']:
            with self.subTest(bad=bad):
                self.assertNotEqual(rule_errors(bad), [])

    def test_completion(self):
        path = os.path.join(ROOT, COMPLETION)
        run("bash", "-n", path)
        os.makedirs(os.path.join(WORK, "images"), exist_ok=True)
        open(os.path.join(WORK, "images", "a.img"), "w").close()
        script = (f'source "{path}"; compopt() {{ :; }}; '
                  'COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _brenvik_cli; printf "%s\\n" "${COMPREPLY[@]}"')

        def complete(*words):
            return sorted(run("bash", "-c", script, "bash", "brenvik-cli", *words,
                              cwd=os.path.join(WORK, "images")).split())

        # What the program's own --help lists, command by command.
        program = os.path.join(ROOT, "usr/bin/brenvik-cli")
        top = run(program, "--help")
        commands = re.findall(r"(?m)^  ([a-z]+) ", top.split("Subcommands:")[1])
        self.assertEqual(complete(""), sorted(commands))
        self.assertEqual(complete("--"), sorted(re.findall(r"(?m)^  (?:-\w,)?(--[a-z-]+)", top)))
        for command in commands:
            with self.subTest(command=command):
                shown = run(program, command, "--help").split("Options:")[1]
                self.assertEqual(complete(command, "--"), sorted(re.findall(r"(?m)^  (?:-\w,)?(--[a-z-]+)", shown)))
        for words, expected in [(["records", ""], ["import", "find", "summary", "report"]),
                                (["records", "summary", "--by", "h"], ["hour"]),
                                (["flash", "--de"], ["--device"]),
                                (["flash", "--timeout", ""], []),
                                (["station", "--usb-port", ""], []),
                                (["station", "--log", "a"], ["a.img"]),
                                (["station", "--json", "a"], ["a.img"]),
                                (["inspect", "a"], ["a.img"])]:
            with self.subTest(words=words):
                self.assertEqual(complete(*words), sorted(expected))

    def test_programs_and_man_pages(self):
        for program, section in [("brenvik-cli", "flash"), ("handset-sim", "--sessions")]:
            with self.subTest(program=program):
                shown = subprocess.run([os.path.join(ROOT, "usr/bin", program), "--help"],
                                       capture_output=True, text=True, timeout=30)
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertIn(section, shown.stdout)
                with gzip.open(os.path.join(ROOT, "usr/share/man/man1", program + ".1.gz"), "rt") as f:
                    page = f.read()
                self.assertIn(f'.TH {program.upper()} "1"', page)
                self.assertIn(section.replace("-", "\\-"), page)
                # Usage lines name the program, not where it was built.
                self.assertNotIn(os.path.dirname(CONFIG), page)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
