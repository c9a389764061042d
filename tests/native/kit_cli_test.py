#!/usr/bin/env python3
"""loaderkit from the command line: stamps written, shown and refused; replies scrambled; a
static site built. usage: kit_cli_test.py LOADERKIT"""
import os
import subprocess
import sys
import tempfile
import unittest

KIT = sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("LOADERKIT", "loaderkit")


def kit(*args, stdin=None):
    return subprocess.run([KIT, *args], capture_output=True, input=stdin)


class KitTest(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.program = self.path("program.exe")
        with open(self.program, "wb") as f:
            f.write(b"MZ" + bytes(range(256)) * 4)
        self.image = self.path("logo.img")
        with open(self.image, "wb") as f:
            f.write(b"BM" + b"\x00\x01\xff" * 100)

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def show(self, path):
        r = kit("stamp", "--show", path)
        self.assertEqual(r.returncode, 0, r.stderr)
        return dict(line.split(": ", 1) for line in r.stdout.decode().splitlines())

    def test_stamp_round_trip_and_layout(self):
        out = self.path("copy.exe")
        r = kit("stamp", "--in", self.program, "--out", out, "--tag", "V101", "--id", "12345", "--name", "Nord",
                "--address", "www.nord.example", "--company", "Nord Ltd", "--image", self.image,
                "--color", "255,16,0", "--start", "640,480")
        self.assertEqual(r.returncode, 0, r.stderr)
        data = open(out, "rb").read()
        original = open(self.program, "rb").read()
        image = open(self.image, "rb").read()
        self.assertEqual(data[:len(original)], original)
        self.assertEqual(len(data), len(original) + len(image) + 150)
        self.assertEqual(data[-4:], b"DLID")
        self.assertEqual(data[-15:-4], b"V101" + b"\0" * 7)
        self.assertEqual(data[-123:-119], b"CCNI")
        self.assertEqual(data[-(len(image) + 150):-150], image)
        shown = self.show(out)
        self.assertEqual(shown["tag"], "V101_12345")
        self.assertEqual(shown["name"], "Nord")
        self.assertEqual(shown["company"], "Nord Ltd")
        self.assertEqual(shown["color"], "255,16,0")
        self.assertEqual(shown["start"], "640,480")
        self.assertEqual(shown["stamp-bytes"], str(len(image) + 150))
        self.assertEqual(self.show(self.program)["dlid"], "no")

    def test_bad_values_are_refused_and_leave_no_file(self):
        out = self.path("bad.exe")
        cases = [
            (["--tag", "A" * 12], "11 bytes", 1),
            (["--tag", "V", "--id", "1" * 21], "20 bytes", 1),
            (["--tag", "V", "--name", "n" * 40, "--address", "a" * 20, "--company", "c" * 19], "80-byte", 1),
            (["--tag", "V", "--image", self.path("missing.img")], "cannot read", 1),
            (["--tag", "V", "--image", self.image, "--color", "256,0,0"], "--color", 1),
            (["--tag", "V", "--image", self.image, "--start", "1"], "--start", 1),
            (["--tag", "V", "--company", "c"], "--company needs --address", 2),
            (["--tag", "V", "--bogus"], "unknown option", 2),
            (["--tag"], "needs a value", 2),
        ]
        for args, message, code in cases:
            r = kit("stamp", "--in", self.program, "--out", out, *args)
            self.assertEqual(r.returncode, code, args)
            self.assertIn(message, r.stderr.decode(), args)
            self.assertFalse(os.path.exists(out), args)
            self.assertEqual([n for n in os.listdir(self.dir) if "tmp" in n], [], args)

    def test_existing_stamp_is_refused_unless_replaced(self):
        first = self.path("first.exe")
        second = self.path("second.exe")
        self.assertEqual(kit("stamp", "--in", self.program, "--out", first, "--tag", "OLD", "--image",
                             self.image).returncode, 0)
        r = kit("stamp", "--in", first, "--out", second, "--tag", "NEW")
        self.assertEqual(r.returncode, 1)
        self.assertIn("already carries a stamp", r.stderr.decode())
        self.assertFalse(os.path.exists(second))
        r = kit("stamp", "--in", first, "--out", second, "--tag", "NEW", "--replace")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(open(second, "rb").read(), open(self.program, "rb").read() + b"\0" * 20 + b"NEW" +
                         b"\0" * 8 + b"DLID")
        self.assertEqual(self.show(second)["ccni"], "no")

    def test_help_for_every_command(self):
        for command in ("stamp", "scramble", "unscramble", "site"):
            r = kit(command, "--help")
            self.assertEqual(r.returncode, 0, command)
            self.assertIn(b"loaderkit " + command.encode() + b" ", r.stdout)
            self.assertIn(b"usage:", r.stdout)
        self.assertEqual(kit().returncode, 2)
        self.assertEqual(kit("frobnicate").returncode, 2)

    def test_scramble_round_trip(self):
        reply = b"iFlag=0|sDlurl=http://dl.example/files/\xe9"
        scrambled = kit("scramble", stdin=reply).stdout
        self.assertNotEqual(scrambled, reply)
        self.assertEqual(len(scrambled), len(reply))
        self.assertEqual(kit("unscramble", stdin=scrambled).stdout, reply)
        self.assertEqual(kit("scramble", stdin=b"a\0b").returncode, 1)

    def test_site_builds_every_language(self):
        site = self.path("site")
        r = kit("site", "--out", site, "--site-url", "http://127.0.0.1:8080/", "--installer", self.program)
        self.assertEqual(r.returncode, 0, r.stderr)
        config = open(os.path.join(site, "config.txt"), "rb").read()
        self.assertEqual(kit("unscramble", stdin=config).stdout, b"iFlag=0|sDlurl=http://127.0.0.1:8080/")
        notice = open(os.path.join(site, "p_Tavmok_sys_JAP.JAP"), "rb").read()
        self.assertTrue(notice.startswith(b"%d\r\n" % os.path.getsize(self.program)))
        self.assertIn(b"[CASINO_NAME]", notice)
        self.assertEqual(open(os.path.join(site, "p_Tavmok_reg_DAN.exe"), "rb").read(), open(self.program, "rb").read())


if __name__ == "__main__":
    unittest.main()
