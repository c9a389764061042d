"""The whole download flow under Wine against the scripted site: discovery, notice text,
meter, installer download and start, and the old installation moved aside; and each failure
with its final message."""
import json
import os
import re
import shutil
import struct
import subprocess
import time
import unittest

from scripted_site import ScriptedSite
from harness import (CHOOSER, CHOSEN_TEXTS, FAKE_INSTALLER, IDCANCEL, IDOK, LOADER, LOADERKIT, METER, NOTICE, PLANTED_OVERRIDES, WINDOW,
                     WINE_RUN, LoaderTest, make_test_ca, make_tls_certificate, plant_dlls,
                     sign_with_throwaway_certificate, slow_flow, tracking_key_path, trust_in_prefix, wait_until,
                     windows_path, wine_env)

UNINSTALL = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Halvorn Casino"
WM_COMMAND, WM_BEGIN_DOWNLOAD = 0x111, 1025
MISC = r"SOFTWARE\Halvorn Casino\Halvorn Casino\Misc"
STAND_IN = "Stand-in installer"
NOTICE_TEXT = "Welcome to [CASINO_NAME]\r\nat [CASINO_ADDRESS]\r\nEnjoy!\r\n"


class OldInstallationTest(LoaderTest):
    """An old installation folder that the uninstall entry names, for the flows that move it."""

    def setUp(self):
        super().setUp()
        self.robot.reg_delete(UNINSTALL)
        self.robot.reg_delete(r"SOFTWARE\Halvorn Casino")
        self.old = os.path.join(self.work, "OldCasino")
        os.makedirs(self.old)
        with open(os.path.join(self.old, "setup.exe"), "wb") as f:
            f.write(b"old client")
        self.robot.reg_set(UNINSTALL, "UninstallString", '"%s\\setup.exe" /uninstall' % windows_path(self.old))

    def tearDown(self):
        self.robot.reg_delete(UNINSTALL)
        self.robot.reg_delete(r"SOFTWARE\Halvorn Casino")
        super().tearDown()


class FlowTest(OldInstallationTest):
    def run_to_message(self, status, code=None, **package):
        if package.get("serve", True):
            package.pop("serve", None)
            self.serve_package(language=code or "ENG", **package)
        proc = self.start_loader(["HAND", self.config()])
        self.choose(code)
        self.final_message(status, code=code)
        return proc

    def test_whole_flow_installs_and_moves_the_old_installation_aside(self):
        # Names that the English system's code page cannot spell: the loader's own folder, where
        # an older cinstall.exe lies too, and the old installation's folder. That folder is a
        # Downloads folder, where DLLs named like system libraries were saved too.
        downloads = os.path.join(self.work, "Загрузки")
        os.makedirs(downloads)
        shutil.copy(FAKE_INSTALLER, os.path.join(downloads, "cinstall.exe"))
        planted = plant_dlls(downloads)
        exe = os.path.join(downloads, "loader.exe")
        subprocess.run([LOADERKIT, "stamp", "--in", LOADER, "--out", exe, "--tag", "V777"], check=True)
        self.robot.reg_delete(tracking_key_path())
        self.addCleanup(self.robot.reg_delete, tracking_key_path())
        self.old = os.path.join(self.work, "Старое казино")
        os.rename(os.path.join(self.work, "OldCasino"), self.old)
        subprocess.run([WINE_RUN, "reg", "add", "HKLM\\" + UNINSTALL, "/v", "UninstallString", "/d",
                        '"%s\\setup.exe" /uninstall' % windows_path(self.old), "/f"],
                       env=wine_env(), check=True, capture_output=True)
        body = self.serve_package(text=NOTICE_TEXT, installer_mode="slow")
        config = self.config()
        self.site.routes[(None, "/cfg")].mode, self.site.routes[(None, "/cfg")].delay = "late", 1.5
        proc = self.start_loader(["HAND", config], exe=exe, overrides=PLANTED_OVERRIDES)
        self.choose()
        # During discovery: an IDOK and a second begin-download, as any program could post them.
        self.robot.post(WINDOW, WM_COMMAND, IDOK)
        self.robot.post(WINDOW, WM_BEGIN_DOWNLOAD)
        whole = "Welcome to Halvorn Casino\r\nat www.halvorn.example\r\nEnjoy!\r\n"
        views = [whole, "at www.halvorn.example\r\nEnjoy!\r\nWelcome to Halvorn Casino\r\n",
                 "Enjoy!\r\nWelcome to Halvorn Casino\r\nat www.halvorn.example\r\n", whole]
        seen = []
        meter = []
        for view in views:
            seen.append(self.robot.wait_text(WINDOW, NOTICE, view, 5000))
            meter.append(self.robot.navy(WINDOW, METER))
            if len(seen) == 1:  # and the same during the download
                self.robot.post(WINDOW, WM_COMMAND, IDOK)
                self.robot.post(WINDOW, WM_BEGIN_DOWNLOAD)
        self.assertEqual(seen, views, "one line further at each 500 ms tick")
        self.screenshot("download-window-mid-download")
        self.assertTrue(self.robot.gone(WINDOW, 30000), "the window closes after the installer starts")
        self.assertEqual(self.finish(proc), 0)
        self.assertEqual(meter, sorted(meter), "the meter only grows")
        self.assertGreater(meter[-1], meter[0])
        with open(self.file("cinstall.exe"), "rb") as f:
            self.assertEqual(f.read(), body)
        record = wait_until(lambda: os.path.exists(self.file("installer-record.txt")) and
                            open(self.file("installer-record.txt")).read())
        self.assertIn("ran=1", record)
        self.assertIn("cwd=" + windows_path(self.work), record.replace("z:", "Z:"))
        self.assertIn("self=" + windows_path(self.file("cinstall.exe")), record.replace("z:", "Z:"),
                      "the downloaded installer ran, not the older one beside the loader")
        self.assertFalse(os.path.exists(self.old))
        self.assertTrue(os.path.exists(self.old + ".old"))
        self.assertEqual(self.robot.reg_get(tracking_key_path(), ""), b"V777", "the stamp was read")
        self.assertEqual([m for m in planted if os.path.exists(m)], [], "no planted DLL was loaded")
        agents = {r["agent"] for r in self.site.log}
        self.assertEqual(agents, {"Quillmoor"})
        paths = [r["path"] for r in self.site.log]
        self.assertEqual(len(paths), 3, "one discovery and one worker only: %s" % paths)
        self.assertEqual(paths[0], "/cfg")
        self.assertTrue(paths[1].startswith("/dl/p_Tavmok_") and paths[1].endswith("ENG.ENG"), paths)
        self.assertTrue(paths[2].endswith("ENG.exe"), paths)

    @slow_flow
    def test_the_window_stays_until_a_slow_installer_is_ready_for_input(self):
        # The installer takes seconds before it shows anything: until then the status stays, the
        # old folder stays, and a second copy started meanwhile defers to this one and ends.
        with open(self.file("installer-delay.txt"), "w") as f:
            f.write("6000")
        self.serve_package(text=NOTICE_TEXT, language="CHT")
        proc = self.start_loader(["HAND", self.config()])
        self.choose("CHT")
        preparing = CHOSEN_TEXTS[6]["CHT"]
        self.robot.wait_text(WINDOW, NOTICE, preparing, 20000)
        self.assertTrue(wait_until(lambda: os.path.exists(self.file("installer-record.txt"))), "no installer started")
        second = self.start_loader()
        self.assertEqual(self.finish(second, 20), 0)
        self.assertEqual(self.robot.count(WINDOW), 1, "the second copy showed no window of its own")
        self.assertFalse(self.robot.exists(STAND_IN), "the installer shows nothing yet")
        self.assertEqual(self.robot.text(WINDOW, NOTICE), preparing)
        self.assertTrue(os.path.exists(self.old) and not os.path.exists(self.old + ".old"))
        self.assertTrue(self.robot.wait(STAND_IN, 20000))
        self.assertTrue(self.robot.gone(WINDOW, 5000), "the window ends once the installer takes input")
        self.assertEqual(self.finish(proc), 0)
        self.assertTrue(os.path.exists(self.old + ".old"))
        self.assertTrue(self.robot.gone(STAND_IN, 20000))

    def test_players_read_their_notice_in_their_own_script_on_any_system(self):
        # Notice files in UTF-8, as editors write them, each put by the kit into the code page of
        # its language's systems; the casino's name from the built-in default, or stamped in
        # Windows-1252. Whatever the system's own code page, the player reads the lines as
        # written: on English, German, Japanese and Greek systems alike.
        texts = {"JAP": "ようこそ、[CASINO_NAME]へ！\n最新のソフトウェアをお届けします\n",
                 "GRE": "Καλώς ήρθατε στο [CASINO_NAME]\nΤο λογισμικό έρχεται\n",
                 "ARA": "مرحبا بكم في [CASINO_NAME]\nالبرنامج في الطريق\n",
                 "CHS": "欢迎来到 [CASINO_NAME]\n软件正在下载\n",
                 "DEU": "Grüße von [CASINO_NAME]\nDie Software kommt gleich\n"}
        site, own = self.file("site"), []
        for code, text in texts.items():
            with open(self.file(code + ".txt"), "w", encoding="utf-8") as f:
                f.write(text)
            own += ["--notice-for", "%s=%s" % (code, self.file(code + ".txt"))]
        subprocess.run([LOADERKIT, "site", "--out", site, "--site-url", self.site.url("/dl/"), "--installer",
                        FAKE_INSTALLER, *own], check=True, capture_output=True)
        cafe = self.file("cafe.exe")
        subprocess.run([LOADERKIT, "stamp", "--in", LOADER, "--out", cafe, "--tag", "V101", "--name", "Café Royal"],
                       check=True, capture_output=True)
        for code, lang, exe in (("JAP", "en_US.UTF-8", None), ("GRE", "ja_JP.UTF-8", None),
                                ("ARA", "en_US.UTF-8", None), ("CHS", "de_DE.UTF-8", None),
                                ("JAP", "ja_JP.UTF-8", cafe), ("DEU", "el_GR.UTF-8", cafe)):
            with self.subTest(code=code, lang=lang, stamped=exe is not None):
                self.robot.reg_delete(r"SOFTWARE\Halvorn Casino")  # no name kept from a stamped run
                with open(os.path.join(site, "p_Tavmok_reg_%s.%s" % (code, code)), "rb") as f:
                    self.serve_package(page=f.read(), language=code, installer_mode="slow")
                proc = self.start_loader(["HAND", self.config()], lang=lang, exe=exe)
                self.choose(code)
                name = "Café Royal" if exe else "Halvorn Casino"
                shown = texts[code].replace("[CASINO_NAME]", name).replace("\n", "\r\n")
                self.assertEqual(self.robot.wait_text(WINDOW, NOTICE, shown, 15000), shown)
                if code == "JAP" and not exe:
                    self.screenshot("notice-JAP-on-en_US")
                # The rest of the flow is the whole-flow test's: this player's run ends here.
                self.robot.cmd("kill", WINDOW)
                self.assertTrue(self.robot.gone(WINDOW))
                self.finish(proc)

    def test_bad_notice_pages_show_message_4_and_download_nothing(self):
        pages = {
            "no line feed": b"12345 but no line break",
            "size 0": b"0\r\ntext\r\n",
            "negative size": b"-5\r\ntext\r\n",
            "no number": b"abc\r\ntext\r\n",
            "empty first line": b"\ntext\r\n",
        }
        for what, page in pages.items():
            with self.subTest(what=what):
                self.site.log.clear()
                # One of them in Greek, which the system's code page cannot show.
                proc = self.run_to_message(4, code="GRE" if what == "size 0" else None, page=page)
                self.assertEqual(self.requests_for(".exe"), [], what)
                self.assertEqual(self.robot.navy(WINDOW, METER), 0)
                self.close_with_ok(proc)

    def test_failed_downloads_show_message_5(self):
        for what, package in (("404", {"installer_status": 404}), ("cut-off body", {"installer_mode": "cut"})):
            with self.subTest(what=what):
                proc = self.run_to_message(5, **package)
                self.close_with_ok(proc)
                self.assertTrue(os.path.exists(self.old), "the old installation stays")
                self.assertFalse(os.path.exists(self.file("installer-record.txt")))

    def test_a_body_that_is_not_a_program_shows_message_7_and_keeps_the_old_folder(self):
        # 1.5 MB at 150 KB/s, after a discovery that takes 1.5 s: the meter's name, which a
        # screen reader reads, is read all along, also while discovery keeps the window's thread
        # busy. A read taken before the notice page was asked for was taken while the size was
        # unknown; one after the final message was shown, beside it.
        body = b"this is not a program" + bytes(1500000 - 21)
        self.serve_package(installer=body, language="JAP", installer_file=dict(rate=150000))
        config = self.config()
        self.site.routes[(None, "/cfg")].mode, self.site.routes[(None, "/cfg")].delay = "late", 1.5
        proc = self.start_loader(["HAND", config])
        self.choose("JAP")
        final = CHOSEN_TEXTS[7]["JAP"]
        before, during, after = [], [], []
        deadline = time.time() + 60
        while len(after) < 5 and time.time() < deadline:
            name = self.robot.name(WINDOW, METER)
            (during if self.requests_for("JAP.JAP") else before).append(name)
            if self.robot.text(WINDOW, NOTICE) == final:
                after.append(self.robot.name(WINDOW, METER))
            time.sleep(0.2)
        self.final_message(7, code="JAP")
        self.assertTrue(before, "no read during the discovery")
        self.assertEqual(set(before), {""}, "no percentage while the size is unknown")
        self.assertEqual(set(after), {""}, "no percentage beside the final message")
        percentages = [int(n[:-1]) for n in during if n]
        self.assertTrue(all(re.fullmatch(r"\d{1,3}%", n) for n in during if n), during)
        self.assertEqual(percentages, sorted(percentages), "rising")
        self.assertGreaterEqual(len(set(percentages)), 3, during)
        with open(self.file("cinstall.exe"), "rb") as f:
            self.assertEqual(f.read(), body)
        self.assertTrue(os.path.exists(self.old))
        self.assertFalse(os.path.exists(self.old + ".old"))
        self.close_with_ok(proc)

    def test_overridden_casino_name_shows_in_the_notice_but_never_picks_the_uninstall_key(self):
        self.robot.reg_set(MISC, "Surname", "Nordlys Casino")
        self.robot.reg_set(MISC, "URL", "www.nordlys.example")
        self.serve_package(text=NOTICE_TEXT, installer_mode="slow")
        proc = self.start_loader(["HAND", self.config()])
        self.choose()
        self.robot.wait_text(WINDOW, NOTICE, "Welcome to Nordlys Casino\r\nat www.nordlys.example", 10000)
        self.assertTrue(self.robot.gone(WINDOW, 30000))
        self.assertEqual(self.finish(proc), 0)
        self.assertTrue(os.path.exists(self.old + ".old"))

    @slow_flow
    def test_the_resilient_download_resumes_cut_transfers_and_gives_up_within_a_bound(self):
        # A loader built with LOADER_RESILIENT_DOWNLOAD (its receive time-out shortened to 3 s).
        # Each transfer is cut or halted mid-body by the site and arrives byte for byte, and the
        # installer starts: resumed with a range request from the file's end where the site
        # answers one for the same file, started over where it does not.
        exe = os.environ["LOADER_RESILIENT_EXE"]
        with open(FAKE_INSTALLER, "rb") as f:
            program = f.read()
        body = program + bytes(range(256)) * (12 * 1024)  # 3 MB and the program
        other = program + bytes(reversed(range(256))) * (12 * 1024)
        n = len(body)
        thirds = [n * 3 // 10, n * 6 // 10, n * 9 // 10]
        cases = [  # name, how the site serves it, the file served last, the Range of each retry
            ("cut at 30, 60 and 90 %", dict(ranges=True, etag='"v1"', cuts=thirds), body,
             ["bytes=%d-" % c for c in thirds]),
            ("a site that ignores ranges", dict(cuts=[n // 2], etag='"v1"'), body, ["bytes=%d-" % (n // 2)]),
            ("a file changed between two attempts", dict(ranges=True, etag='"v1"', cuts=[n // 2], changed=(other, '"v2"')),
             other, ["bytes=%d-" % (n // 2)]),
            # The read that the stall holds (up to 64 KB on this fast line) is left behind: resumed
            # from the end of the last whole read before the stall.
            ("a stall longer than the time-out", dict(ranges=True, etag='"v1"', stall=(n // 3, 20)), body,
             [range(n // 3 - 65536 + 1, n // 3 + 1)]),
        ]
        record = self.file("installer-record.txt")
        for name, route, served, retries in cases:
            with self.subTest(name):
                if os.path.exists(record):
                    os.remove(record)
                self.site.log.clear()
                self.serve_package(installer=body, installer_file=route)
                proc = self.start_loader(["HAND", self.config()], exe=exe)
                self.choose()
                started = time.time()
                self.assertTrue(self.robot.gone(WINDOW, 40000), "the window ends once the installer starts")
                self.assertLess(time.time() - started, 15, "a stall is noticed after the 3 s time-out, not waited out")
                self.assertEqual(self.finish(proc), 0)
                self.assertTrue(wait_until(lambda: os.path.exists(record)), "the installer ran")
                with open(self.file("cinstall.exe"), "rb") as f:
                    self.assertTrue(f.read() == served, "the file is exactly the one served last")
                asked = self.requests_for("ENG.exe")
                self.assertEqual(len(asked), 1 + len(retries))
                self.assertIsNone(asked[0]["range"])
                for r, want in zip(asked[1:], retries):
                    self.assertRegex(r["range"] or "", r"^bytes=\d+-$")
                    self.assertIn(int(r["range"][6:-1]), want if isinstance(want, range) else [int(want[6:-1])])
                self.assertEqual({r["if_range"] for r in asked[1:]}, {'"v1"'})
        # The bound, its pauses and the pace of reads are the same code in both builds: these
        # slow cases (15, 16 and 50 s) run on one.
        with open(exe, "rb") as f:
            head = f.read(512)
        if struct.unpack_from("<H", head, struct.unpack_from("<I", head, 0x3C)[0] + 4)[0] != 0x8664:
            return
        # Attempts that bring no byte beyond the furthest reached, five in a row, then message 5:
        # refused at every attempt (five requests, 1 + 2 + 4 + 8 s apart), or cut at 50 % every
        # time by a site that cannot resume (the first attempt reached 50 %, five more did not).
        os.rename(self.old + ".old", self.old)
        for name, mode, route, requests in (("refused", "abort", None, 5),
                                            ("cut at 50 % without ranges", "normal", dict(cuts=[n // 2] * 9), 6)):
            with self.subTest(name):
                self.site.log.clear()
                self.serve_package(installer=body, installer_mode=mode, installer_file=route)
                started = time.time()
                proc = self.start_loader(["HAND", self.config()], exe=exe)
                self.choose()
                self.final_message(5, 40000)
                self.assertLess(time.time() - started, 40)
                self.assertEqual(len(self.requests_for("ENG.exe")), requests)
                self.assertTrue(os.path.exists(self.old), "the old installation stays where it is")
                self.close_with_ok(proc)
        # A throttled line that still delivers, 1.5 KB/s, slower than one 64 KB read per stall
        # time-out: the installer arrives whole in one request.
        self.site.log.clear()
        self.serve_package(installer=program, installer_file=dict(rate=1500))
        proc = self.start_loader(["HAND", self.config()], exe=exe)
        self.choose()
        self.assertTrue(self.robot.gone(WINDOW, len(program) * 1000 // 1500 + 30000), "the installer starts")
        self.assertEqual(self.finish(proc), 0)
        with open(self.file("cinstall.exe"), "rb") as f:
            self.assertTrue(f.read() == program)
        self.assertEqual([r["range"] for r in self.requests_for("ENG.exe")], [None])

    def test_https_fails_closed_and_works_with_a_trusted_chain(self):
        untrusted, trusted = ScriptedSite(), ScriptedSite()
        untrusted.start(tls=make_tls_certificate(self.work))
        ca = make_test_ca(self.work)
        trusted.start(tls=make_tls_certificate(self.work, issuer=ca))
        ca_key = trust_in_prefix(ca[0])
        for site in (untrusted, trusted):
            self.addCleanup(site.stop)
        self.addCleanup(subprocess.run, [WINE_RUN, "reg", "delete", ca_key, "/f"], env=wine_env(),
                        capture_output=True)
        body = self.serve_package(text=NOTICE_TEXT)
        untrusted.routes = trusted.routes = self.site.routes  # the same pages: only the chain differs
        # Redirects from the trusted HTTPS server down to the plain one: the configuration, and
        # the installer of a site whose notice still comes over HTTPS.
        self.site.add("/cfg-down", status=302, headers={"Location": self.site.url("/cfg")})
        for name in ("p_Tavmok_reg_ENG", "p_Tavmok_sys_ENG"):
            self.site.add("/down/%s.ENG" % name, self.site.routes[(None, "/dl/%s.ENG" % name)].body)
            self.site.add("/down/%s.exe" % name, status=302, headers={"Location": self.site.url("/dl/%s.exe" % name)})
        # what, configuration URL, download site, final message (None: the installer starts)
        cases = [("untrusted configuration server", untrusted.url("/cfg"), self.site.url("/dl/"), 3),
                 ("untrusted download site", self.site.url("/cfg"), untrusted.url("/dl/"), 4),
                 ("HTTPS configuration redirected to HTTP", trusted.url("/cfg-down"), trusted.url("/dl/"), 3),
                 ("HTTPS installer redirected to HTTP", trusted.url("/cfg"), trusted.url("/down/"), 5),
                 ("trusted local chain throughout", trusted.url("/cfg"), trusted.url("/dl/"), None)]
        for what, config, download_site, status in cases:
            with self.subTest(what=what):
                self.site.log.clear()
                trusted.log.clear()
                self.site.reply("/cfg", "iFlag=0|sDlurl=" + download_site)
                proc = self.start_loader(["HAND", config])
                self.choose()
                if status is None:
                    self.assertTrue(self.robot.gone(WINDOW, 30000))
                    self.assertEqual(self.finish(proc), 0)
                    self.assertEqual([r["path"][-4:] for r in trusted.log], ["/cfg", ".ENG", ".exe"])
                    with open(self.file("cinstall.exe"), "rb") as f:
                        self.assertEqual(f.read(), body)
                    continue
                self.final_message(status)
                self.close_with_ok(proc)
                self.assertEqual(untrusted.log, [], "nothing was asked of the untrusted server")
                if status == 5:  # the plain answer was asked for, and refused before a byte was kept
                    self.assertTrue(trusted.log[-1]["path"].endswith("ENG.exe"), trusted.log)
                    self.assertEqual(os.path.getsize(self.file("cinstall.exe")), 0)
                else:
                    self.assertEqual(self.requests_for(".exe"), [], "no installer requested")

    def test_hand_option_is_taken_only_with_its_exact_prefix(self):
        for args, asked in ((["hand", "URL"], False), (["HANDURL"], False), (["HAND", "URL"], True)):
            with self.subTest(args=args):
                self.site.log.clear()
                url = self.site.url("/missing-config")
                proc = self.start_loader([a.replace("URL", url) for a in args])
                self.choose()
                self.final_message(3)
                self.assertEqual(bool(self.requests_for("/missing-config")), asked)
                self.close_with_ok(proc)

    def test_arabic_download_window_is_mirrored_mid_download(self):
        self.serve_package(text=NOTICE_TEXT, language="ARA", installer_mode="slow")
        proc = self.start_loader(["HAND", self.config()])
        self.choose("ARA")
        self.robot.wait_text(WINDOW, NOTICE, "Enjoy!\r\nWelcome", 10000)
        self.assertGreater(wait_until(lambda: self.robot.navy(WINDOW, METER), 5), 0)
        self.screenshot("download-window-arabic")
        self.assertTrue(self.robot.gone(WINDOW, 30000))
        self.assertEqual(self.finish(proc), 0)


class ReportTest(OldInstallationTest):
    """A loader built with LOADER_REPORT_URL: each run's outcome reported, exactly as the endpoint
    takes it, and never at the player's expense."""

    HOST = "report.halvorn.example"

    ID = "0123456789abcdef0123"

    def setUp(self):
        super().setUp()
        # A copy as the endpoint serves it: stamped with its tag and download id.
        self.exe = self.file("report-copy.exe")
        subprocess.run([LOADERKIT, "stamp", "--in", os.environ["LOADER_REPORT_EXE"], "--out", self.exe, "--tag", "A17",
                        "--id", self.ID], check=True, capture_output=True)
        self.store = self.file("funnel.sqlite")
        self.addCleanup(self.robot.reg_delete, tracking_key_path())  # the stamped copy's record

    def reports(self):
        return [r["path"] for r in self.site.log if r["host"] == self.HOST]

    def start(self, config):
        self.site.log.clear()
        return self.start_loader(["HAND", config], exe=self.exe, proxy="http://127.0.0.1:%d" % self.site.port)

    def taken_by_the_endpoint(self, path):
        """The report's fields, after the endpoint's own reading of them has taken it (204)."""
        query = path.split("?", 1)[1]
        cgi = subprocess.run([LOADERKIT, "download"], capture_output=True, timeout=60, env=dict(
            os.environ, GATEWAY_INTERFACE="CGI/1.1", REQUEST_METHOD="GET", DOCUMENT_URI="/report", QUERY_STRING=query,
            LOADERKIT_DATABASE=self.store))
        self.assertTrue(cgi.stdout.startswith(b"Status: 204"), (query, cgi.stdout[:200]))
        return dict(pair.split("=", 1) for pair in query.split("&"))

    def test_every_outcome_is_reported_once_and_a_silent_report_server_holds_nothing_back(self):
        installer = self.serve_package()
        cut = "/cut/"
        self.site.reply("/cut-cfg", "iFlag=0|sDlurl=" + self.site.url(cut))
        for v in ("_reg_", "_sys_"):
            self.site.add(cut + "p_Tavmok%sENG.ENG" % v, b"%d\r\nWelcome\r\n" % len(installer))
            self.site.add(cut + "p_Tavmok%sENG.exe" % v, installer, mode="cut")
        # outcome, how the run goes: to the installer, to message 3 (no configuration server) or
        # 5 (a cut download), the chooser cancelled, or the process killed mid-download.
        for outcome, config in (("installer-started", self.config()), ("message-3", self.site.url("/none")),
                                ("message-5", self.site.url("/cut-cfg")), ("cancelled", None), ("killed", None)):
            with self.subTest(outcome):
                if outcome == "killed":
                    self.serve_package(installer_mode="slow")
                proc = self.start(config or self.config())
                if outcome == "cancelled":
                    self.assertTrue(self.robot.wait(CHOOSER))
                    self.robot.post(CHOOSER, WM_COMMAND, IDCANCEL)  # Escape or the close box
                else:
                    self.choose()
                if outcome.startswith("message-"):
                    self.final_message(int(outcome[-1]))
                    self.robot.click(WINDOW, IDOK)
                elif outcome == "killed":
                    self.robot.wait_text(WINDOW, NOTICE, "Welcome", 15000)
                    self.robot.cmd("kill", WINDOW)
                self.assertTrue(self.robot.gone(WINDOW, 30000))
                self.finish(proc)
                fields = [self.taken_by_the_endpoint(p) for p in self.reports()]
                events = [(f["event"], f.get("outcome")) for f in fields]
                expected = {"cancelled": [("cancelled", None)], "killed": [("chosen", None)]}.get(
                    outcome, [("chosen", None), ("end", outcome)])
                self.assertEqual(events, expected)
                for f in fields:
                    self.assertEqual((f["v"], f["lang"], f["build"], f["id"], f["tag"]), ("1", "ENG", "paced", self.ID, "A17"))
                    self.assertRegex(f["os"], r"^\d+\.\d+\.\d+$")
                end = fields[-1]
                if outcome == "installer-started":
                    self.assertEqual((end["bytes"], end["total"], end["attempts"], end["http"]),
                                     (str(len(installer)), str(len(installer)), "1", "0"))
                if outcome == "message-5":
                    self.assertLess(int(end["bytes"]), int(end["total"]))
        # The store and the funnel count exactly these runs.
        funnel = subprocess.run([LOADERKIT, "funnel", "--database", self.store, "--json"], capture_output=True,
                                text=True, check=True).stdout
        self.assertEqual(json.loads(funnel)["groups"], [{
            "key": "A17", "served": 0, "chosen": 4, "cancelled": 1, "installer_started": 1, "message_3": 1,
            "message_4": 0, "message_5": 1, "message_7": 0, "no_end": 1}])
        # A report server that never answers, and one that closes the connection: the final
        # message comes as it does without reports, and the program ends within 2 s of its OK.
        for mode in ("late", "abort"):
            with self.subTest(mode):
                self.site.add("/report", mode=mode, delay=60, host=self.HOST)
                proc = self.start(self.site.url("/none"))
                self.choose()
                shown = time.time()
                self.final_message(3)
                self.assertLess(time.time() - shown, 5, "the final message is not held back")
                self.robot.click(WINDOW, IDOK)
                clicked = time.time()
                self.finish(proc)
                self.assertLess(time.time() - clicked, 2 + 1.5, "2 s for the reports, and Wine's own ending")
                self.assertEqual(len(self.reports()), 2)


class PublisherCheckTest(OldInstallationTest):
    """A build that names a publisher starts only an installer signed by it, whole."""

    def test_only_an_installer_signed_by_the_publisher_starts(self):
        def signed(common_name):
            with open(sign_with_throwaway_certificate(FAKE_INSTALLER, self.work, common_name)[0], "rb") as f:
                return f.read()
        good = signed(os.environ["LOADER_TEST_PUBLISHER"])
        changed = bytearray(good)
        changed[0x410] ^= 0x01  # a code byte: the signature's digest no longer matches
        with open(FAKE_INSTALLER, "rb") as f:
            unsigned = f.read()
        cases = [("unsigned", unsigned, False), ("signed by another publisher", signed("Another Publisher"), False),
                 ("changed after signing", bytes(changed), False), ("signed by the publisher", good, True)]
        # The check's own libraries too come from the system folder, never from the program's.
        downloads = os.path.join(self.work, "Downloads")
        os.makedirs(downloads)
        exe = shutil.copy(os.environ["LOADER_BRANDED_EXE"], downloads)
        planted = plant_dlls(downloads)
        for what, installer, starts in cases:
            with self.subTest(what=what):
                self.serve_package(installer=installer)
                proc = self.start_loader(["HAND", self.config()], exe=exe, overrides=PLANTED_OVERRIDES)
                self.choose()
                if starts:
                    self.assertTrue(self.robot.gone(WINDOW, 30000))
                    self.assertEqual(self.finish(proc), 0)
                    self.assertTrue(wait_until(lambda: os.path.exists(self.file("installer-record.txt"))))
                    self.assertTrue(os.path.exists(self.old + ".old"))
                    continue
                self.final_message(7)
                self.close_with_ok(proc)
                self.assertFalse(os.path.exists(self.file("installer-record.txt")), "nothing started")
                self.assertTrue(os.path.exists(self.old) and not os.path.exists(self.old + ".old"), what)
                self.assertFalse(os.path.exists(self.file("cinstall.exe")), "the unverified file is deleted")
        self.assertEqual([m for m in planted if os.path.exists(m)], [], "no planted DLL was loaded")


class BuiltInConfigurationTest(LoaderTest):
    """The built-in configuration URLs, reached unchanged through the site acting as proxy."""

    PRIMARY = ("config.halvorn.example", "/loader/primary.txt")
    SECONDARY = ("backup.halvorn.example", "/loader/cfg.txt")

    def discover(self, exe=None):
        # The notice page is missing (a 404 body without a line feed): message 4 proves that
        # discovery itself succeeded, and the test ends there.
        proc = self.start_loader(proxy="http://127.0.0.1:%d" % self.site.port, exe=exe)
        self.choose()
        self.final_message(4)
        self.close_with_ok(proc)
        return [(r["host"], r["path"]) for r in self.site.log]

    def test_first_unreachable_second_answers(self):
        host, path = self.PRIMARY
        self.site.add(path, b"proxy: host unreachable", status=502, host=host)
        host2, path2 = self.SECONDARY
        self.site.reply(path2, "iFlag=0|sDlurl=http://dl.halvorn.example/files/", host=host2)
        log = self.discover()
        self.assertEqual(log[:2], [self.PRIMARY, self.SECONDARY])
        self.assertTrue(log[2][1].startswith("/files/p_Tavmok_") and log[2][0] == "dl.halvorn.example", log)

    def test_an_untrusted_https_first_candidate_gives_way_to_the_second(self):
        # The branded build's first URL is the same one over HTTPS; its server would answer with
        # another download site, had its certificate been trusted.
        self.site.tunnel_tls = make_tls_certificate(self.work)
        host, path = self.PRIMARY
        self.site.reply(path, "iFlag=0|sDlurl=http://wrong.halvorn.example/files/", host=host)
        host2, path2 = self.SECONDARY
        self.site.reply(path2, "iFlag=0|sDlurl=http://dl.halvorn.example/files/", host=host2)
        log = self.discover(exe=os.environ["LOADER_BRANDED_EXE"])
        self.assertEqual(log[:2], [(host, "CONNECT"), self.SECONDARY])
        self.assertNotIn((host, path), log)
        self.assertEqual(log[2][0], "dl.halvorn.example", log)

    def test_first_answers_and_the_second_is_never_asked(self):
        host, path = self.PRIMARY
        self.site.reply(path, "iFlag=1|sUrl=http://redirect.halvorn.example/next", host=host)
        self.site.reply("/next", "iFlag=0|sDlurl=http://dl.halvorn.example/files/", host="redirect.halvorn.example")
        log = self.discover()
        self.assertEqual(log[:2], [self.PRIMARY, ("redirect.halvorn.example", "/next")])
        self.assertNotIn(self.SECONDARY, log)


if __name__ == "__main__":
    unittest.main()
