#!/usr/bin/env python3
"""loaderkit from the command line: stamps written, shown and refused, on unsigned and signed
programs; replies scrambled; a static site built. usage: kit_cli_test.py LOADERKIT"""
import concurrent.futures
import glob
import http.client
import json
import os
import re
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import textwrap
import time
import unittest
import unittest.mock
import zlib

KIT = sys.argv.pop(1) if len(sys.argv) > 1 else os.environ.get("LOADERKIT", "loaderkit")
SERVE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "serve.sh")


def kit(*args, stdin=None, stdout=subprocess.PIPE):
    # The time-out turns a kit that waits on a FIFO into a failure instead of a hung suite.
    return subprocess.run([KIT, *args], stdout=stdout, stderr=subprocess.PIPE, input=stdin, timeout=60)


def make_pe(pe32plus=False):
    """A small PE program: MZ and PE headers and one section, without a certificate table."""
    body = bytes(range(256)) * 2
    if pe32plus:
        opt = struct.pack("<HBBIIIIIQIIHHHHHHIIIIHHQQQQII", 0x20B, 14, 0, 512, 0, 0, 0x1000, 0x1000, 0x140000000,
                          0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0, 0x2000, 0x200, 0, 2, 0x140, 1 << 20, 4096,
                          1 << 20, 4096, 0, 16)
    else:
        opt = struct.pack("<HBBIIIIIIIIIHHHHHHIIIIHHIIIIII", 0x10B, 14, 0, 512, 0, 0, 0x1000, 0x1000, 0x1000,
                          0x400000, 0x1000, 0x200, 6, 0, 0, 0, 6, 0, 0, 0x2000, 0x200, 0, 2, 0x140, 1 << 20,
                          4096, 1 << 20, 4096, 0, 16)
    opt += bytes(16 * 8)
    coff = b"PE\0\0" + struct.pack("<HHIIIHH", 0x8664 if pe32plus else 0x14C, 1, 0, 0, 0, len(opt), 0x102)
    section = struct.pack("<8sIIIIIIHHI", b".text", len(body), 0x1000, 512, 0x200, 0, 0, 0, 0, 0x60000020)
    return (b"MZ" + bytes(0x3A) + struct.pack("<I", 0x40) + coff + opt + section).ljust(0x200, b"\0") + body


def security_directory_at(data):
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return pe + 24 + (96 if magic == 0x10B else 112) + 4 * 8


class KitFixture(unittest.TestCase):
    """A throwaway signing key, a scratch folder and a small PE program in it."""

    @classmethod
    def setUpClass(cls):
        cls.keys = tempfile.TemporaryDirectory()
        cls.key, cls.cert = (os.path.join(cls.keys.name, n) for n in ("key.pem", "cert.pem"))
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", cls.key, "-out",
                        cls.cert, "-days", "2", "-subj", "/CN=Throwaway Operator"], check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        cls.keys.cleanup()

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.program = self.path("program.exe")
        with open(self.program, "wb") as f:
            f.write(make_pe())
        self.image = self.path("logo.img")
        with open(self.image, "wb") as f:
            f.write(b"BM" + b"\x00\x01\xff" * 100)

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def signed(self, name, pe32plus=False):
        plain = self.path(name + ".unsigned")
        with open(plain, "wb") as f:
            f.write(make_pe(pe32plus))
        out = self.path(name)
        subprocess.run(["osslsigncode", "sign", "-certs", self.cert, "-key", self.key, "-in", plain, "-out", out],
                       check=True, capture_output=True)
        return out

    def fifo(self):
        """A FIFO that nobody writes: a kit that opened it for reading would wait forever."""
        path = self.path("fifo")
        if not os.path.exists(path):
            os.mkfifo(path)
        return path

    def verifies(self, path):
        r = subprocess.run(["osslsigncode", "verify", "-CAfile", self.cert, path], capture_output=True, text=True)
        return r.returncode == 0 and "Succeeded" in r.stdout and "invalid PE checksum" not in r.stdout + r.stderr


class KitTest(KitFixture):
    def show(self, path, code=0, stdin=None):
        """What --show prints, after a check of its exit code: 1 for a file that is not a program
        or carries no stamp, which a script must be able to tell from a stamped program."""
        r = kit("stamp", "--show", path, stdin=stdin)
        self.assertEqual(r.returncode, code, r.stderr)
        return dict(line.split(": ", 1) for line in r.stdout.decode().splitlines())

    def test_stamp_round_trip_and_layout(self):
        out = self.path("copy.exe")
        r = kit("stamp", "--in", self.program, "--out", out, "--tag", "V101", "--id", "12345", "--name", "Nørd Café",
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
        self.assertEqual(shown["name"], "Nørd Café", "UTF-8 in, Windows-1252 in the stamp, UTF-8 out")
        self.assertIn(b"N\xf8rd Caf\xe9\0www.nord.example", data)
        self.assertEqual(shown["company"], "Nord Ltd")
        self.assertEqual(shown["color"], "255,16,0")
        self.assertEqual(shown["start"], "640,480")
        self.assertEqual(shown["stamp-bytes"], str(len(image) + 150))
        self.assertEqual(shown["signed"], "no")
        self.assertEqual(shown["stamp-in-certificate-table"], "no")
        self.assertEqual(self.show(self.program, 1)["dlid"], "no")
        self.assertEqual(self.show("-", stdin=data)["tag"], "V101_12345", "--show - reads standard input")
        # Far beyond what could be read whole: only the tail is read, and a device is refused.
        sparse = self.path("sparse.exe")
        with open(sparse, "wb") as f:
            f.truncate(6 << 30)
            f.seek(-35, os.SEEK_END)
            f.write(bytes(20) + b"BIG" + bytes(8) + b"DLID")
        self.assertEqual(self.show(sparse, 1)["tag"], "BIG", "printed, though not a program")
        r = kit("stamp", "--show", "/dev/zero")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"not a regular file", r.stderr)

    def test_signed_copies_keep_their_signature_through_stamps_and_replacements(self):
        for pe32plus in (False, True):
            signed = self.signed("signed%d.exe" % pe32plus, pe32plus)
            self.assertTrue(self.verifies(signed))
            # Through a pipe, as a web server's download handler runs it.
            first = self.path("first.exe")
            with open(signed, "rb") as f:
                r = kit("stamp", "--in", "-", "--out", "-", "--tag", "V101", "--id", "7", "--name", "Nord",
                        "--address", "nord.example", stdin=f.read())
            self.assertEqual(r.returncode, 0, r.stderr)
            with open(first, "wb") as f:
                f.write(r.stdout)
            larger, smaller, again = self.path("larger.exe"), self.path("smaller.exe"), self.path("again.exe")
            steps = [(None, first, None, "V101_7"),
                     (first, larger, ["--tag", "V102", "--image", self.image, "--color", "1,2,3"], "V102"),
                     (larger, smaller, ["--tag", "V103"], "V103"),
                     (smaller, again, ["--tag", "V101", "--id", "7", "--name", "Nord", "--address",
                                       "nord.example"], "V101_7")]
            for source, checked, args, tag in steps:
                if source is not None:
                    r = kit("stamp", "--in", source, "--out", checked, "--replace", *args)
                    self.assertEqual(r.returncode, 0, r.stderr)
                shown = self.show(checked)
                self.assertTrue(self.verifies(checked), (pe32plus, tag))
                self.assertEqual((shown["signed"], shown["stamp-in-certificate-table"], shown["tag"]),
                                 ("yes", "yes", tag))
                data = open(checked, "rb").read()
                offset, size = struct.unpack_from("<II", data, security_directory_at(data))
                self.assertEqual((offset + size, size % 8), (len(data), 0), "the table ends the file, 8-aligned")
            self.assertEqual(open(again, "rb").read(), open(first, "rb").read(), "replacing is undone exactly")
            self.assertEqual(self.show(larger)["image-bytes"], str(os.path.getsize(self.image)))
        # An earlier kit appended the stamp after the table: --replace moves it inside.
        old = self.path("old.exe")
        with open(old, "wb") as f:
            f.write(open(signed, "rb").read() + bytes(20) + b"V1" + bytes(9) + b"DLID")
        self.assertEqual(kit("stamp", "--in", old, "--out", self.path("moved.exe"), "--tag", "V1", "--replace")
                         .returncode, 0)
        self.assertTrue(self.verifies(self.path("moved.exe")))

    def test_bad_values_and_programs_are_refused_and_leave_no_file(self):
        out = self.path("bad.exe")
        signed = open(self.signed("signed.exe"), "rb").read()
        directory = security_directory_at(signed)
        table_at, table_size = struct.unpack_from("<II", signed, directory)

        def program(name, data, patch=None):
            data = bytearray(data)
            if patch is not None:
                struct.pack_into("<II", data, directory, *patch)
            with open(self.path(name), "wb") as f:
                f.write(data)
            return ["--in", self.path(name), "--tag", "V"]
        programs = [
            (program("text.exe", b"MZ" + b"not a program" * 10), "not a PE program"),
            (program("trailing.exe", signed + b"extra"), "bytes after its certificate table"),
            (program("long.exe", signed, (table_at, table_size + 8)), "does not fit"),
            (program("outside.exe", signed, (len(signed) + 16, 8)), "points outside the file"),
            (["--in", self.fifo(), "--tag", "V"], "not a regular file"),
        ]
        for args, message in programs:
            r = kit("stamp", "--out", out, *args)
            self.assertEqual(r.returncode, 1, args)
            self.assertIn(message, r.stderr.decode(), args)
            self.assertFalse(os.path.exists(out), args)
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
            (["--tag", "V", "--id", ""], "empty value", 2),  # what "$UNSET_VARIABLE" gives
            (["--tag", "V", "--name", "Жук"], "'Ж' (U+0416) cannot be shown in code page 1252", 1),
            (["--tag", "V", "--name", "ok", "--address", b"\xffx"], "--address: line 1 is not UTF-8", 1),
        ]
        for args, message, code in cases:
            r = kit("stamp", "--in", self.program, "--out", out, *args)
            self.assertEqual(r.returncode, code, args)
            self.assertIn(message, r.stderr.decode(), args)
            self.assertFalse(os.path.exists(out), args)
            self.assertEqual([n for n in os.listdir(self.dir) if "loaderkit-" in n], [], args)

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
        for command in ("stamp", "scramble", "unscramble", "site", "download"):
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
        for command in ("scramble", "unscramble"):
            r = kit(command, stdin=b"")
            self.assertEqual((r.returncode, r.stdout), (0, b""), command)

    def test_a_write_that_fails_is_an_error(self):
        with open("/dev/full", "wb") as full:
            for args in (["scramble", "--text", "abc"], ["stamp", "--in", self.program, "--out", "-", "--tag", "V"],
                         ["stamp", "--show", self.program], ["site", "--help"]):
                r = kit(*args, stdout=full)
                self.assertEqual(r.returncode, 1, args)
                self.assertIn(b"cannot write", r.stderr, args)
        # An output named by a FIFO, a device or a link is refused, and the name keeps what it was:
        # the rename into place would take it.
        nodes = [self.fifo(), self.path("link.exe")]
        os.symlink(self.program, nodes[1])
        try:
            os.mknod(self.path("full"), 0o600 | stat.S_IFCHR, os.makedev(1, 7))
            nodes.append(self.path("full"))
        except PermissionError:
            pass  # devices are made by root only
        # The funnel reads a store that the endpoint made (with one report, as CGI).
        made = subprocess.run([KIT, "download"], capture_output=True, timeout=60, env=dict(
            os.environ, GATEWAY_INTERFACE="CGI/1.1", REQUEST_METHOD="GET", DOCUMENT_URI="/report",
            QUERY_STRING="v=1&event=chosen&tag=Q&lang=ENG&os=10.0&wow64=0&build=paced",
            LOADERKIT_PROGRAM=self.program, LOADERKIT_DATABASE=self.path("store.sqlite")))
        self.assertTrue(made.stdout.startswith(b"Status: 204"), made)
        for node in nodes:
            before = os.lstat(node)
            for args in (["stamp", "--in", self.program, "--tag", "V"], ["scramble", "--text", "abc"],
                         ["funnel", "--database", self.path("store.sqlite"), "--html"]):
                r = kit(*args, *([] if args[0] == "funnel" else ["--out"]), node)
                self.assertEqual(r.returncode, 1, (node, args))
                self.assertIn(b"is not a regular file", r.stderr, (node, args))
                after = os.lstat(node)
                self.assertEqual((after.st_mode, after.st_ino, after.st_rdev), (before.st_mode, before.st_ino,
                                 before.st_rdev), (node, args))
        self.assertEqual([n for n in os.listdir(self.dir) if "loaderkit-" in n], [])
        # A reader that went away: the documented exit 1, not death by SIGPIPE (141).
        reader, writer = os.pipe()
        os.close(reader)
        try:
            r = kit("stamp", "--in", self.program, "--out", "-", "--tag", "V", stdout=writer)
        finally:
            os.close(writer)
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"cannot write standard output", r.stderr)

    def test_site_builds_every_language(self):
        site = self.path("site")
        notice = self.path("notice.txt")
        with open(notice, "wb") as f:
            f.write(b"one\ntwo\r\nthree\n")
        # Each language's notice in its players' code page, from UTF-8 as editors write it.
        texts = {"JAP": ("\ufeffようこそ [CASINO_NAME]\n", "cp932"), "GRE": ("Καλώς ήρθατε\n", "cp1253"),
                 "ARA": ("أهلا بك في [CASINO_NAME]\n", "cp1256"), "FRE": ("Bienvenue à [CASINO_NAME]\n", "cp1252")}
        own = []
        for code, (text, _) in texts.items():
            with open(self.path(code + ".txt"), "w", encoding="utf-8") as f:
                f.write(text)
            # Japanese also by its ISO 639-2 and Windows code.
            own += ["--notice-for", "%s=%s" % ("JPN" if code == "JAP" else code, self.path(code + ".txt"))]
        big = self.path("big.exe")
        with open(big, "wb") as f:
            f.write(make_pe() + b"system libraries" * 100)
        r = kit("site", "--out", site, "--site-url", "http://127.0.0.1:8080/", "--installer", self.program,
                "--notice", notice, *own, "--installer-for", "sys_JAP=" + big)
        self.assertEqual(r.returncode, 0, r.stderr)
        config = open(os.path.join(site, "config.txt"), "rb").read()
        self.assertEqual(kit("unscramble", stdin=config).stdout, b"iFlag=0|sDlurl=http://127.0.0.1:8080/")

        def page(name):
            return open(os.path.join(site, name), "rb").read()
        for code, (text, codepage) in texts.items():
            self.assertEqual(page("p_Tavmok_reg_%s.%s" % (code, code)),
                             b"%d\r\n" % os.path.getsize(self.program) + text.lstrip("\ufeff").replace("\n", "\r\n")
                             .encode(codepage), code)
        self.assertTrue(page("p_Tavmok_sys_JAP.JAP").startswith(b"%d\r\n" % os.path.getsize(big)), "its own size")
        self.assertEqual(page("p_Tavmok_sys_JAP.exe"), open(big, "rb").read())
        self.assertEqual(page("p_Tavmok_reg_JAP.exe"), open(self.program, "rb").read())
        self.assertEqual(page("p_Tavmok_sys_KOR.KOR"), b"%d\r\none\r\ntwo\r\nthree\r\n" % os.path.getsize(self.program))
        self.assertEqual(page("p_Tavmok_reg_DAN.exe"), open(self.program, "rb").read())
        self.assertEqual({os.stat(os.path.join(site, n)).st_ino for n in os.listdir(site)
                          if n.endswith(".exe") and n != "p_Tavmok_sys_JAP.exe"},
                         {os.stat(os.path.join(site, "p_Tavmok_reg_DAN.exe")).st_ino}, "one copy on disk")
        self.assertEqual(len(os.listdir(site)), 65)
        # Refused values and a failure half-way leave the site that was there, and nothing beside it.
        with open(os.path.join(self.dir, "other"), "wb") as f:
            f.write(b"operator's own file")
        for name, content in (("cafe.txt", "Bienvenue\nau café\n".encode()), ("latin1.txt", b"caf\xe9\n"),
                              ("long.txt", b"a" * (22001 - len(b"%d\r\n" % os.path.getsize(self.program))))):
            with open(self.path(name), "wb") as f:
                f.write(content)
        refused = [
            ([site, "http://dl.example/files"], "must end with '/'"),
            ([site, "http://dl.example/a|b/"], "'|'"),
            ([site, "http://dl.example/" + "x" * 2009 + "/"], "longer than the 2027"),
            ([site, "http://dl.example/", "--notice", self.path("missing.txt")], "cannot read"),
            ([self.dir, "http://dl.example/"], "not a site file"),
            ([site, "http://dl.example/", "--notice-for", "JAP=" + self.path("cafe.txt")],
             "JAP notice %s: line 2: 'é' (U+00E9) cannot be shown in code page 932" % self.path("cafe.txt")),
            ([site, "http://dl.example/", "--notice", self.path("latin1.txt")], "line 1 is not UTF-8"),
            ([site, "http://dl.example/", "--notice", self.path("long.txt")], "over the 22000 that the loader reads"),
            ([site, "http://dl.example/", "--installer-for", "JAP=" + self.fifo()], "not a regular file"),
            ([site, "http://dl.example/", "--notice-for", "JPX=" + self.path("cafe.txt")], "LANG=FILE", 2),
            ([site, "http://dl.example/", "--installer-for", "sys_JPN=" + big, "--installer-for", "sys_JAP=" + big],
             "sys_JAP given twice", 2),
            ([site, "http://dl.example/", "--installer-for", "sys-JAP=" + big], "KEY=FILE", 2),
            ([site, "http://dl.example/", "--notice", ""], "empty value", 2),
        ]
        for (target, url, *args), message, *code in refused:
            r = kit("site", "--out", target, "--site-url", url, "--installer", self.program, *args)
            self.assertEqual(r.returncode, code[0] if code else 1, args)
            self.assertIn(message, r.stderr.decode(), args)
            self.assertEqual(len(os.listdir(site)), 65, args)
            self.assertEqual(sorted(n for n in os.listdir(self.dir) if "site" in n), ["site"], args)
        self.assertEqual(kit("unscramble", stdin=open(os.path.join(site, "config.txt"), "rb").read()).stdout,
                         b"iFlag=0|sDlurl=http://127.0.0.1:8080/")
        r = kit("site", "--out", site, "--site-url", "http://dl.example/", "--installer", self.program)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(kit("unscramble", stdin=open(os.path.join(site, "config.txt"), "rb").read()).stdout,
                         b"iFlag=0|sDlurl=http://dl.example/", "a site folder is replaced whole")
        # Without notice files, every language reads its own default notice in its own script,
        # with the names left for the loader to insert; right-to-left lines end in a mark.
        pages = {}
        for code, codepage in (("CHT", "cp950"), ("JAP", "cp932"), ("KOR", "cp949"), ("GRE", "cp1253"),
                               ("CHS", "cp936"), ("HEB", "cp1255"), ("ARA", "cp1256"), ("DEU", "cp1252"),
                               ("ENG", "cp1252"), ("SPA", "cp1252"), ("FRE", "cp1252"), ("ITA", "cp1252"),
                               ("DUT", "cp1252"), ("POR", "cp1252"), ("SWE", "cp1252"), ("DAN", "cp1252")):
            text = page("p_Tavmok_sys_%s.%s" % (code, code)).decode(codepage).split("\r\n", 1)[1]
            self.assertEqual((text.count("\r\n"), text.count("[CASINO_NAME]"), text.count("[CASINO_ADDRESS]")), (4, 1, 1),
                             code)
            pages[code] = text
        self.assertEqual(len(set(pages.values())), 16, "no language reads another's notice")
        self.assertTrue(pages["ENG"].startswith("Welcome to [CASINO_NAME]!\r\n"))
        self.assertIn("出金", pages["JAP"])
        self.assertIn("お待ちしております", pages["JAP"])
        self.assertIn("سحب", pages["ARA"])
        for code in ("HEB", "ARA"):
            self.assertEqual(pages[code].count(".\u200f\r\n"), 2, code)


def wait_for(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


def http_get(port, target, method="GET"):
    """One request to 127.0.0.1:port: (status, headers, body)."""
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    try:
        c.request(method, target)
        r = c.getresponse()
        return r.status, dict(r.getheaders()), r.read()
    finally:
        c.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def fastcgi_get(address, params, read_pause=0.0, on_first=None):
    """One FastCGI request as a web server sends it, to a Unix socket path or a (host, port):
    (headers and body as the responder wrote them, whether END_REQUEST came). read_pause slows
    the reading, in seconds per 64 KB; on_first() runs once the first output has arrived."""
    def record(kind, content):
        return struct.pack(">BBHHBx", 1, kind, 1, len(content), 0) + content
    def pair(name, value):
        name, value = name.encode(), value.encode()
        return bytes([len(name)]) + (bytes([len(value)]) if len(value) < 128 else struct.pack(">I", len(value) | 1 << 31)) + name + value
    family = socket.AF_UNIX if isinstance(address, str) else socket.AF_INET
    with socket.socket(family, socket.SOCK_STREAM) as c:
        c.settimeout(30)
        c.connect(address)
        c.sendall(record(1, struct.pack(">HB5x", 1, 0)) + record(4, b"".join(pair(k, v) for k, v in params.items()))
                  + record(4, b"") + record(5, b""))
        c.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 65536)
        data, out, ended = b"", [], False
        while not ended:
            chunk = c.recv(65536)
            if not chunk:
                break
            data += chunk
            while len(data) >= 8:
                _, kind, _, length, padding = struct.unpack(">BBHHB", data[:7])
                if len(data) < 8 + length + padding:
                    break
                if kind == 6 and length:
                    if not out and on_first:
                        on_first()
                    out.append(data[8:8 + length])
                ended = ended or kind == 3
                data = data[8 + length + padding:]
            time.sleep(read_pause)
        return b"".join(out), ended


def show(data, folder):
    """The 'key: value' lines that loaderkit stamp --show prints for data."""
    path = os.path.join(folder, "shown.exe")
    with open(path, "wb") as f:
        f.write(data)
    out = kit("stamp", "--show", path).stdout.decode()
    return dict(line.split(": ", 1) for line in out.splitlines())


def unvarying(data, signed):
    """The bytes of a stamped copy before the certificate table, less the checksum and the table's
    size: the same in every copy of one signed program."""
    table = security_directory_at(signed)
    cert_at = struct.unpack_from("<I", signed, table)[0]
    checksum = struct.unpack_from("<I", signed, 0x3C)[0] + 24 + 64
    head = bytearray(data[:cert_at])
    head[checksum:checksum + 4] = bytes(4)
    head[table + 4:table + 8] = bytes(4)
    return bytes(head)


class EndpointTest(KitFixture):
    """The download endpoint behind nginx, its resident FastCGI responder started, supervised and
    stopped by scripts/serve.sh; and the same answers from loaderkit as a CGI program."""

    def setUp(self):
        super().setUp()
        self.signed_program = self.signed("signed.exe")
        os.makedirs(self.path("site"))
        with open(self.path("site/config.txt"), "wb") as f:
            f.write(b"static file")
        os.makedirs(self.path("site/downloads"))
        for name in ("downloads/guide.txt", "download-faq.txt"):
            with open(self.path("site/" + name), "wb") as f:
                f.write(b"the site's own " + name.encode())
        self.port = free_port()
        self.serve()
        self.conf = os.path.join(os.path.dirname(SERVE), "..", "build", "serve", str(self.port))

    def serve(self):
        self.server = subprocess.Popen(
            ["bash", SERVE, "--site", self.path("site"), "--program", self.signed_program, "--port", str(self.port),
             "--name", "Nordlys Café", "--address", "www.nordlys.example", "--file-name", "nordlys-setup"],
            env=dict(os.environ, LOADERKIT=KIT), stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertIn(b"serve: http://127.0.0.1:%d/" % self.port, self.server.stdout.readline())

    def tearDown(self):
        # SIGTERM, which serve.sh passes on to nginx and fcgiwrap; a SIGKILL would orphan them.
        if self.server.poll() is None:
            self.server.terminate()
            try:
                self.server.wait(20)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
        self.server.stdout.close()
        super().tearDown()

    def get(self, target, method="GET"):
        return http_get(self.port, target, method)

    def test_downloads_carry_their_tags_and_fresh_ids_and_bad_requests_get_no_program(self):
        signed = open(self.signed_program, "rb").read()
        cert_at = struct.unpack_from("<I", signed, security_directory_at(signed))[0]

        tags = ["t%d-%s" % (i, "x" * (i % 5)) for i in range(400)]
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            answers = list(pool.map(lambda tag: self.get("/download?tag=" + tag), tags))
        self.assertEqual({status for status, _, _ in answers}, {200})
        ids = [headers["X-Download-Id"] for _, headers, _ in answers]
        self.assertEqual(len(set(ids)), 400, "every download has its own id")
        self.assertTrue(all(len(i) == 20 and int(i, 16) >= 0 for i in ids), ids[:3])
        for tag, (status, headers, body) in zip(tags, answers):
            self.assertEqual(headers["Content-Type"], "application/octet-stream")
            self.assertEqual(headers["Content-Disposition"], 'attachment; filename="nordlys-setup.exe"')
            self.assertEqual(headers["Cache-Control"], "no-store")
            self.assertEqual(int(headers["Content-Length"]), len(body))
            self.assertEqual(unvarying(body, signed), unvarying(signed, signed), tag)
            self.assertEqual(body[cert_at + 8:len(signed)], signed[cert_at + 8:], "the signature itself is unchanged")
        for tag, (_, headers, body) in list(zip(tags, answers))[::57]:
            shown = show(body, self.dir)
            self.assertEqual((shown["version-tag"], shown["download-id"]), (tag, headers["X-Download-Id"]))
            self.assertEqual((shown["name"], shown["stamp-in-certificate-table"]), ("Nordlys Café", "yes"),
                             "the endpoint stores names in Windows-1252, as stamp does")
            self.assertTrue(self.verifies(self.path("shown.exe")), tag)
        with open(os.path.join(self.conf, "access.log")) as log:
            self.assertIn("download_id=" + ids[0], log.read())

        status, headers, body = self.get("/download?tag=V101", "HEAD")
        self.assertEqual((status, body), (200, b""))
        self.assertEqual(int(headers["Content-Length"]), len(self.get("/download?tag=V101")[2]))
        refused = [("/download", 400), ("/download?tag=", 400), ("/download?tag=abcdefghijkl", 400),
                   ("/download?tag=..", 400), ("/download?tag=a/b", 400), ("/download?tag=a%00", 400),
                   ("/download?tag=a%20b", 400), ("/download?tag=a&tag=b", 400),
                   ("/download?x=" + "y" * 1024 + "&tag=a", 400), ("/download/x?tag=a", 404),
                   ("/downloads?tag=a", 404)]
        for method in ("POST", "PUT", "DELETE"):
            refused.append(("/download?tag=a", 405, method))
        for target, expected, *method in refused:
            status, headers, body = self.get(target, *method)
            self.assertEqual(status, expected, target)
            self.assertNotIn(b"MZ", body, target)
            self.assertLess(len(body), 200, target)
        # Loaders' reports: exactly what a loader sends is stored; anything else is 400 and nothing.
        base = "v=1&id=0123456789abcdef0123&tag=V101&lang=JAP&os=10.0.19045&wow64=1&build=paced"
        end = "&bytes=70000&total=70000&discover_ms=120&download_ms=4000&http=0&error=0&attempts=1"
        reports = [("event=chosen&" + base, 204), ("event=cancelled&" + base.replace("V101", ""), 204),
                   ("event=end&outcome=installer-started&" + base + end, 204),
                   ("event=end&outcome=message-5&" + base + end.replace("http=0", "http=503"), 204),
                   ("event=chosen&" + base + "&user=alice", 400), ("event=chosen&" + base.replace("v=1", "v=2"), 400),
                   ("event=chosen&" + base.replace("V101", "V" * 12), 400),
                   ("event=chosen&" + base.replace("JAP", "J%0aP"), 400), ("event=chosen&" + base + "&v=1", 400),
                   ("event=end&outcome=message-6&" + base + end, 400), ("event=end&outcome=message-3&" + base, 400),
                   ("event=chosen&" + base + end, 400), ("event=end&outcome=message-3&" + base + end.replace(
                       "bytes=70000", "bytes=4294967296"), 400), ("event=chosen&" + base.replace("os=10.0", "os=10;0"), 400)]
        for query, expected in reports:
            status, _, body = self.get("/report?" + query)
            self.assertEqual(status, expected, query)
        self.assertEqual(self.get("/report?event=chosen&" + base, "POST")[0], 400)
        funnel = json.loads(kit("funnel", "--database", os.path.join(self.conf, "funnel.sqlite"), "--json").stdout)
        groups = {g["key"]: g for g in funnel["groups"]}
        self.assertEqual({k: groups["V101"][k] for k in ("served", "chosen", "installer_started", "message_5", "no_end")},
                         {"served": 1, "chosen": 1, "installer_started": 1, "message_5": 1, "no_end": 0})
        self.assertEqual(groups[""]["cancelled"], 1)
        self.assertEqual(sum(g["served"] for g in funnel["groups"]), 401, "one record per copy served, none per HEAD")
        self.assertEqual(self.get("/config.txt")[2], b"static file")
        for name in ("downloads/guide.txt", "download-faq.txt"):
            self.assertEqual(self.get("/" + name), (200, unittest.mock.ANY, b"the site's own " + name.encode()),
                             "the endpoint answers exactly /download")
        # The program gone, then refused by the kit: 500 with the reason in the error log.
        os.rename(self.signed_program, self.signed_program + ".away")
        for what, content in (("refused by the kit", b"not a program at all"), ("missing", None)):
            if content is not None:
                with open(self.signed_program, "wb") as f:
                    f.write(content)
            status, _, body = self.get("/download?tag=V101")
            self.assertEqual(status, 500, what)
            self.assertNotIn(b"MZ", body, what)
            if content is not None:
                os.remove(self.signed_program)
        with open(os.path.join(self.conf, "error.log")) as log:
            errors = log.read()
        self.assertIn("loaderkit download: %s: not a PE program" % self.signed_program, errors)
        self.assertIn("loaderkit download: cannot read %s" % self.signed_program, errors)
        os.rename(self.signed_program + ".away", self.signed_program)
        self.assertEqual(self.get("/download?tag=V102")[0], 200, "the endpoint serves on")

        # loaderkit as a CGI program, as fcgiwrap would run it: the same answer, also when its store
        # cannot be written (the record is lost with a line in the log, never the download).
        cgi = subprocess.run([KIT, "download"], capture_output=True, timeout=60, env=dict(
            os.environ, GATEWAY_INTERFACE="CGI/1.1", REQUEST_METHOD="GET", DOCUMENT_URI="/download",
            QUERY_STRING="tag=CGI1", LOADERKIT_PROGRAM=self.signed_program, LOADERKIT_FILE_NAME="nordlys-setup",
            LOADERKIT_DATABASE=self.path("no-such-folder/funnel.sqlite")))
        self.assertIn(b"the store cannot be opened, the record is lost", cgi.stderr)
        head, _, body = cgi.stdout.partition(b"\r\n\r\n")
        self.assertTrue(head.startswith(b"Status: 200 OK\r\n"), head)
        self.assertIn(b'filename="nordlys-setup.exe"', head)
        self.assertEqual(unvarying(body, signed), unvarying(signed, signed))
        self.assertEqual(show(body, self.dir)["version-tag"], "CGI1")

        self.server.send_signal(signal.SIGTERM)
        self.assertEqual(self.server.wait(20), 0)
        conf = os.path.realpath(self.conf)
        left = subprocess.run(["pgrep", "-f", conf], capture_output=True, text=True).stdout
        self.assertEqual(left, "", "no nginx or fcgiwrap process is left")
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", self.port), timeout=2).close()

        # Started again, it serves into the store it had: a restart loses no row.
        def served():
            out = kit("funnel", "--database", os.path.join(self.conf, "funnel.sqlite"), "--json").stdout
            return sum(g["served"] for g in json.loads(out)["groups"])
        before = served()
        self.server.stdout.close()
        self.serve()
        self.assertEqual(self.get("/download?tag=V103")[0], 200)
        self.assertEqual((before > 400, served()), (True, before + 1), "the copies served before, and one")

    def download_while(self, count, during):
        """count downloads from 8 clients at once while during(answered) runs beside them, where
        answered() counts the answers so far; each answer as (status, body, when it was asked)."""
        done = []

        def one(i):
            sent = time.monotonic()
            try:
                status, _, body = self.get("/download?tag=L%d" % i)
            except http.client.IncompleteRead:
                status, body = "cut", b""
            done.append(1)
            return status, body, sent
        with concurrent.futures.ThreadPoolExecutor(9) as pool:
            side = pool.submit(during, lambda: len(done))
            answers = list(pool.map(one, range(count)))
            side.result()
        return answers

    def test_a_release_renamed_over_the_program_is_taken_whole_and_a_killed_worker_costs_its_request_only(self):
        first = open(self.signed_program, "rb").read()
        second = open(self.signed("release2.exe", pe32plus=True), "rb").read()
        releases = {unvarying(first, first): 1, unvarying(second, second): 2}

        def release(body):
            return releases.get(unvarying(body, first)) or releases.get(unvarying(body, second))

        renamed = []

        def rename_midway(answered):
            wait_for(lambda: answered() >= 200)
            os.replace(self.path("release2.exe"), self.signed_program)
            renamed.append(time.monotonic())
        answers = self.download_while(600, rename_midway)
        self.assertEqual({status for status, _, _ in answers}, {200})
        seen = [release(body) for _, body, _ in answers]
        self.assertNotIn(None, seen, "every answer is one whole release")
        self.assertIn(1, seen, "the first release was served before the rename")
        self.assertEqual({r for r, (_, _, sent) in zip(seen, answers) if sent > renamed[0]}, {2},
                         "every request sent after the rename gets the new release")

        # A worker killed under load, five times: only the request it was answering fails (nginx
        # answers 502), never with a cut body, and the supervisor starts another worker.
        # The supervising responder is the oldest of its processes; its workers are its children.
        parent = subprocess.run(["pgrep", "-o", "-f", "-x", ".*/loaderkit download --fastcgi --socket .*/serve/%d/endpoint.sock .*" % self.port],
                                capture_output=True, text=True).stdout.split()
        self.assertEqual(len(parent), 1, parent)

        def workers():
            return subprocess.run(["pgrep", "-P", parent[0]], capture_output=True, text=True).stdout.split()
        before = len(workers())

        def kill_a_live_worker():
            # A worker killed a moment ago may still be listed, unreaped, and be reaped between
            # the listing and the kill: take a worker that still runs, and list again if it went.
            deadline = time.monotonic() + 10
            while time.monotonic() < deadline:
                for pid in workers():
                    try:
                        with open("/proc/%s/stat" % pid) as f:
                            if f.read().rpartition(")")[2].split()[0] == "Z":
                                continue
                        os.kill(int(pid), signal.SIGKILL)
                        return
                    except (FileNotFoundError, ProcessLookupError):
                        continue
                time.sleep(0.01)
            self.fail("no live worker to kill")

        def kill_workers(answered):
            for k in range(5):
                wait_for(lambda: answered() >= 100 * (k + 1))
                kill_a_live_worker()
        answers = self.download_while(600, kill_workers)
        statuses = [status for status, _, _ in answers]
        self.assertLessEqual(set(statuses), {200, 502})
        self.assertLessEqual(statuses.count(502), 5)
        self.assertNotIn(None, [release(body) for status, body, _ in answers if status == 200])
        self.assertTrue(wait_for(lambda: len(workers()) == before), "the killed workers are replaced")
        self.assertEqual(self.get("/download?tag=V103")[0], 200)

class ResponderTest(KitFixture):
    """The resident responder as operators run it: stopped under load, as a container's first
    process, beside another on the same path, under a hostile FastCGI peer, with the signal
    dispositions it inherits, with the worker count it is given."""

    def responder(self, sock, *options, wrap=(), preexec=None, relative=False):
        """A responder on sock, given as it is or (relative) by its name in its folder."""
        env = dict(os.environ, LOADERKIT_PROGRAM=self.program, LOADERKIT_IMAGE=self.image)
        given = os.path.basename(sock) if relative else sock
        p = subprocess.Popen([*wrap, KIT, "download", "--fastcgi", "--socket", given, *options], env=env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, preexec_fn=preexec,
                             start_new_session=True, cwd=os.path.dirname(sock))
        self.addCleanup(lambda: (p.poll() is None and os.killpg(p.pid, signal.SIGKILL), p.wait(), p.stderr.close()))
        self.assertTrue(wait_for(lambda: os.path.exists(sock) and self.answers(sock)), "the responder listens")
        return p

    def answers(self, sock, **extra):
        try:
            out, ended = fastcgi_get(sock, dict({"REQUEST_METHOD": "GET", "DOCUMENT_URI": "/download",
                                                 "QUERY_STRING": "tag=R1"}, **extra))
        except OSError:
            return False
        return ended and out.startswith(b"Status: 200 OK") and out

    def children(self, p):
        return subprocess.run(["pgrep", "-P", str(p.pid)], capture_output=True, text=True).stdout.split()

    def test_stops_finish_answers_and_no_fault_of_the_environment_stops_serving(self):
        with open(self.image, "wb") as f:  # an answer far larger than any socket buffer
            f.write(os.urandom(16 << 20))
        sock = self.path("a.sock")
        first = self.responder(sock, "--workers", "1", relative=True)
        self.assertEqual(len(self.children(first)), 1, "--workers 1 runs one worker")

        # A second responder on the live path, named as it is or relative to the folder it starts
        # in, is refused and leaves the first one's socket.
        for given in (sock, "a.sock", "./a.sock"):
            second = subprocess.run([KIT, "download", "--fastcgi", "--socket", given], capture_output=True, text=True,
                                    timeout=30, env=dict(os.environ, LOADERKIT_PROGRAM=self.program), cwd=self.dir)
            self.assertEqual(second.returncode, 1, given)
            self.assertIn("another process listens on ", second.stderr, given)
        # A peer's parameters name no file: the operator's image is in the answer, /etc/passwd not.
        out = self.answers(sock, LOADERKIT_IMAGE="/etc/passwd", LOADERKIT_PROGRAM="/etc/passwd")
        self.assertTrue(out, "the first responder still answers")
        self.assertNotIn(open("/etc/passwd", "rb").read(64), out)
        self.assertIn(open(self.image, "rb").read(4096), out)

        # A stop while a 16 MB answer is read slowly: the answer ends whole, then the responder.
        stopped = []
        out, ended = fastcgi_get(sock, {"REQUEST_METHOD": "GET", "DOCUMENT_URI": "/download", "QUERY_STRING": "tag=S"},
                                 read_pause=0.002, on_first=lambda: stopped.append(os.killpg(first.pid, signal.SIGTERM)))
        head, _, body = out.partition(b"\r\n\r\n")
        self.assertTrue(stopped and ended, "END_REQUEST after the stop")
        self.assertEqual(len(body), int(re.search(rb"Content-Length: (\d+)", head).group(1)))
        self.assertEqual(first.wait(30), 0)
        self.assertFalse(os.path.exists(sock), "the socket it made goes with it")

        # As the first process of its own PID namespace (a container's entrypoint), and started
        # with SIGCHLD ignored: it answers, and a killed worker is replaced.
        for name, wrap, preexec in (("pid1", ("unshare", "--pid", "--fork", "--kill-child"), None),
                                    ("ignored SIGCHLD", (), lambda: signal.signal(signal.SIGCHLD, signal.SIG_IGN))):
            with self.subTest(name):
                if wrap and subprocess.run([*wrap, "true"], capture_output=True).returncode != 0:
                    self.skipTest("no PID namespace here: unshare --pid needs root")
                sock = self.path(name.replace(" ", "-") + ".sock")
                p = self.responder(sock, "--workers", "2", wrap=wrap, preexec=preexec)
                supervisor = p if not wrap else type("P", (), {"pid": int(self.children(p)[0])})
                workers = self.children(supervisor)
                self.assertEqual(len(workers), 2, name)
                os.kill(int(workers[0]), signal.SIGKILL)
                self.assertTrue(wait_for(lambda: len(self.children(supervisor)) == 2 and
                                         workers[0] not in self.children(supervisor)), name)
                self.assertTrue(self.answers(sock), name)



class ThrowawayPostgres:
    """A PostgreSQL cluster of Debian's packages in a temporary folder, listening on a Unix socket
    there only, run as nobody where the test runs as root (the server refuses root)."""

    def __init__(self):
        found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"), key=lambda p: int(p.split("/")[4]))
        if not found:
            raise unittest.SkipTest("no PostgreSQL: Debian's postgresql package is not installed")
        self.bin = os.path.dirname(found[-1])
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.as_user = []
        if os.geteuid() == 0:
            shutil.chown(self.dir, "nobody", "nogroup")
            self.as_user = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        self.pg([os.path.join(self.bin, "initdb"), "-D", self.dir + "/data", "-U", "loaderkit", "--auth=trust",
                 "-E", "UTF8", "--no-sync"])
        self.address = "postgresql://loaderkit@/postgres?host=" + self.dir
        self.start()

    def pg(self, command):
        r = subprocess.run(self.as_user + command, capture_output=True, text=True, timeout=60)
        if r.returncode != 0:
            raise AssertionError("%s: exit %d: %s" % (command[0], r.returncode, (r.stdout + r.stderr)[-500:]))

    def ctl(self, *args):
        self.pg([os.path.join(self.bin, "pg_ctl"), "-D", self.dir + "/data", "-l", self.dir + "/log", "-w", *args])

    def start(self):
        self.ctl("-o", "-k %s -c listen_addresses='' -c fsync=off -c max_connections=60" % self.dir, "start")

    def stop(self):
        self.ctl("-m", "fast", "stop")

    def sql(self, statement):
        return subprocess.run(["psql", "-XAtq", self.address, "-c", statement], check=True, capture_output=True,
                              text=True, timeout=30).stdout.strip()

    def close(self):
        try:
            self.ctl("-m", "immediate", "stop")
        finally:
            self.tmp.cleanup()


class PostgresTest(KitFixture):
    """Three endpoints, standing in for three machines, writing to one PostgreSQL server."""

    def setUp(self):
        super().setUp()
        self.db = ThrowawayPostgres()
        self.addCleanup(self.db.close)
        self.signed_program = self.signed("signed.exe")
        os.makedirs(self.path("site"))
        self.ports, self.servers = [], []
        for _ in range(3):
            port = free_port()
            server = subprocess.Popen(["bash", SERVE, "--site", self.path("site"), "--program", self.signed_program,
                                       "--port", str(port), "--database", self.db.address],
                                      env=dict(os.environ, LOADERKIT=KIT, SERVE_WORKERS="2"),
                                      stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
            self.addCleanup(server.stdout.close)
            self.addCleanup(lambda s=server: s.poll() is None and (s.terminate(), s.wait(30)))
            self.assertIn(b"serve: http://127.0.0.1:%d/" % port, server.stdout.readline())
            self.ports.append(port)
            self.servers.append(server)

    def get(self, i, target):
        status, headers, body = http_get(self.ports[i % 3], target)
        return status, headers.get("X-Download-Id"), body

    def copy_and_reports(self, i):
        """Copy i, from endpoint i mod 3, and its loader's reports: every third copy is chosen and
        ends with its installer started, every seventh is cancelled. The statuses."""
        tag = "M%d" % (i % 4)
        status, copy_id, _ = self.get(i, "/download?tag=" + tag)
        statuses = [status]
        base = "v=1&id=%s&tag=%s&lang=ENG&os=10.0.19045&wow64=1&build=paced" % (copy_id, tag)
        end = "&bytes=70000&total=70000&discover_ms=120&download_ms=4000&http=0&error=0&attempts=1"
        if i % 3 == 0:
            statuses += [self.get(i + 1, "/report?event=chosen&" + base)[0],
                         self.get(i + 2, "/report?event=end&outcome=installer-started&" + base + end)[0]]
        if i % 7 == 0:
            statuses.append(self.get(i, "/report?event=cancelled&" + base)[0])
        return statuses

    def stored(self):
        return [int(n) for n in self.db.sql("SELECT (SELECT count(*) FROM downloads) || ',' || (SELECT count("
                                            "DISTINCT id) FROM downloads) || ',' || (SELECT count(*) FROM reports)")
                .split(",")]

    def funnel(self):
        r = kit("funnel", "--database", self.db.address, "--json")
        self.assertEqual(r.returncode, 0, r.stderr)
        return {g["key"]: g for g in json.loads(r.stdout)["groups"]}

    def test_many_machines_one_funnel_and_an_outage_costs_no_download(self):
        def expected(count):
            reports = sum(2 * (i % 3 == 0) + (i % 7 == 0) for i in range(count))
            return [count, count, reports]

        # Load from 8 clients over the three endpoints: every record stored once, summed exactly.
        with concurrent.futures.ThreadPoolExecutor(8) as pool:
            statuses = [s for r in pool.map(self.copy_and_reports, range(600)) for s in r]
        self.assertEqual(set(statuses), {200, 204})
        self.assertTrue(wait_for(lambda: self.stored() == expected(600), 20), (self.stored(), expected(600)))
        groups = self.funnel()
        for k in range(4):
            copies = range(k, 600, 4)
            self.assertEqual([groups["M%d" % k][f] for f in ("served", "chosen", "installer_started", "cancelled",
                                                              "no_end")],
                             [150, sum(i % 3 == 0 for i in copies), sum(i % 3 == 0 for i in copies),
                              sum(i % 7 == 0 for i in copies), 0])

        # The server stopped for 3 s under load: every download is served meanwhile, and what the
        # workers held in their queues reaches it once it is back, once.
        outage = []

        def stop_and_start(answered):
            wait_for(lambda: answered() >= 100)
            self.db.stop()
            outage.append(answered())
            time.sleep(3)
            outage.append(answered())
            self.db.start()
        done = []

        def one(i):
            statuses = self.copy_and_reports(i)
            done.append(1)
            return statuses
        with concurrent.futures.ThreadPoolExecutor(9) as pool:
            side = pool.submit(stop_and_start, lambda: len(done))
            statuses = [s for r in pool.map(one, range(600, 1200)) for s in r]
            side.result()
        self.assertEqual(set(statuses), {200, 204}, "every download and report answered")
        self.assertGreater(outage[1] - outage[0], 50, "copies served while the server was down")
        self.assertTrue(wait_for(lambda: self.stored() == expected(1200), 30), (self.stored(), expected(1200)))

        # The server frozen (every process of it stopped): no answer waits for it either.
        with open(os.path.join(self.db.dir, "data", "postmaster.pid")) as f:
            postmaster = int(f.readline())
        frozen = [postmaster] + [int(p) for p in subprocess.run(["pgrep", "-P", str(postmaster)], capture_output=True,
                                                                 text=True).stdout.split()]
        for pid in frozen:
            os.kill(pid, signal.SIGSTOP)
        try:
            with concurrent.futures.ThreadPoolExecutor(8) as pool:
                statuses = [s for r in pool.map(self.copy_and_reports, range(1200, 1500)) for s in r]
        finally:
            for pid in frozen:
                os.kill(pid, signal.SIGCONT)
        self.assertEqual(set(statuses), {200, 204})
        self.assertTrue(wait_for(lambda: self.stored() == expected(1500), 30), (self.stored(), expected(1500)))
        self.assertEqual(sum(g["served"] for g in self.funnel().values()), 1500)

        for server in self.servers:
            server.terminate()
            self.assertEqual(server.wait(30), 0)
        logs = b"".join(server.stdout.read() for server in self.servers).decode()
        self.assertIn("records wait in this worker's queue", logs)
        self.assertIn("takes records again", logs)
        self.assertNotRegex(logs, r"[1-9]\d* were dropped|is full", "nothing dropped: the queues had room")

        # A server that cannot be reached at all: the worker holds 10,000 records, drops the rest
        # with one line, answers every report meanwhile, and its stop waits 10 s for it at most.
        sock = self.path("unreached.sock")
        p = subprocess.Popen([KIT, "download", "--fastcgi", "--socket", sock, "--workers", "1"],
                             env=dict(os.environ, LOADERKIT_PROGRAM=self.program,
                                      LOADERKIT_DATABASE="postgresql://loaderkit@/postgres?host=" + self.path("none")),
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)
        self.addCleanup(lambda: (p.poll() is None and os.killpg(p.pid, signal.SIGKILL), p.wait(), p.stderr.close()))
        self.assertTrue(wait_for(lambda: os.path.exists(sock)))
        report = {"REQUEST_METHOD": "GET", "DOCUMENT_URI": "/report", "QUERY_STRING":
                  "v=1&event=chosen&id=0123456789abcdef0123&tag=Q&lang=ENG&os=10.0&wow64=0&build=paced"}
        answers = {fastcgi_get(sock, report)[0].split(b"\r\n")[0] for _ in range(10005)}
        self.assertEqual(answers, {b"Status: 204 No Content"})
        stopping = time.monotonic()
        os.killpg(p.pid, signal.SIGTERM)
        self.assertEqual(p.wait(30), 0)
        self.assertLess(time.monotonic() - stopping, 13)
        errors = p.stderr.read().decode()
        self.assertEqual(errors.count("is full (10000 records): records are dropped"), 1, errors)
        self.assertIn("10000 records did not reach the PostgreSQL store before the end", errors)

STANDIN_APT = r"""#!/bin/sh
# Stand-in apt-get: STANDIN_FAIL names what fails (index, lock, wine32, set); installs are written down.
echo "apt-get $*" >> "$STANDIN/log"
case "$*" in
  *update*)
    case "$STANDIN_FAIL" in
      index)
        echo "E: Failed to fetch http://deb.example/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" >&2
        echo "E: Some index files failed to download. They have been ignored, or old ones used instead." >&2
        exit 100;;
      lock)
        echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 4242 (unattended-upgr)" >&2
        exit 100;;
    esac;;
  *install*)
    [ "$STANDIN_FAIL" = set ] && { echo "E: Unable to locate package nginx" >&2; exit 100; }
    case "$*" in *wine32:i386*)
      [ "$STANDIN_FAIL" = wine32 ] && { echo " wine32:i386 : Depends: libwine:i386 (= 8.0) but it is not going to be installed"; echo "E: Unable to correct problems, you have held broken packages." >&2; exit 100; };;
    esac
    for p in "$@"; do case "$p" in -*|install|APT::*) ;; *) echo "$p" >> "$STANDIN/installed";; esac; done;;
esac
"""
STANDIN_DPKG_QUERY = r"""#!/bin/sh
# Stand-in dpkg-query -W -f=FORMAT NAME...: answers as name:arch and its status, from the list.
shift 2
for p in "$@"; do
  grep -qx "$p" "$STANDIN/installed" 2>/dev/null || continue
  case "$p" in *:*) echo "$p install ok installed";; *) echo "$p:amd64 install ok installed";; esac
done
"""
STANDIN_DPKG = r"""#!/bin/sh
# Stand-in dpkg for the foreign architectures, which it keeps in a file and writes down.
echo "dpkg $*" >> "$STANDIN/log"
case "$1" in
  --print-foreign-architectures) cat "$STANDIN/arches" 2>/dev/null;;
  --add-architecture) echo "$2" >> "$STANDIN/arches";;
  --remove-architecture) grep -vx "$2" "$STANDIN/arches" > "$STANDIN/arches.new"; mv "$STANDIN/arches.new" "$STANDIN/arches";;
esac
exit 0
"""


class SetupTest(unittest.TestCase):
    """The set-up against stand-in apt-get, dpkg-query and dpkg on a machine that lacks everything
    and whose kernel runs 32-bit programs: a package registry that is half broken must not stop
    it, and a 64-bit set that cannot be installed must."""

    def run_setup(self, fail):
        root = tempfile.TemporaryDirectory()
        self.addCleanup(root.cleanup)
        scripts = os.path.join(os.path.dirname(SERVE))
        os.makedirs(os.path.join(root.name, "scripts"))
        shutil.copy(os.path.join(scripts, "setup.sh"), os.path.join(root.name, "scripts", "setup.sh"))
        shutil.copy(os.path.join(scripts, "probe-32bit.sh"), os.path.join(root.name, "scripts", "probe-real.sh"))
        bin_dir = os.path.join(root.name, "bin")
        os.makedirs(bin_dir)
        # The probe answers that this kernel runs 32-bit programs; with --wine, the real one answers.
        for name, text in (("bin/apt-get", STANDIN_APT), ("bin/dpkg-query", STANDIN_DPKG_QUERY),
                           ("bin/dpkg", STANDIN_DPKG), ("bin/sudo", '#!/bin/sh\nexec "$@"\n'),
                           ("scripts/probe-32bit.sh",
                            '#!/bin/sh\n[ "$1" = --wine ] && exec "$(dirname "$0")/probe-real.sh" "$@"\nexit 0\n')):
            with open(os.path.join(root.name, name), "w") as f:
                f.write(text)
            os.chmod(os.path.join(root.name, name), 0o755)
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"], STANDIN=root.name,
                   STANDIN_FAIL=fail, SETUP_RETRY_PAUSE="0",
                   SETUP_POLICY_RC_D=os.path.join(root.name, "policy-rc.d"))
        env.pop("LOADER_SETUP_DONE", None)
        r = subprocess.run(["bash", os.path.join(root.name, "scripts", "setup.sh")], env=env, capture_output=True,
                           text=True, timeout=120)
        with open(os.path.join(root.name, "log")) as f:
            log = f.read()
        why = os.path.join(root.name, "build", "wine32-missing.txt")
        arches = os.path.join(root.name, "arches")
        return (r, log, open(why).read() if os.path.exists(why) else None, root.name,
                open(arches).read().split() if os.path.exists(arches) else [])

    def test_a_failing_index_or_32bit_wine_goes_on_and_a_failing_set_stops(self):
        kernel_runs_32bit = subprocess.run([os.path.join(os.path.dirname(SERVE), "probe-32bit.sh")],
                                           capture_output=True).returncode == 0
        whole = "install -y -q --no-install-recommends --no-remove cmake"
        for fail, code, said, installs, arches in (
                # A missing i386 index: everything in one step, from the suites whose indexes are whole.
                ("index", 0, "package index not fetched, going on without it: "
                             "http://deb.example/dists/bookworm-security/main/binary-i386/Packages.xz",
                 [whole.replace("cmake", "-o APT::Default-Release=bookworm cmake")], ["i386"]),
                ("lock", 0, "apt-get update failed, going on with the lists it has: E: Could not get lock "
                            "/var/lib/apt/lists/lock. It is held by process 4242 (unattended-upgr)", [whole], ["i386"]),
                # 32-bit Wine cannot be had: the 64-bit set alone, then wine32 alone, then i386 removed again.
                ("wine32", 0, "setup: no 32-bit Wine: apt-get: Unable to correct problems, you have held broken "
                              "packages. (first unmet: wine32:i386 : Depends: libwine:i386 (= 8.0) but it is not "
                              "going to be installed); only the x86_64 build will run",
                 [whole, whole, "install -y -q --no-install-recommends --no-remove wine32:i386"], []),
                ("set", 1, "E: Unable to locate package nginx", [whole, whole], [])):
            with self.subTest(fail=fail):
                r, log, why, root, left = self.run_setup(fail)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertIn(said, r.stdout + r.stderr)
                self.assertIn("libgtest-dev", log, "the native suite needs GoogleTest's library")
                self.assertLess(log.index("dpkg --add-architecture i386"), log.index("apt-get update"),
                                "apt sees both architectures from its first update")
                called = [line.split(" ", 1)[1] for line in log.splitlines() if line.startswith("apt-get install")]
                self.assertEqual([c[:len(i)] for c, i in zip(called, installs)], installs[:len(called)])
                self.assertEqual(len(called), len(installs), called)
                self.assertEqual(left, arches, "i386 stays only where something i386 was installed")
                if fail == "set":
                    self.assertIn("setup: could not install cmake ninja-build", r.stderr)
                    self.assertEqual(log.count("wine32:i386"), 1, "wine32 alone is not tried once the set failed")
                elif fail == "wine32":
                    self.assertIn("held broken packages", why)
                    if kernel_runs_32bit and not os.path.exists("/usr/lib/wine/wine"):
                        # The test command and the demo plan the x86_64 build alone, and say why.
                        p = subprocess.run([os.path.join(root, "scripts", "probe-32bit.sh"), "--wine"],
                                           capture_output=True, text=True)
                        self.assertEqual((p.returncode, p.stdout.strip()), (1, why.strip()))
                else:
                    self.assertIsNone(why)


class PackageTest(unittest.TestCase):
    """The kit's Debian package as scripts/package.sh builds it: what it holds, that lintian and
    systemd find nothing to fault, and its installation and removal in a scratch root."""

    FILES = {"./etc/loaderkit/download.conf", "./etc/nginx/snippets/loaderkit-download.conf",
             "./lib/systemd/system/loaderkit-download.service", "./lib/systemd/system/loaderkit-download.socket",
             "./lib/systemd/system/loaderkit-funnel-page.service", "./lib/systemd/system/loaderkit-funnel-page.timer",
             "./usr/bin/loaderkit", "./usr/share/doc/loaderkit/changelog.gz", "./usr/share/doc/loaderkit/copyright",
             "./usr/share/doc/loaderkit/operators.md", "./usr/share/man/man1/loaderkit.1.gz"} | {
             "./usr/share/doc/loaderkit/" + name for name in ("loaderkit.md", "loader.md", "benchmarks.md",
                                                             "images/funnel.png", "images/failed-arabic.png",
                                                             "images/failed-hebrew.png")}

    @classmethod
    def setUpClass(cls):
        cls.built_in = tempfile.TemporaryDirectory()
        root = os.path.join(os.path.dirname(SERVE), "..")
        cls.built = subprocess.run([os.path.join(root, "scripts", "package.sh"), os.path.join(cls.built_in.name, "out")],
                                   capture_output=True, text=True, timeout=600,
                                   env=dict(os.environ, LOADER_SETUP_DONE="1"))

    @classmethod
    def tearDownClass(cls):
        cls.built_in.cleanup()

    def test_the_package_holds_the_kit_its_units_and_settings_and_installs_into_a_scratch_root(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        built = self.built
        self.assertEqual(built.returncode, 0, built.stderr)
        deb = built.stdout.strip()
        self.assertTrue(deb.endswith("/loaderkit_1.0.0_amd64.deb"), deb)
        listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True, check=True).stdout
        files = {line.split()[5] for line in listing.splitlines() if not line.startswith("d")}
        self.assertEqual(files, self.FILES)
        self.assertIn("libfcgi0ldbl", subprocess.run(["dpkg-deb", "-f", deb, "Depends"], capture_output=True,
                                                     text=True, check=True).stdout)
        lint = subprocess.run(["lintian", "--no-tag-display-limit", deb], capture_output=True, text=True)
        self.assertEqual(lint.returncode, 0, lint.stdout + lint.stderr)
        self.assertNotRegex(lint.stdout, r"(?m)^[EW]: ", "no error or warning")

        # Installed into an empty root (its libraries are the host's), then removed and purged.
        target = os.path.join(scratch.name, "root")
        os.makedirs(os.path.join(target, "var/lib/dpkg/info"))
        os.makedirs(os.path.join(target, "var/lib/dpkg/updates"))
        open(os.path.join(target, "var/lib/dpkg/status"), "w").close()
        dpkg = ["dpkg", "--root=" + target, "--force-script-chrootless", "--force-depends", "--log=/dev/null"]
        subprocess.run(dpkg + ["-i", deb], capture_output=True, check=True)
        # The documents as installed: every link and picture in them is in the package too.
        docs = os.path.join(target, "usr/share/doc/loaderkit")
        self.assertEqual(broken_links(docs, [n for n in os.listdir(docs) if n.endswith(".md")]), [])
        kit_help = subprocess.run([os.path.join(target, "usr/bin/loaderkit"), "download", "--help"],
                                  capture_output=True, text=True)
        self.assertEqual(kit_help.returncode, 0)
        self.assertIn("--fastcgi", kit_help.stdout)
        with open(os.path.join(target, "var/lib/dpkg/info/loaderkit.conffiles")) as f:
            self.assertEqual(set(f.read().split()), {"/etc/loaderkit/download.conf",
                                                     "/etc/nginx/snippets/loaderkit-download.conf"})
        # The units as systemd reads them, pointed at the scratch root's program and settings.
        units = os.path.join(scratch.name, "units")
        os.makedirs(units)
        names = ("loaderkit-download.socket", "loaderkit-download.service", "loaderkit-funnel-page.service",
                 "loaderkit-funnel-page.timer")
        for name in names:
            with open(os.path.join(target, "lib/systemd/system", name)) as f:
                text = f.read().replace("/usr/bin/", target + "/usr/bin/").replace("/etc/", target + "/etc/")
            with open(os.path.join(units, name), "w") as f:
                f.write(text)
        verify = subprocess.run(["systemd-analyze", "verify", "--man=no", *names], cwd=units, capture_output=True,
                                text=True)
        self.assertEqual((verify.returncode, verify.stdout + verify.stderr), (0, ""))
        # Confined as far as systemd allows for what they do: an exposure of at most 2.0 (OK).
        for service in names[1:3]:
            security = subprocess.run(["systemd-analyze", "security", "--offline=yes", "--threshold=20", "--no-pager",
                                       service], cwd=units, capture_output=True, text=True)
            self.assertEqual(security.returncode, 0, service + security.stdout[-400:] + security.stderr)
        # The state folders as systemd makes them for the dynamic user: a link to a private one.
        os.makedirs(os.path.join(target, "var/lib/private/loaderkit"))
        open(os.path.join(target, "var/lib/private/loaderkit/funnel.sqlite"), "w").close()
        os.symlink("private/loaderkit", os.path.join(target, "var/lib/loaderkit"))
        subprocess.run(dpkg + ["-r", "loaderkit"], capture_output=True, check=True)
        self.assertFalse(os.path.exists(os.path.join(target, "usr/bin/loaderkit")))
        self.assertTrue(os.path.exists(os.path.join(target, "etc/loaderkit/download.conf")), "removal keeps settings")
        self.assertTrue(os.path.exists(os.path.join(target, "var/lib/loaderkit/funnel.sqlite")), "and the store")
        # The socket as the operator enables it; a purge takes the link, as it takes the settings.
        wants = os.path.join(target, "etc/systemd/system/sockets.target.wants")
        os.makedirs(wants)
        os.symlink("/lib/systemd/system/loaderkit-download.socket", os.path.join(wants, "loaderkit-download.socket"))
        subprocess.run(dpkg + ["-P", "loaderkit"], capture_output=True, check=True)
        self.assertFalse(os.path.exists(os.path.join(target, "etc/loaderkit/download.conf")), "purge takes them")
        self.assertEqual(os.listdir(wants), [], "purge leaves nothing enabled")
        self.assertEqual([n for n in ("var/lib/loaderkit", "var/lib/private/loaderkit")
                          if os.path.lexists(os.path.join(target, n))], [], "purge takes the state folders")


    def test_deployed_in_a_booted_debian_container_upgrades_restart_and_a_purge_leaves_nothing_enabled(self):
        self.assertEqual(self.built.returncode, 0, self.built.stderr)
        box = Container()
        why = box.unavailable()
        if why:
            self.skipTest(why)
        self.addCleanup(box.stop)
        with open(os.path.join(box.root, "srv/loader.exe"), "wb") as f:
            f.write(make_pe())
        shutil.copy(self.built.stdout.strip(), os.path.join(box.root, "srv/loaderkit.deb"))
        why = box.boot()
        if why:
            self.skipTest("no container: " + why)
        box.run("dpkg -i /srv/loaderkit.deb")
        box.run("sed -i 's|^LOADERKIT_PROGRAM=.*|LOADERKIT_PROGRAM=/srv/loader.exe|' /etc/loaderkit/download.conf")
        box.run("sed -i 's|^\\s*server_name _;|&\\n\\tinclude snippets/loaderkit-download.conf;|' "
                "/etc/nginx/sites-enabled/default")
        box.run("systemctl enable --now loaderkit-download.socket && systemctl reload nginx")

        def download(tag):
            return box.run("curl -s -o /srv/copy.exe -w '%%{http_code}' 'http://127.0.0.1/download?tag=%s'" % tag)
        # nginx's reload returns before its new workers answer.
        self.assertTrue(wait_for(lambda: download("PROBE") != "404"), "nginx took the snippet")
        self.assertEqual(download("A17"), "200", box.run("systemctl status --no-pager -l loaderkit-download.service; "
                                                         "journalctl -b --no-pager -u loaderkit-download | tail -20"
                                                         " || true"))
        self.assertEqual(show(open(os.path.join(box.root, "srv/copy.exe"), "rb").read(), box.root)["version-tag"], "A17")
        # The confined service writes its store in its own state folder.
        self.assertRegex(box.run("loaderkit funnel --database /var/lib/loaderkit/funnel.sqlite"), r"\nA17 +1 ")
        # The hourly page, started as its timer starts it, served behind the snippet's password.
        box.run("systemctl enable --now loaderkit-funnel-page.timer && systemctl start loaderkit-funnel-page.service")
        password = subprocess.run(["openssl", "passwd", "-apr1", "s3cret"], capture_output=True, text=True,
                                  check=True).stdout.strip()
        with open(os.path.join(box.root, "etc/nginx/loaderkit-funnel.htpasswd"), "w") as f:
            f.write("operator:%s\n" % password)
        box.run("sed -i '/^#location/,/^#}/s/^#//' /etc/nginx/snippets/loaderkit-download.conf && "
                "systemctl reload nginx")
        page = "http://127.0.0.1/loaderkit/funnel"
        self.assertTrue(wait_for(lambda: box.run("curl -s -o /dev/null -w '%%{http_code}' %s" % page) == "401"))
        self.assertIn("<td>A17</td><td>1</td>", box.run("curl -sf -u operator:s3cret " + page))
        main = box.run("systemctl show -p MainPID --value loaderkit-download.service")
        self.assertNotEqual(main, "0", "the socket started the responder")
        box.run("dpkg -i /srv/loaderkit.deb")  # an upgrade, as a reinstall is to the scripts
        self.assertNotIn(box.run("systemctl show -p MainPID --value loaderkit-download.service"), (main, "0"),
                         "the upgrade restarted the responder")
        self.assertEqual(download("A18"), "200")
        box.run("dpkg -P loaderkit")
        self.assertEqual(box.run("ls /etc/systemd/system/sockets.target.wants /etc/systemd/system/*.wants "
                                 "| grep loaderkit || true"), "", "the purge leaves nothing enabled")
        self.assertEqual(box.run("ls -d /var/lib/loaderkit-page /var/lib/loaderkit /var/lib/private/loaderkit "
                                 "2>/dev/null || true"), "", "the purge leaves no state folder")
        self.assertEqual(box.run("curl -s -o /dev/null -w '%{http_code}' 'http://127.0.0.1/download?tag=A19'"),
                         "502")


class Container:
    """A Debian 12 container booted with systemd (systemd-nspawn, its own network namespace),
    from a base kept in build/container/: debootstrap with systemd, dbus, nginx and curl."""

    PACKAGES = "systemd,systemd-sysv,dbus,nginx-light,curl,libfcgi0ldbl,libsqlite3-0,libpq5"
    # Named after what it holds, so that a changed list makes a new base.
    BASE = os.path.join(os.path.dirname(SERVE), "..", "build", "container",
                        "base-%08x.tar" % (zlib.crc32(PACKAGES.encode())))

    def __init__(self):
        self.scratch = tempfile.TemporaryDirectory(dir="/var/tmp")
        self.root = os.path.join(self.scratch.name, "root")
        self.nspawn = None
        self.init = None

    def unavailable(self):
        if os.geteuid() != 0:
            return "no container: it needs root"
        for tool in ("systemd-nspawn", "debootstrap", "nsenter"):
            if not shutil.which(tool):
                return "no container: %s is not installed" % tool
        os.makedirs(self.root)
        if not os.path.exists(self.BASE):
            why = self.make_base()
            if why:
                return "no container: " + why
        subprocess.run(["tar", "-xpf", self.BASE, "-C", self.root], check=True)
        os.makedirs(os.path.join(self.root, "srv"), exist_ok=True)
        return ""

    def make_base(self):
        base = self.root + ".base"
        steps = [["debootstrap", "--variant=minbase", "--include=" + self.PACKAGES, "bookworm", base]]
        for step in steps:
            r = subprocess.run(step, capture_output=True, text=True, timeout=900)
            if r.returncode != 0:
                shutil.rmtree(base, ignore_errors=True)
                return "debootstrap failed: " + (r.stdout + r.stderr).strip().splitlines()[-1]
        os.makedirs(os.path.dirname(self.BASE), exist_ok=True)
        subprocess.run(["tar", "-cpf", self.BASE + ".new", "-C", base, "."], check=True)
        os.replace(self.BASE + ".new", self.BASE)
        shutil.rmtree(base, ignore_errors=True)
        return ""

    def boot(self):
        """Starts the container; '' once systemd inside has started its units, or why not."""
        self.nspawn = subprocess.Popen(["systemd-nspawn", "--register=no", "--keep-unit", "--private-network",
                                        "-q", "-D", self.root, "-b"], stdin=subprocess.DEVNULL,
                                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if self.nspawn.poll() is not None:
                return "systemd-nspawn ended: " + self.nspawn.stderr.read().decode(errors="replace")[-300:]
            self.init = self.container_init()
            if self.init:
                state = subprocess.run(self.enter() + ["systemctl", "is-system-running"],
                                       capture_output=True, text=True).stdout.strip()
                if state in ("running", "degraded"):
                    return ""
            time.sleep(0.5)
        return "the container did not finish booting in 60 s"

    def container_init(self):
        """The container's first process: the descendant of systemd-nspawn that is PID 1 in its own
        namespace (nspawn's own helper processes come first where the tree runs deeper)."""
        pending = [str(self.nspawn.pid)]
        while pending:
            pid = pending.pop(0)
            try:
                with open("/proc/%s/status" % pid) as f:
                    ns_pids = [line.split()[1:] for line in f if line.startswith("NSpid:")]
            except OSError:
                continue
            if pid != str(self.nspawn.pid) and ns_pids and ns_pids[0][-1] == "1":
                return pid
            pending += subprocess.run(["pgrep", "-P", pid], capture_output=True, text=True).stdout.split()
        return None

    def enter(self):
        """nsenter into the container, its root and folder included: entering its mount namespace
        alone gives that namespace's first root, which is the host's where this runs chrooted."""
        return ["nsenter", "-t", self.init, "-a", "-r", "-w"]

    def run(self, command):
        r = subprocess.run(self.enter() + ["sh", "-c", command], capture_output=True, text=True,
                           timeout=120)
        if r.returncode != 0:
            raise AssertionError("%s: exit %d: %s" % (command, r.returncode, r.stderr[-500:]))
        return r.stdout.strip()

    def stop(self):
        if self.nspawn is not None and self.nspawn.poll() is None:
            os.kill(self.nspawn.pid, signal.SIGTERM)  # systemd-nspawn powers the container off
            try:
                self.nspawn.wait(60)
            except subprocess.TimeoutExpired:
                os.killpg(self.nspawn.pid, signal.SIGKILL)
                self.nspawn.wait()
        if self.nspawn is not None:
            self.nspawn.stderr.close()
        self.scratch.cleanup()


class DocumentsTest(unittest.TestCase):
    """What operators and translators read agrees with what the program holds, and every link
    and picture in the documents leads somewhere."""

    ROOT = os.path.normpath(os.path.join(os.path.dirname(SERVE), ".."))

    def read(self, *path):
        with open(os.path.join(self.ROOT, *path), encoding="utf-8") as f:
            return f.read()

    def test_the_translators_table_is_the_one_in_the_resource_scripts(self):
        table = subprocess.run([sys.executable, os.path.join(self.ROOT, "scripts", "player_texts.py")],
                               capture_output=True, text=True, check=True).stdout
        self.assertNotIn("(missing)", table, "every language has texts 2 to 7")
        self.assertEqual(len(table.splitlines()), 2 + 16)
        self.assertIn(table, self.read("docs", "loader.md"),
                      "docs/loader.md: print the table anew with scripts/player_texts.py")

    def test_the_reference_the_manual_page_and_the_help_name_the_same_options(self):
        reference = subprocess.run([sys.executable, os.path.join(self.ROOT, "scripts", "kit_reference.py"), KIT],
                                   capture_output=True, text=True, check=True).stdout
        self.assertIn(reference, self.read("docs", "loaderkit.md"),
                      "docs/loaderkit.md: print the commands anew with scripts/kit_reference.py")
        manual = self.read("kit", "loaderkit.1").split(".SH EXAMPLES")[0].replace("\\-", "-")
        helped = set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", reference))
        documented = set(re.findall(r"(?<![\w-])--[a-z][a-z-]*", manual))
        self.assertGreater(len(helped), 20)
        self.assertEqual(helped - {"--help"}, documented - {"--help"}, "loaderkit.1 and --help differ")

    def test_every_relative_link_and_picture_points_somewhere(self):
        # Walked rather than asked of git: a source archive has no .git, and a fresh machine no git.
        listed = []
        for folder, subfolders, names in os.walk(self.ROOT):
            subfolders[:] = [d for d in subfolders if not d.startswith(".") and d not in ("build", "demo-output")]
            listed += [os.path.relpath(os.path.join(folder, n), self.ROOT) for n in names if n.endswith(".md")]
        self.assertIn("README.md", listed)
        self.assertEqual(broken_links(self.ROOT, listed), [])


def broken_links(root, names):
    """The relative links and pictures of the Markdown files names (under root) that lead nowhere."""
    broken = []
    for name in names:
        with open(os.path.join(root, name), encoding="utf-8") as f:
            text = re.sub(r"(?s)```.*?```", "", f.read())  # code blocks hold no links
        for target in re.findall(r"!?\[[^\]]*\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z]+:", target) or target.startswith("#"):
                continue
            path, _, anchor = target.partition("#")
            full = os.path.normpath(os.path.join(root, os.path.dirname(name), path))
            if not os.path.exists(full):
                broken.append("%s: %s" % (name, target))
            elif anchor and full.endswith(".md"):
                with open(full, encoding="utf-8") as f:
                    anchors = {re.sub(r"[^a-z0-9 -]", "", h.strip().lower()).replace(" ", "-")
                               for h in re.findall(r"(?m)^#+ (.*)$", f.read())}
                if anchor not in anchors:
                    broken.append("%s: %s (no such heading)" % (name, target))
    return broken


class GuideWalkTest(unittest.TestCase):
    """docs/operators.md as an operator follows it: its sh blocks in order, in a copy of the
    project without a build, as written but for the values its "Yours to change" names. The
    Windows loader's builds are the Windows suites' (a stand-in program takes the loader's place);
    serve.sh runs beside the blocks that follow it, as in a terminal of its own. A test of its
    own (operators_guide), which kit_cli leaves out."""

    def test_every_command_block_runs_as_written(self):
        root = DocumentsTest.ROOT
        with open(os.path.join(root, "docs", "operators.md"), encoding="utf-8") as f:
            guide = f.read()
        yours = re.search(r"(?s)\*\*Yours to change\*\*(.*?)\n\n", guide).group(1)
        port = free_port()
        for value in ("operator-cert.pem", "operator-key.pem", "setup.exe", "`8080`", "$DOWNLOAD_ID"):
            self.assertIn(value, yours, "the guide names it as the reader's")
        work = tempfile.TemporaryDirectory()
        self.addCleanup(work.cleanup)
        clone = os.path.join(work.name, "clone")
        shutil.copytree(root, clone, symlinks=True,
                        ignore=lambda folder, names: {"build", ".git", "demo-output"} if folder == root else set())
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "operator-key.pem",
                        "-out", "operator-cert.pem", "-days", "2", "-subj", "/CN=Nordlys Gaming Ltd"], cwd=clone,
                       check=True, capture_output=True)
        with open(os.path.join(clone, "setup.exe"), "wb") as f:
            f.write(make_pe())
        env = dict(os.environ, DOWNLOAD_ID="20261210", LOADER_SETUP_DONE="1")
        env.pop("LOADERKIT", None)
        saved = os.path.join(work.name, "environment")
        blocks = [textwrap.dedent(b).replace("8080", str(port))
                  for b in re.findall(r"(?ms)^ *```sh\n(.*?)^ *```", guide)]
        self.assertGreater(len(blocks), 8)
        ran = []
        for block in blocks:
            if "--preset win32" in block:
                os.makedirs(os.path.join(clone, "build", "win32"), exist_ok=True)
                with open(os.path.join(clone, "build", "win32", "loader.exe"), "wb") as f:
                    f.write(make_pe())
                continue
            if block.startswith("scripts/serve.sh"):
                server = subprocess.Popen(["bash", "-c", block], cwd=clone, env=env, stdout=subprocess.PIPE,
                                          stderr=subprocess.STDOUT, start_new_session=True)
                self.addCleanup(lambda: (server.terminate(), server.wait(20), server.stdout.close()))
                self.assertIn(b"serve: http://127.0.0.1:%d/" % port, server.stdout.readline(), block)
                ran.append(block)
                continue
            # Each block in a shell of its own that starts with the environment the last one left.
            r = subprocess.run(["bash", "-c", "set -euo pipefail\n%s\nenv -0 >%s" % (block, saved)], cwd=clone,
                               env=env, capture_output=True, timeout=300)
            self.assertEqual(r.returncode, 0, "%s\n%s" % (block, (r.stdout[-1500:] + r.stderr[-1500:]).decode(
                errors="replace")))
            with open(saved, "rb") as f:
                env = dict(v.decode().split("=", 1) for v in f.read().split(b"\0") if b"=" in v)
            ran.append(block)
        # What the blocks say they leave: the copies, the site, the download, its record, the package.
        shown = kit_show(os.path.join(clone, "nordlys-aff42.exe"), env)
        self.assertIn("\ntag: V101_42\n", shown)
        self.assertIn("signed: yes", shown)
        self.assertRegex(kit_show(os.path.join(clone, "NordlysSetup.exe"), env), r"\ntag: V101_[0-9a-f]{20}\n")
        self.assertTrue(os.path.isfile(os.path.join(clone, "site", "config.txt")))
        self.assertTrue(glob.glob(os.path.join(clone, "build", "package", "loaderkit_*_amd64.deb")))
        self.assertEqual(len(ran), len(blocks) - sum("--preset win32" in b for b in blocks))


def kit_show(path, env):
    return subprocess.run(["loaderkit", "stamp", "--show", path], env=env, capture_output=True, text=True,
                          check=True).stdout


def load_tests(loader, tests, pattern):
    """kit_cli runs every class but the guide's walk, which is registered on its own."""
    return unittest.TestSuite(s for s in tests if not any(isinstance(t, GuideWalkTest) for t in s))


if __name__ == "__main__":
    unittest.main()
