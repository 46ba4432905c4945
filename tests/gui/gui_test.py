#!/usr/bin/env python3
"""Brenvik.exe as a person uses it, under Wine and Xvfb, against handset-sim presented
through the handset's interface class.

Usage: python3 -m tests.gui.gui_test --app EXE --driver EXE --sim SIM [--locale L] [TESTS]
With BRENVIK_SCREENSHOTS=DIR, also makes the README's screenshots there.
"""
import argparse
import contextlib
import os
import re
import shutil
import subprocess
import sys
import time
import unittest

from tests.gui.gui_rig import Driver, Rig, RigError, Sim, img_image, bin_stream, records, wine_path

STATUS_LINE = re.compile(r"^\d\d Minutes, \d\d Seconds   Speed:\d+ KBS$")
FLASH, BROWSE, EXIT, PATH, STATUS, AUTO = 1004, 1003, 1005, 1001, 1009, 1010
ARGS = None
RIG = None


def setUpModule():
    global RIG
    RIG = Rig(ARGS.locale)
    try:
        RIG.up()
    except Exception:
        RIG.down()
        raise


def tearDownModule():
    if RIG:
        RIG.down()


class DialogTest(unittest.TestCase):
    """One driver per test; `self.dir` is a folder of its own and the program's working folder."""

    def setUp(self):
        self.dir = os.path.join(RIG.tmp, self.id().split(".")[-1])
        self.work = os.path.join(self.dir, "work")
        os.makedirs(self.work)
        self.sims = []
        self.drive = Driver(RIG, wine_path(ARGS.driver))

    def tearDown(self):
        self.drive.close()
        for sim in self.sims:
            sim.stop()

    # --- helpers ------------------------------------------------------------------------
    def call(self, cmd, **args):
        r = self.drive(cmd, **args)
        self.assertTrue(r.get("ok"), f"{cmd}: {r}")
        return r

    def launch(self, args="", cwd=None):
        cwd = cwd or self.work
        return self.call("launch", exe=wine_path(ARGS.app), args=args, cwd=cwd if ":" in cwd else wine_path(cwd))

    def state(self):
        return self.call("state")

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def write_settings(self, data):
        with open(self.settings, "wb") as f:
            f.write(data)

    @property
    def settings(self):
        """The settings file of a run in `self.work`: the file's name follows the folder's."""
        return self.work + "Brenvik.ini"

    def sim(self, *args, **kw):
        sim = Sim(RIG, ARGS.sim, *args, **kw)
        self.sims.append(sim)
        return sim

    def box(self, caption="", **kw):
        return self.call("wait_box", caption=caption, **kw)

    def dismiss(self, caption=""):
        self.call("press", caption=caption, id=1)

    @contextlib.contextmanager
    def boxes_cleared(self):
        """After a failed case, no box left over to spoil the next one."""
        try:
            yield
        finally:
            for box in self.state()["boxes"]:
                self.drive("press", caption=box["caption"], id=1)
            self.drive("wait_flash_enabled", timeout_ms=5000)

    def assert_no_box(self, within_s=0.7):
        time.sleep(within_s)
        self.assertEqual(self.state()["boxes"], [])

    def exit_by(self, way):
        if way == "button":
            self.call("click", id=EXIT)
        elif way == "close box":
            self.call("close_box")
        else:
            self.call("key", key=way)
        return self.call("wait_exit")

    def flash(self, image, auto=True):
        """Presses flash with `image` in the edit box and follows the run to its final box."""
        self.call("set_path", text=wine_path(image))
        self.call("set_check", on=auto)
        self.call("click", id=FLASH)
        return self.call("watch_run", timeout_ms=60000)

    def assert_final(self, run, text):
        """The worker's final box, captioned with the program's name and owned by the dialog;
        nothing could be pressed meanwhile."""
        box = run["box"]
        self.assertIsNotNone(box, run)
        self.assertEqual((box["caption"], box["text"]), ("Brenvik", text))
        self.assertTrue(box["owned_by_main"])
        self.assertFalse(box["same_thread_as_main"], "the final message comes from the worker")
        self.assertEqual(box["thread_priority"], 2, "the worker runs at the highest priority")
        self.assertFalse(run["flash_ever_enabled"] or run["browse_ever_enabled"] or run["exit_ever_enabled"], run)
        self.assertLess(run["slowest_answer_ms"], 1000, "the dialog kept answering during the run")


class FlashKinds(DialogTest):
    """Every kind of image, with auto upgrade and without, in one program run after another."""

    def test_each_kind_flashes_and_ends_well(self):
        cases = [  # name, data, auto upgrade, kind the handset hears, procedure, bar at the end
            # Records: the position is the count before the last record; the range of a small
            # img is its record count, of a large bin its size over the first record's length.
            ("fw.img", img_image(24, 8192), True, 5, "records", (23, 24)),
            ("fw.raw", os.urandom(0x20000 + 5000), True, 7, "records", (100, 100)),
            ("large.bin", bin_stream(records(40, 16384)), True, 6, "records", (39, 40)),
            # Blocks of 256 KiB: the bar ends full.
            ("fw.dio", os.urandom(600000), True, 1, "blocks", (3, 3)),
            ("fw.nb0", os.urandom(262144), True, 4, "blocks", (1, 1)),
            ("small.nb0", os.urandom(2048), True, 3, "blocks", (1, 1)),
            ("plain.img", img_image(4, 4096), False, None, "blocks", (1, 1)),
            ("plain.raw", os.urandom(300000), False, None, "blocks", (2, 2)),
        ]
        self.launch()
        for name, data, auto, kind, procedure, bar in cases:
            with self.subTest(image=name, auto_upgrade=auto), self.boxes_cleared():
                image = self.write(name, data)
                sim = self.sim(*([] if auto else ["--no-auto-upgrade"]), expect=image)
                run = self.flash(image, auto)
                self.assert_final(run, "Update Sucess! ")
                st = self.state()
                # The bar and the status line are final by the time the box comes up.
                for shown in (st["progress"], run["at_box"]):
                    self.assertEqual((shown["pos"], shown["max"]), bar)
                self.assertEqual(run["at_box"]["status"], st["status"])
                self.assertRegex(st["status"], STATUS_LINE)
                self.assertFalse(st["enabled"][str(FLASH)])
                self.dismiss("Brenvik")
                self.call("wait_flash_enabled")
                s = sim.finish()
                self.assertEqual((s["kind"], s["procedure"], s["auto_upgrade"]), (kind, procedure, auto))
                self.assertTrue(s["complete"] and s["matches_expected"], s)
                self.assertEqual(s["protocol_errors"], [])
                # The second end command of a record download follows the dismissed box.
                self.assertEqual(s["commands"]["download_end"], 2 if procedure == "records" else 0)
                if procedure == "blocks":
                    self.assertEqual(sim.received("image.bin"), data)

    def test_the_second_end_command_waits_for_the_final_box(self):
        image = self.write("fw.img", img_image(4, 4096))
        sim = self.sim(expect=image, linger=1)
        self.launch()
        self.assert_final(self.flash(image), "Update Sucess! ")
        s = sim.finish(timeout=20)  # the handset stops waiting while the box is still up
        self.assertEqual(s["commands"]["download_end"], 1)
        self.dismiss("Brenvik")
        self.call("wait_flash_enabled")


class Failures(DialogTest):
    def test_not_a_correct_file_warns_downloads_and_fails_then_the_next_run_starts_clean(self):
        image = self.write("tiny.bin", os.urandom(1000))
        sim = self.sim(expect=image)
        self.launch()
        self.call("set_path", text=wine_path(image))
        self.call("click", id=FLASH)
        box = self.box("Error")
        self.assertEqual(box["text"], "升级错误,不是一个正确的文件")
        self.assertFalse(box["owner"])
        self.dismiss("Error")
        self.assert_final(self.call("watch_run", timeout_ms=60000), "Update Fail! ")
        self.dismiss("Brenvik")
        s = sim.finish()
        self.assertEqual((s["kind"], s["procedure"], s["blocks"]), (9, "blocks", 1))
        self.assertEqual(sim.received("image.bin"), read_bytes(image))

        good = self.write("fw.dio", os.urandom(5000))
        sim = self.sim(expect=good)
        self.assert_final(self.flash(good), "Update Sucess! ")
        self.dismiss("Brenvik")
        self.assertTrue(sim.finish()["matches_expected"])

    def test_without_a_handset_only_the_cable_message_and_the_button_comes_back(self):
        image = self.write("fw.dio", os.urandom(5000))
        self.launch()
        self.call("set_path", text=wine_path(image))
        RIG.unregister_handset()
        try:
            self.call("click", id=FLASH)
            box = self.box()
            self.assertEqual((box["caption"], box["text"]), ("Brenvik", "Check Your Usb cable  "))
            # Owned by the dialog as ever, though the worker now opens the handset.
            self.assertTrue(box["owned_by_main"] and not box["same_thread_as_main"])
            self.assertFalse(self.state()["enabled"][str(FLASH)])
            self.dismiss()
            self.assertLess(self.call("wait_flash_enabled", timeout_ms=2000)["ms"], 500)
            self.assert_no_box()
        finally:
            RIG.register_handset()

    def test_a_handset_that_cannot_be_opened_is_told_not_silent(self):
        image = self.write("fw.dio", os.urandom(5000))
        RIG.remove_link()  # registered, but its path leads nowhere
        self.launch()
        self.call("set_path", text=wine_path(image))
        self.call("click", id=FLASH)
        box = self.box()
        self.assertEqual(box["caption"], "Error")
        self.assertIn("root#brenvik#0000", box["text"])
        self.dismiss()
        self.call("wait_flash_enabled", timeout_ms=2000)
        self.assert_no_box()

    def test_what_is_no_image_starts_no_run(self):
        huge = os.path.join(self.dir, "huge.img")
        with open(huge, "wb") as f:
            f.truncate((4 << 30) + (1 << 20))  # sparse: no disk space taken
        os.makedirs(os.path.join(self.dir, "folder.img"))
        cases = [  # image, box caption, box text
            (os.path.join(self.dir, "none.img"), "Post", "打开文件错误,没有找到image"),
            (os.path.join(self.dir, "folder.img"), "Post", "打开文件错误,没有找到image"),
            (self.write("empty.dio", b""), "Error", "Nothing to flash: the image is empty or cannot be mapped."),
            (huge, "Error",
             f"the image {wine_path(huge)} is 4296015872 bytes: images of 4 GiB or more cannot be flashed"),
        ]
        sim = self.sim()
        self.launch()
        for image, caption, text in cases:
            with self.subTest(image=os.path.basename(image)):
                self.call("set_path", text=wine_path(image))
                self.call("click", id=FLASH)
                box = self.box()
                self.assertEqual((box["caption"], box["text"], box["owner"]), (caption, text, False))
                self.dismiss()
                self.call("wait_flash_enabled", timeout_ms=2000)
                self.assert_no_box(0.3)
        sim.stop()
        s = sim.summary()
        self.assertTrue(s is None or s["bytes"]["received"] == 0, s)


class WhileRunning(DialogTest):
    def test_nothing_ends_the_dialog_or_changes_the_image_during_a_run(self):
        image = self.write("slow.dio", os.urandom(8 * 262144))
        sim = self.sim("--rate", "512", expect=image)  # a run of 4 s
        self.launch()
        self.assertTrue(self.call("query_end_session")["may_end"], "at rest a logoff may go ahead")
        self.call("set_path", text=wine_path(image))
        self.call("click", id=FLASH)
        time.sleep(0.3)
        self.assertFalse(self.call("query_end_session")["may_end"], "a logoff is refused during a run")
        for attempt in ("exit", "escape", "enter", "close box", "alt+f4", "browse"):
            with self.subTest(attempt=attempt):
                if attempt == "exit":
                    self.call("click", id=EXIT)
                elif attempt == "browse":
                    self.call("click", id=BROWSE)
                elif attempt == "close box":
                    self.drive("close_box")  # greyed: there may be nothing to click
                else:
                    self.call("key", key=attempt)
                time.sleep(0.2)
                st = self.state()
                self.assertEqual(st["boxes"], [], "no file dialog, no box")
                self.assertFalse(any(st["enabled"][str(i)] for i in (FLASH, BROWSE, EXIT)))
                self.assertTrue(self.call("running")["running"])
        probe = self.call("probe_share", path=wine_path(image))  # this driver is another program
        self.assertEqual((probe["writable"], probe["error"]), (False, 32), "a sharing violation")
        self.assertTrue(self.call("running")["running"])
        run = self.call("watch_run", timeout_ms=60000)
        self.assert_final(run, "Update Sucess! ")
        self.dismiss("Brenvik")
        self.call("wait_flash_enabled")
        self.assertTrue(sim.finish()["matches_expected"])
        self.assertTrue(self.call("query_end_session")["may_end"])
        self.assertEqual(self.exit_by("button")["exit_code"], 0)

    def test_the_window_answers_while_a_silent_handset_is_awaited(self):
        image = self.write("fw.img", img_image(4, 4096))
        self.sim("--fault", "no-ack", timeout=120)
        self.launch()
        self.call("set_path", text=wine_path(image))
        self.call("click", id=FLASH)
        answers = []
        end = time.monotonic() + 6.5  # past the 5 s after which the system calls a window hung
        while time.monotonic() < end:
            answers.append(self.call("responsive"))
            time.sleep(0.25)
        self.assertTrue(all(a["answered"] and not a["hung"] for a in answers), answers)
        self.assertLess(max(a["ms"] for a in answers), 1000)
        st = self.state()
        self.assertEqual(st["boxes"], [], "the acknowledgement is still awaited")
        self.assertFalse(any(st["enabled"][str(i)] for i in (FLASH, BROWSE, EXIT)))
        self.assertFalse(self.call("query_end_session")["may_end"])


class Settings(DialogTest):
    def test_every_way_out_writes_the_path_and_the_next_start_reads_it(self):
        for way in ("button", "escape", "enter", "close box"):
            with self.subTest(way=way):
                path = f"Z:\\images\\{way.replace(' ', '_')}.img"
                self.launch(args=path)
                self.call("set_check", on=False)
                self.exit_by(way)
                self.assertIn(f"Item1={path}", read_text(self.settings))
                self.launch()
                st = self.state()
                self.assertEqual(st["path"], path)
                self.assertTrue(st["check"], "auto upgrade is ticked at every start")
                self.exit_by("button")

    def test_a_typed_path_is_kept_only_once_flash_was_pressed(self):
        self.write_settings(b"[Section1]\r\nItem1=Z:\\old.img\r\n")
        self.launch()
        self.call("set_path", text="Z:\\typed.img")
        self.exit_by("button")
        self.assertIn("Item1=Z:\\old.img", read_text(self.settings))
        self.launch()
        self.call("set_path", text="Z:\\typed.img")
        self.call("click", id=FLASH)
        self.box("Post")
        self.dismiss("Post")
        self.call("wait_flash_enabled")
        self.exit_by("button")
        self.assertIn("Item1=Z:\\typed.img", read_text(self.settings))

    def test_the_file_sits_beside_the_folder_or_in_the_drive_root(self):
        root_file = os.path.join(RIG.prefix, "drive_c", "Brenvik.ini")
        if os.path.exists(root_file):
            os.unlink(root_file)
        try:
            self.launch(args="C:\\at-the-root.img", cwd="C:\\")
            self.exit_by("button")
            self.assertIn("Item1=C:\\at-the-root.img", read_text(root_file))
        finally:
            if os.path.exists(root_file):
                os.unlink(root_file)

    def test_long_paths_and_long_folders(self):
        long_path = "Z:\\" + "\\".join(["d" * 40] * 7) + "\\fw.img"  # 300 characters
        self.write_settings(f"[Section1]\r\nItem1={long_path}\r\n".encode())
        self.launch()
        self.assertEqual(self.state()["path"], long_path)
        self.exit_by("button")
        # A working folder so long that folder and file name pass the profile calls' limit
        # (Wine starts no window from a folder of 254 characters or more): the file is still
        # written and found.
        deep = os.path.join(self.dir, *(["f" * 50] * 3))
        deep = os.path.join(deep, "g" * (250 - len(wine_path(deep)) - 1))
        os.makedirs(deep)
        self.assertGreater(len(wine_path(deep + "Brenvik.ini")), 259)
        self.launch(args="Z:\\from-deep.img", cwd=deep)
        self.exit_by("button")
        self.assertIn("Item1=Z:\\from-deep.img", read_text(deep + "Brenvik.ini"))
        self.launch(cwd=deep)
        self.assertEqual(self.state()["path"], "Z:\\from-deep.img")

    def test_a_second_instance_caught_at_the_mutex_starts_bare_and_writes_nothing(self):
        self.call("hold_mutex")
        try:
            self.launch(args="Z:\\second.img")
            st = self.state()
            self.assertEqual((st["path"], st["texts"][str(FLASH)], st["check"]), ("", "", False))
            self.exit_by("button")
            self.assertFalse(os.path.exists(self.settings))
        finally:
            self.call("release_mutex")


class CommandTail(DialogTest):
    def test_the_tail_rules(self):
        self.write_settings(b"[Section1]\r\nItem1=Z:\\remembered.img\r\n")
        cases = [  # tail, path shown
            ("-x", "Z:\\remembered.img"),
            ("-device", "Z:\\remembered.img"),
            ('"Z:\\a folder\\fw.img"', "Z:\\a folder\\fw.img"),
            ('"Z:\\a.img" "Z:\\b.img"', '"Z:\\a.img" "Z:\\b.img"'),
            ("Z:\\x.img more words  ", "Z:\\x.img more words  "),
        ]
        for tail, shown in cases:
            with self.subTest(tail=tail):
                self.launch(args=tail)
                self.assertEqual(self.state()["path"], shown)
                self.call("kill")

    def test_device_option_opens_that_device_instead_of_searching(self):
        image = self.write("fw.dio", os.urandom(300000))
        com = os.path.join(RIG.prefix, "dosdevices", "com7")
        RIG.remove_link()  # the class search would find a handset it cannot open
        sim = self.sim(expect=image, link=com)
        self.launch(args=f"-device COM7 {wine_path(image)}")  # the image follows the device
        self.assertEqual(self.state()["path"], wine_path(image))
        self.call("click", id=FLASH)
        self.assert_final(self.call("watch_run", timeout_ms=60000), "Update Sucess! ")
        self.dismiss("Brenvik")
        self.assertTrue(sim.finish()["matches_expected"])


class Looks(DialogTest):
    def test_layout_captions_and_about_box(self):
        self.launch()
        st = self.state()
        self.assertEqual(st["caption"], "            Brenvik   R04")
        self.assertEqual({i: st["texts"][str(i)] for i in (AUTO, EXIT, BROWSE, FLASH)},
                         {AUTO: "自动升级", EXIT: "退出", BROWSE: "浏览", FLASH: "烧录"})
        self.assertTrue(st["check"])
        layout = self.call("layout")
        controls = layout["controls"]
        self.assertEqual([c["id"] for c in controls], [1000, 1001, 1003, 1004, 1005, -1, 1009, 1010])
        speed = controls[5]
        self.assertEqual((speed["text"], bool(speed["style"] & 0x10000000)), ("Speed", False))
        self.assertTrue(all(c["style"] & 0x10000000 for c in controls if c["id"] != -1))
        self.assertFalse(any(c["class"] == "Button" and c["style"] & 0xF == 1 for c in controls),
                         "no default push button")
        self.assertEqual(controls[7]["style"] & 0xF, 3, "an auto check box")
        self.assertEqual(controls[0]["style"] & 1, 1, "a smooth progress bar")
        # Caption, system menu and minimise box, no maximise box; shown in the task bar.
        self.assertEqual(layout["style"] & 0x00CF0000, 0x00CA0000)
        self.assertTrue(layout["exstyle"] & 0x40000)

        self.call("syscommand", id=0x10)
        about = self.box("About Brenvik")
        self.assertTrue(about["owned_by_main"])
        texts = [c["text"] for c in about["children"]]
        self.assertIn("Brenvik Version 1.0", texts)
        self.assertIn("OK", texts)
        self.dismiss("About Brenvik")
        self.assert_no_box(0.2)

    def test_browse_maps_the_chosen_file_at_once_and_cancel_changes_nothing(self):
        image = self.write("picked.nb0", os.urandom(2048))
        self.launch(args="Z:\\before.img")
        self.call("click", id=BROWSE)
        answer = self.call("file_dialog", action="cancel")
        self.assertTrue(answer["owned_by_main"])
        self.assertEqual(answer["types"][:2], ["All Support Files(*.bin; *.nb0; *.raw; *.img; *.dio)",
                                               "All Files(*.*)"])
        self.assertEqual(self.state()["path"], "Z:\\before.img")
        self.assertTrue(self.call("probe_share", path=wine_path(image))["writable"])
        self.call("click", id=BROWSE)
        self.call("file_dialog", action="open", path=wine_path(image))
        self.assertEqual(self.state()["path"], wine_path(image))
        self.assertFalse(self.call("probe_share", path=wine_path(image))["writable"],
                         "the chosen image is mapped (and held) at once")
        self.exit_by("button")
        self.assertIn(wine_path(image), read_text(self.settings))


class Unicode(DialogTest):
    """Chinese texts and paths, whatever the system's code page (run under both locales)."""

    def test_texts_read_back_as_utf16(self):
        self.launch()
        st = self.state()
        self.assertEqual([st["texts"][str(i)] for i in (AUTO, EXIT, BROWSE, FLASH)], ["自动升级", "退出", "浏览", "烧录"])
        self.call("set_path", text="Z:\\nowhere\\x.img")
        self.call("click", id=FLASH)
        self.assertEqual(self.box("Post")["text"], "打开文件错误,没有找到image")

    def test_a_chinese_path_is_flashed_and_remembered(self):
        image = self.write("固件/升级.dio", os.urandom(4000))
        sim = self.sim(expect=image)
        self.launch()
        self.assert_final(self.flash(image), "Update Sucess! ")
        self.dismiss("Brenvik")
        self.assertTrue(sim.finish()["matches_expected"])
        self.exit_by("button")
        # Kept in the code page where it fits (GBK), else the file turns Unicode.
        unicode_file = read_bytes(self.settings).startswith(b"\xff\xfe")
        self.assertEqual(unicode_file, self.call("hello")["acp"] != 936)
        self.launch()
        self.assertEqual(self.state()["path"], wine_path(image))

    def test_a_settings_file_written_by_the_ansi_program_is_read(self):
        path = {936: "Z:\\固件\\fw.img", 1252: "Z:\\Café\\fw.img"}[self.call("hello")["acp"]]
        self.write_settings(f"[Section1]\r\nItem1={path}\r\n".encode("gbk" if "固" in path else "cp1252"))
        self.launch()
        self.assertEqual(self.state()["path"], path)


@unittest.skipUnless(os.environ.get("BRENVIK_SCREENSHOTS"), "set BRENVIK_SCREENSHOTS=DIR to make them")
class Screenshots(DialogTest):
    """The README's pictures: at rest, during a flash and with the final message."""

    def test_make_screenshots(self):
        out = os.environ["BRENVIK_SCREENSHOTS"]
        os.makedirs(out, exist_ok=True)
        # Wine's caption glyphs, where Debian's Wine does not find its own fonts folder.
        marlett = "/usr/share/wine/fonts/marlett.ttf"
        fonts = os.path.join(RIG.prefix, "drive_c", "windows", "Fonts")
        if os.path.exists(marlett) and not os.path.exists(os.path.join(fonts, "marlett.ttf")):
            shutil.copy(marlett, fonts)
        folder = os.path.join(RIG.prefix, "drive_c", "firmware")
        os.makedirs(folder, exist_ok=True)
        image = os.path.join(folder, "handset.img")
        with open(image, "wb") as f:
            f.write(img_image(160, 16384))
        try:
            sim = self.sim("--rate", "1024", expect=image)
            self.launch(args="C:\\firmware\\handset.img")
            RIG.screenshot(os.path.join(out, "dialog-rest.png"), self.state()["rect"])
            self.call("click", id=FLASH)
            time.sleep(1.2)
            RIG.screenshot(os.path.join(out, "dialog-flashing.png"), self.state()["rect"])
            run = self.call("watch_run", timeout_ms=60000)
            self.assert_final(run, "Update Sucess! ")
            time.sleep(0.3)
            st = self.state()
            RIG.screenshot(os.path.join(out, "dialog-final.png"), _around(st["rect"], st["boxes"][0]["rect"]))
            self.dismiss("Brenvik")
            self.assertTrue(sim.finish()["matches_expected"])
        finally:
            os.unlink(image)
        # Each picture shows the window whole, not a blank or clipped desktop.
        width, height = st["rect"][2] - st["rect"][0], st["rect"][3] - st["rect"][1]
        for name in ("dialog-rest.png", "dialog-flashing.png", "dialog-final.png"):
            w, h, colours = map(int, subprocess.run(["identify", "-format", "%w %h %k", os.path.join(out, name)],
                                                    capture_output=True, text=True, check=True).stdout.split())
            self.assertGreaterEqual(w, width, name)
            self.assertGreaterEqual(h, height, name)
            self.assertGreater(colours, 16, f"{name} is nearly blank")


def read_text(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        return f.read()


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def _around(a, b):
    return [min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3])]


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--app", required=True)
    p.add_argument("--driver", required=True)
    p.add_argument("--sim", required=True)
    p.add_argument("--locale", default="zh_CN.UTF-8")
    ARGS, rest = p.parse_known_args()
    if not os.access(ARGS.sim, os.X_OK):
        print(f"handset-sim not found at {ARGS.sim}: build the linux preset first "
              "(or set BRENVIK_HANDSET_SIM)", file=sys.stderr)
        return 77
    result = unittest.main(argv=[sys.argv[0], *rest], verbosity=2, exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
