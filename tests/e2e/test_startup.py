"""Start-up under Wine: the single-instance guard, the language chooser and the download
window's flow up to its final messages."""
import time
import unittest

from harness import (CHOOSER, IDOK, LANG_BUTTON, METER, NOTICE, SC_CLOSE, SC_MAXIMIZE, SC_MINIMIZE, SC_RESTORE,
                     SINK, VK_ESCAPE, VK_F4, WINDOW, WS_EX_LAYOUTRTL, LoaderTest)

# Wine joins the arguments with one blank, so the tail reads "HAND http://...".
UNREACHABLE = ["HAND", "http://127.0.0.1:9/config"]


class ChooserTest(LoaderTest):
    def test_system_language_preselects_its_button(self):
        cases = [
            ("de_DE.UTF-8", "DEU", None),
            ("ja_JP.UTF-8", "JAP", "\u65e5\u672c\u8a9e"),
            ("zh_TW.UTF-8", "CHT", "\u4e2d\u6587"),
            ("zh_CN.UTF-8", "CHS", "\u4e2d\u6587"),
            ("da_DK.UTF-8", "DAN", "Dansk"),
            ("ru_RU.UTF-8", "ENG", None),
            ("en_US.UTF-8", "ENG", None),
        ]
        for lang, code, caption in cases:
            with self.subTest(lang=lang):
                proc = self.start_loader(lang=lang)
                try:
                    self.check_preselection(lang, code, caption)
                finally:
                    self.robot.syscmd(CHOOSER, SC_CLOSE) if self.robot.exists(CHOOSER) else None
                    self.assertEqual(self.finish(proc), 0)

    def check_preselection(self, lang, code, caption):
        self.assertTrue(self.robot.wait(CHOOSER))
        checked = [c for c, button in LANG_BUTTON.items() if self.robot.info(CHOOSER, button)["checked"]]
        self.assertEqual(checked, [code])
        if caption:
            self.assertEqual(self.robot.text(CHOOSER, LANG_BUTTON[code]), caption)
        if lang == "ja_JP.UTF-8":
            self.screenshot("chooser-japanese")
        if lang == "en_US.UTF-8":
            self.assertEqual(self.robot.text(CHOOSER, LANG_BUTTON["JAP"]), "&Japanese")
            self.screenshot("chooser-english")
        self.assertEqual(self.robot.info(CHOOSER, LANG_BUTTON["HEB"])["enabled"], 1)

    def test_escape_and_close_box_end_the_program_without_download_window(self):
        for how in ("escape", "alt+f4", "close box"):
            with self.subTest(how=how):
                proc = self.start_loader()
                self.assertTrue(self.robot.wait(CHOOSER))
                if how == "escape":
                    self.robot.key(CHOOSER, VK_ESCAPE)
                elif how == "alt+f4":
                    self.robot.key(CHOOSER, VK_F4, alt=True)
                else:
                    self.robot.syscmd(CHOOSER, SC_CLOSE)
                self.assertEqual(self.finish(proc), 0)
                self.assertFalse(self.robot.exists(WINDOW))
                self.assertEqual(self.site.log, [])


class GuardTest(LoaderTest):
    def assert_second_copy_defers(self, caption):
        before = self.robot.count(caption)
        second = self.start_loader()
        self.assertEqual(self.finish(second, 20), 0)
        self.assertEqual(self.robot.count(CHOOSER) + self.robot.count(WINDOW), 1, "the second copy showed a window")
        self.assertEqual(self.robot.count(caption), before)
        self.assertEqual(self.robot.foreground(), caption.encode(), "the first copy's window is brought forward")

    def test_second_copy_brings_the_chooser_forward_and_ends(self):
        first = self.start_loader()
        self.assertTrue(self.robot.wait(CHOOSER))
        self.robot.syscmd(CHOOSER, SC_MINIMIZE)
        time.sleep(0.3)
        self.assert_second_copy_defers(CHOOSER)
        self.assertEqual(self.robot.info(CHOOSER)["iconic"], 0, "restored from minimised")
        self.robot.syscmd(CHOOSER, SC_CLOSE)
        self.assertEqual(self.finish(first), 0)

    def test_second_copy_brings_the_download_window_forward_and_ends(self):
        first = self.start_loader(UNREACHABLE)
        self.choose()
        self.final_message(3)
        self.assert_second_copy_defers(WINDOW)
        self.close_with_ok(first)


class DownloadWindowTest(LoaderTest):
    def test_failed_discovery_shows_message_3_and_only_ok_closes(self):
        proc = self.start_loader(UNREACHABLE)
        self.choose()
        self.assertEqual(self.robot.text(WINDOW), "Downloading...")
        ok = self.final_message(3)
        self.assertEqual(ok["focused"], 1, "OK has the focus")
        self.assertEqual(self.robot.info(WINDOW, 2)["visible"], 0, "Cancel stays hidden")
        self.screenshot("download-window-message-3")
        self.robot.key(WINDOW, VK_ESCAPE)
        self.robot.key(WINDOW, VK_F4, alt=True)
        self.robot.syscmd(WINDOW, SC_CLOSE)
        self.robot.syscmd(WINDOW, SC_MAXIMIZE)
        time.sleep(0.5)
        self.assertTrue(self.robot.exists(WINDOW), "Escape, Alt+F4 and the close box leave the window open")
        self.assertEqual(self.robot.info(WINDOW)["style"] & 0x01000000, 0, "never maximised")
        self.robot.syscmd(WINDOW, SC_MINIMIZE)
        time.sleep(0.3)
        self.robot.syscmd(WINDOW, SC_RESTORE)
        time.sleep(0.3)
        self.assertEqual(self.robot.info(WINDOW)["iconic"], 0)
        self.assertNotEqual(self.robot.info(WINDOW, NOTICE)["focused"], 1, "the notice box never holds the focus")
        self.close_with_ok(proc)

    def test_message_3_reads_in_the_language_chosen_and_arabic_and_hebrew_lay_it_out_right_to_left(self):
        # On an English system, but for English chosen on a Japanese one and Japanese on a German
        # one: the language chosen decides, not the system's.
        shown = set()
        for code in LANG_BUTTON:
            lang = {"ENG": "ja_JP.UTF-8", "JAP": "de_DE.UTF-8"}.get(code, "en_US.UTF-8")
            mirrored = code in ("ARA", "HEB")
            with self.subTest(code=code, lang=lang):
                proc = self.start_loader(UNREACHABLE, lang=lang)
                self.choose(code)
                self.final_message(3, code=code)
                shown.add(self.robot.text(WINDOW, NOTICE))
                if code == "JAP":
                    self.screenshot("download-window-message-3-JAP-on-de_DE")
                for control in (0, NOTICE, METER):
                    ex = self.robot.info(WINDOW, control)["exstyle"]
                    self.assertEqual(bool(ex & WS_EX_LAYOUTRTL), mirrored, (code, control))
                self.assertFalse(self.robot.info(WINDOW, SINK)["exstyle"] & WS_EX_LAYOUTRTL)
                self.close_with_ok(proc)
        self.assertEqual(len(shown), 16, "sixteen different texts")


if __name__ == "__main__":
    unittest.main()
