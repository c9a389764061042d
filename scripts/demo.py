#!/usr/bin/env python3
"""The demo: a signed loader.exe, stamped per download by the kit's endpoint, goes the whole way
against a local download site built with loaderkit; nginx serves both on 127.0.0.1 through
scripts/serve.sh, and the test robot drives the player's side. Screenshots and a summary go to
the folder given as the only argument."""
import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "support"))
os.environ.setdefault("LOADER_BUILD_DIR", os.path.join(ROOT, "build", "win64"))

import harness  # noqa: E402
from harness import CHOOSER, IDOK, LANG_BUTTON, METER, NOTICE, WINDOW, Robot  # noqa: E402

OUT = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "demo-output"))
WORK = os.path.join(harness.BUILD, "demo")
KIT = os.path.join(ROOT, "build", "native", "loaderkit")
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


def serve(folder, program, port):
    """scripts/serve.sh on the site and the signed program, at about 1.5 MB/s per answer, like a
    player's connection, so the notice text rotates and the meter grows visibly."""
    server = subprocess.Popen(
        [os.path.join(ROOT, "scripts", "serve.sh"), "--site", folder, "--program", program, "--port", str(port),
         "--name", "Nordlys Casino", "--address", "www.nordlys.example", "--company", "Nordlys Gaming Ltd",
         "--file-name", "HalvornSetup"],
        env=dict(os.environ, LOADERKIT=KIT, SERVE_LIMIT_RATE="1500k"), stdout=subprocess.PIPE, text=True)
    print("  " + server.stdout.readline().strip())
    return server


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def run_loader(exe, lang, args):
    env = harness.wine_env({"LANG": lang, "LC_ALL": lang})
    return subprocess.Popen([harness.WINE_RUN, exe, *args], cwd=WORK, env=env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def signature_check(path, cert):
    r = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, path], capture_output=True, text=True)
    return "Succeeded" if r.returncode == 0 and "Succeeded" in r.stdout else "Failed"


def sign():
    """Signs loader.exe with a throwaway certificate made here, as an operator signs once."""
    print("0. sign the loader once; the web server stamps a copy per download")
    key, cert = os.path.join(WORK, "operator-key.pem"), os.path.join(WORK, "operator-cert.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=Nordlys Gaming Ltd (demo)"], check=True, capture_output=True)
    signed = os.path.join(WORK, "loader-signed.exe")
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-n", "Nordlys Casino",
                    "-in", harness.LOADER, "-out", signed], check=True, capture_output=True)
    print("  signature of the signed loader:", signature_check(signed, cert))
    return signed, cert


def download_copy(base, cert):
    """The player's copy, as the browser fetches it from the endpoint; its signature and stamp."""
    with urllib.request.urlopen(base + "download?tag=DEMO") as answer:
        print("  GET /download?tag=DEMO:", answer.status, answer.headers["Content-Disposition"],
              "X-Download-Id:", answer.headers["X-Download-Id"])
        loader = os.path.join(WORK, "HalvornSetup.exe")
        with open(loader, "wb") as f:
            f.write(answer.read())
    print("  signature of the downloaded copy:", signature_check(loader, cert))
    subprocess.run([KIT, "stamp", "--show", loader], check=True)
    return loader


def watch_notice(robot, loader, base, lang, code, name, chooser_shot=None):
    """One player's run to its end: the chooser (language code checked, if given), the notice
    with the casino's name, a screenshot of the window."""
    p = run_loader(loader, lang, ["HAND", base + "config.txt"])
    robot.wait(CHOOSER)
    if chooser_shot:
        time.sleep(0.5)
        shot(robot, chooser_shot, CHOOSER)
    if code:
        robot.click(CHOOSER, LANG_BUTTON[code])
    robot.click(CHOOSER, IDOK)
    robot.wait(WINDOW)
    robot.wait_text(WINDOW, NOTICE, "Nordlys Casino", 15000)
    time.sleep(1.2)
    print("  notice:", robot.text(WINDOW, NOTICE).replace("\r\n", " | "))
    shot(robot, name, WINDOW)
    robot.gone(WINDOW, 60000)
    p.wait(30)


def main():
    os.makedirs(OUT, exist_ok=True)
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    # An installer big enough to watch: the stand-in installer with padding after its image.
    installer = os.path.join(WORK, "installer.exe")
    with open(harness.FAKE_INSTALLER, "rb") as f, open(installer, "wb") as g:
        g.write(f.read() + b"\0" * (6 * 1024 * 1024))
    site_dir = os.path.join(WORK, "site")
    port = free_port()
    base = "http://127.0.0.1:%d/" % port
    # No notice files: every player reads the site's default notice in the language chosen.
    subprocess.run([KIT, "site", "--out", site_dir, "--site-url", base, "--installer", installer], check=True)
    signed, cert = sign()
    server = serve(site_dir, signed, port)
    loader = download_copy(base, cert)
    robot = Robot()
    try:
        print("1. a Japanese player: the chooser, then the site's default notice in Japanese")
        watch_notice(robot, loader, base, "ja_JP.UTF-8", None, "1-download-window-japanese", "1-chooser-japanese")
        print("1b. a Japanese player on an English system: the notice still reads as written")
        watch_notice(robot, loader, base, "en_US.UTF-8", "JAP", "1b-download-window-japanese-on-english")

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

        print("3. an Arabic player on an Arabic system: the window is mirrored, the notice Arabic")
        watch_notice(robot, loader, base, "ar_SA.UTF-8", "ARA", "4-download-window-arabic")

        print("4. no configuration server: the final message in English, and in Japanese, Hebrew and Arabic on an"
              " English system")
        for code, start, name in (("ENG", "Failed to connect", "5-download-window-failed"),
                                  ("JAP", "ダウンロード サイトに接続できません", "5b-download-window-failed-japanese"),
                                  ("HEB", "לא ניתן להתחבר", "5c-download-window-failed-hebrew"),
                                  ("ARA", "تعذر الاتصال", "5d-download-window-failed-arabic")):
            p = run_loader(loader, "en_US.UTF-8", ["HAND", "http://127.0.0.1:9/config.txt"])
            robot.wait(CHOOSER)
            robot.click(CHOOSER, LANG_BUTTON[code])
            robot.click(CHOOSER, IDOK)
            robot.wait_text(WINDOW, NOTICE, start, 15000)
            shot(robot, name, WINDOW)
            robot.click(WINDOW, IDOK)
            p.wait(30)
        print("5. the operator's funnel: the endpoint's store of this demo's downloads, as a page")
        page = os.path.join(OUT, "funnel.html")
        subprocess.run([KIT, "funnel", "--database", os.path.join(ROOT, "build", "serve", str(port), "funnel.sqlite"),
                        "--html", page], check=True)
        subprocess.run(["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                        "--disable-background-networking", "--disable-component-update", "--disable-sync",
                        "--user-data-dir=" + os.path.join(WORK, "browser"), "--hide-scrollbars",
                        "--window-size=1000,900", "--screenshot=" + os.path.join(OUT, "6-funnel.png"),
                        "file://" + page], check=True, capture_output=True)
        print("  page", page, "and its screenshot", os.path.join(OUT, "6-funnel.png"))
    finally:
        robot.reg_delete(r"SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Halvorn Casino")
        robot.close()
        server.send_signal(signal.SIGTERM)
        server.wait(20)
    print("demo finished; screenshots in", OUT)


main()
