"""Stamped copies of loader.exe under Wine: the names, the tracking record, the branding image
and the rules that keep an earlier record."""
import os
import shutil
import subprocess
import unittest

from harness import (LOADER, LOADERKIT, NOTICE, WINDOW, LoaderTest, prefix_windows_dir, sign_with_throwaway_certificate,
                     tracking_key_path)

MISC = r"SOFTWARE\Halvorn Casino\Halvorn Casino\Misc"
TEXT = "Welcome to [CASINO_NAME]\r\nat [CASINO_ADDRESS]\r\n"


class StampTest(LoaderTest):
    def setUp(self):
        super().setUp()
        self.tracking = tracking_key_path()
        self.robot.reg_delete(r"SOFTWARE\Halvorn Casino")
        self.robot.reg_delete(self.tracking)
        self.temp = os.path.join(prefix_windows_dir(), "temp")
        self.image = self.file("logo.img")
        with open(self.image, "wb") as f:
            f.write(b"BM" + bytes(range(256)) * 3)

    def tearDown(self):
        self.robot.reg_delete(r"SOFTWARE\Halvorn Casino")
        self.robot.reg_delete(self.tracking)
        super().tearDown()

    def stamped(self, name, *options, source=LOADER):
        out = self.file(name)
        r = subprocess.run([LOADERKIT, "stamp", "--in", source, "--out", out, *options], capture_output=True, text=True)
        self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def signed_loader(self):
        """loader.exe signed with a throwaway certificate, and a check that its signature verifies."""
        out, cert = sign_with_throwaway_certificate(LOADER, self.work, "Throwaway Operator")
        return out, lambda path: b"Succeeded" in subprocess.run(
            ["osslsigncode", "verify", "-CAfile", cert, path], capture_output=True).stdout

    def run_copy(self, exe, wait_for=None):
        """Runs a copy to the end of a download (or to message 3 without a site)."""
        if wait_for:
            self.serve_package(text=TEXT, installer_mode="slow")
            proc = self.start_loader(["HAND", self.config()], exe=exe)
            self.choose()
            seen = self.robot.wait_text(WINDOW, NOTICE, wait_for, 15000)
            self.assertTrue(self.robot.gone(WINDOW, 30000))
            self.assertEqual(self.finish(proc), 0)
            return seen
        proc = self.start_loader(["HAND", "http://127.0.0.1:9/"], exe=exe)
        self.choose()
        self.final_message(3)
        self.close_with_ok(proc)
        return None

    def test_full_stamp_on_a_signed_copy_reaches_registry_image_and_notice(self):
        signed, verifies = self.signed_loader()
        exe = self.stamped("casino.exe", "--tag", "V101", "--id", "12345", "--name", "Nordlys Casino",
                           "--address", "www.nordlys.example", "--company", "Nordlys Gaming Ltd",
                           "--image", self.image, "--color", "200,16,0", "--start", "640,480", source=signed)
        self.assertTrue(verifies(exe), "the stamped copy keeps its signature")
        # A link planted in the shared temp folder under the image's name, toward a file that
        # the loader, running elevated, would overwrite if it followed the link.
        victim, planted = self.file("victim.txt"), os.path.join(self.temp, "V101_12345.img")
        with open(victim, "wb") as f:
            f.write(b"precious")
        if os.path.lexists(planted):
            os.remove(planted)
        os.symlink(victim, planted)
        # Beside it, a file under the name an earlier loader wrote the image to first, as a crash
        # or any user of the temp folder can leave it: it must not keep the image out.
        leftover = planted + ".new"
        with open(leftover, "wb") as f:
            f.write(b"left over")
        self.addCleanup(os.remove, leftover)
        self.run_copy(exe, wait_for="Welcome to Nordlys Casino\r\nat www.nordlys.example")
        with open(victim, "rb") as f:
            self.assertEqual(f.read(), b"precious", "the planted link was not followed")
        self.assertFalse(os.path.islink(planted))
        with open(leftover, "rb") as f:
            self.assertEqual(f.read(), b"left over", "somebody else's file is left alone")
        self.assertEqual(sorted(n for n in os.listdir(self.temp) if n.startswith("V101_12345.img")),
                         ["V101_12345.img", "V101_12345.img.new"], "no file of the loader's own is left behind")
        self.assertEqual(self.robot.reg_get(MISC, "Surname"), b"Nordlys Casino")
        self.assertEqual(self.robot.reg_get(MISC, "URL"), b"www.nordlys.example")
        self.assertEqual(self.robot.reg_get(MISC, "CompanyName"), b"Nordlys Gaming Ltd")
        self.assertEqual(self.robot.reg_get(self.tracking, ""), b"V101_12345")
        bmp = self.robot.reg_get(self.tracking, "BMPPath").decode()
        self.assertTrue(bmp.lower().endswith("\\temp\\v101_12345.img"), bmp)
        expected = {"TColorR": b"200", "TColorG": b"16", "TColorB": b"0", "StartX": b"640", "StartY": b"480"}
        for name, value in expected.items():
            self.assertEqual(self.robot.reg_get(self.tracking, name), value, name)
        with open(os.path.join(self.temp, "V101_12345.img"), "rb") as f, open(self.image, "rb") as g:
            self.assertEqual(f.read(), g.read())

    def test_unstamped_copy_writes_no_tracking_record(self):
        exe = self.file("plain.exe")
        shutil.copy(LOADER, exe)
        self.run_copy(exe)
        self.assertIsNone(self.robot.reg_get(self.tracking, ""))
        self.assertIsNone(self.robot.reg_get(MISC, "Surname"))

    def test_first_plain_tag_stays_and_later_copies_take_names_from_the_registry(self):
        self.run_copy(self.stamped("first.exe", "--tag", "V101", "--name", "Fjord Casino", "--address", "fjord.example"))
        self.assertEqual(self.robot.reg_get(self.tracking, ""), b"V101")
        self.assertIsNone(self.robot.reg_get(self.tracking, "BMPPath"))
        # A second V101 copy with branding writes nothing, branding included.
        self.run_copy(self.stamped("second.exe", "--tag", "V101", "--image", self.image))
        self.assertIsNone(self.robot.reg_get(self.tracking, "BMPPath"))
        # A copy without names shows the names the first copy stored.
        seen = self.run_copy(self.stamped("third.exe", "--tag", "V102"), wait_for="Welcome to Fjord Casino")
        self.assertIn("at fjord.example", seen)
        self.assertEqual(self.robot.reg_get(self.tracking, ""), b"V102", "any other tag replaces the record")

    def test_tag_that_leaves_the_temp_folder_writes_no_image(self):
        windows = prefix_windows_dir()
        for leftover in ("evil.img", os.path.join("temp", "..", "evil.img")):
            if os.path.exists(os.path.join(windows, leftover)):
                os.remove(os.path.join(windows, leftover))
        self.run_copy(self.stamped("evil.exe", "--tag", "..\\evil", "--image", self.image))
        self.assertFalse(os.path.exists(os.path.join(windows, "evil.img")))
        self.assertEqual(self.robot.reg_get(self.tracking, ""), b"..\\evil", "the tag itself is still stored")
        self.assertIsNone(self.robot.reg_get(self.tracking, "BMPPath"))


if __name__ == "__main__":
    unittest.main()
