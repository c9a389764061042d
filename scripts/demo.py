#!/usr/bin/env python3
"""The demo: a stamped loader.exe goes the whole way against a local download site built with
loaderkit and served by Python's http.server on 127.0.0.1, driven by the test robot.
Screenshots and a summary go to the folder given as the only argument."""
import functools
import http.server
import os
import shutil
import subprocess
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
os.environ.setdefault("LOADER_BUILD_DIR", os.path.join(ROOT, "build", "win64"))

import harness  # noqa: E402
from harness import CHOOSER, IDOK, LANG_BUTTON, METER, NOTICE, WINDOW, Robot  # noqa: E402

OUT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "demo-output"))
WORK = os.path.join(harness.BUILD, "demo")
KIT = os.path.join(ROOT, "build", "native", "loaderkit")
NOTICE_TEXT = (b"Welcome to [CASINO_NAME]!\r\nYour casino software is on its way.\r\n"
               b"Visit us at [CASINO_ADDRESS]\r\nFair games, fast payouts.\r\n")


def shot(robot, name, caption):
    """The window with a margin; the whole screen when the window cannot be found."""
    path = os.path.join(OUT, name + ".png")
    command = ["import", "-window", "root"]
    try:
        left, top, width, height = robot.rect(caption)
        command += ["-crop", "%dx%d+%d+%d" % (width + 40, height + 40, max(0, left - 20), max(0, top - 20))]
    except AssertionError:
        pass
    subprocess.run(command + ["+repage", path], check=True)
    print("  screenshot", path)


class ThrottledHandler(http.server.SimpleHTTPRequestHandler):
    """Sends files at about 1.5 MB/s, like a player's connection, so the notice text rotates
    and the meter grows visibly while the installer arrives."""

    def log_message(self, *args):
        pass

    def copyfile(self, source, outputfile):
        while True:
            block = source.read(64 * 1024)
            if not block:
                break
            outputfile.write(block)
            time.sleep(0.04)


def serve(folder):
    handler = functools.partial(ThrottledHandler, directory=folder)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def run_loader(exe, lang, args):
    env = harness.wine_env({"LANG": lang, "LC_ALL": lang})
    return subprocess.Popen([harness.WINE_RUN, exe, *args], cwd=WORK, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def signature_check(path, cert):
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, path], capture_output=True, text=True)
    return "Succeeded" if r.returncode == 0 and "Succeeded" in r.stdout else "Failed"


def sign_and_stamp():
    """Signs loader.exe with a throwaway certificate made here, as an operator signs once, then
    stamps a copy per affiliate, as the web server does, and checks the signature each time."""
    print("0. sign the loader once, then stamp a copy through a pipe")
    key, cert = os.path.join(WORK, "operator-key.pem"), os.path.join(WORK, "operator-cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=Nordlys Gaming Ltd (demo)"], check=True, capture_output=True)
    signed = os.path.join(WORK, "loader-signed.exe")
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Nordlys Casino",
                    "-in", harness.LOADER, "-out", signed], check=True, capture_output=True)
    print("  signature of the signed loader:", signature_check(signed, cert))
    loader = os.path.join(WORK, "HalvornSetup.exe")
    with open(signed, "rb") as f, open(loader, "wb") as g:
        subprocess.run([KIT, "stamp", "--in", "-", "--out", "-", "--tag", "DEMO", "--id", "2026",
                        "--name", "Nordlys Casino", "--address", "www.nordlys.example", "--company",
                        "Nordlys Gaming Ltd"], stdin=f, stdout=g, check=True)
    print("  signature of the stamped copy:", signature_check(loader, cert))
    subprocess.run([KIT, "stamp", "--show", loader], check=True)
    return loader


def main():
    os.makedirs(OUT, exist_ok=True)
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    # An installer big enough to watch: the stand-in installer with padding after its image.
    installer = os.path.join(WORK, "installer.exe")
    with open(harness.FAKE_INSTALLER, "rb") as f, open(installer, "wb") as g:
        g.write(f.read() + b"\0" * (6 * 1024 * 1024))
    notice = os.path.join(WORK, "notice.txt")
    with open(notice, "wb") as f:
        f.write(NOTICE_TEXT)
    site_dir = os.path.join(WORK, "site")
    server = serve(site_dir)
    base = "http://127.0.0.1:%d/" % server.server_address[1]
    subprocess.run([KIT, "site", "--out", site_dir, "--site-url", base, "--installer", installer,
                    "--notice", notice], check=True)
    loader = sign_and_stamp()
    robot = Robot()
    try:
        print("1. the language chooser on a Japanese system")
        p = run_loader(loader, "ja_JP.UTF-8", [])
        robot.wait(CHOOSER)
        time.sleep(0.5)
        shot(robot, "1-chooser-japanese", CHOOSER)
        robot.syscmd(CHOOSER, 0xF060)
        p.wait(30)

        print("2. an English player downloads and installs")
        old = os.path.join(WORK, "Halvorn Casino")
        os.makedirs(old, exist_ok=True)
        robot.reg_set(r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Halvorn Casino", "UninstallString",
                      '"%s\\casino.exe"' % harness.windows_path(old))
        p = run_loader(loader, "en_US.UTF-8", ["HAND", base + "config.txt"])
        robot.wait(CHOOSER)
        time.sleep(0.3)
        shot(robot, "2-chooser-english", CHOOSER)
        robot.click(CHOOSER, IDOK)
        robot.wait(WINDOW)
        robot.wait_text(WINDOW, NOTICE, "Welcome", 15000)
        time.sleep(1.2)
        print("  notice:", robot.text(WINDOW, NOTICE).replace("\r\n", " | "))
        print("  meter: %d navy pixels" % robot.navy(WINDOW, METER))
        shot(robot, "3-download-window-mid-download", WINDOW)
        robot.gone(WINDOW, 60000)
        print("  loader exit code", p.wait(30))
        print("  old installation moved aside:", os.path.isdir(old + ".old"))
        record = os.path.join(WORK, "installer-record.txt")
        print("  installer ran:", os.path.exists(record))

        print("3. an Arabic player: the window is mirrored")
        p = run_loader(loader, "en_US.UTF-8", ["HAND", base + "config.txt"])
        robot.wait(CHOOSER)
        robot.click(CHOOSER, LANG_BUTTON["ARA"])
        robot.click(CHOOSER, IDOK)
        robot.wait(WINDOW)
        robot.wait_text(WINDOW, NOTICE, "Welcome", 15000)
        time.sleep(1.2)
        shot(robot, "4-download-window-arabic", WINDOW)
        robot.gone(WINDOW, 60000)
        p.wait(30)

        print("4. no configuration server: the final message")
        p = run_loader(loader, "en_US.UTF-8", ["HAND", "http://127.0.0.1:9/config.txt"])
        robot.wait(CHOOSER)
        robot.click(CHOOSER, IDOK)
        robot.wait_text(WINDOW, NOTICE, "Failed to connect", 15000)
        shot(robot, "5-download-window-failed", WINDOW)
        robot.click(WINDOW, IDOK)
        p.wait(30)
    finally:
        robot.reg_delete(r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Halvorn Casino")
        robot.close()
        server.shutdown()
    print("demo finished; screenshots in", OUT)


main()
