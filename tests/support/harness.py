"""End-to-end harness: the real loader.exe under Wine, a robot in the same Wine session, a
scripted site, and checks on files, the registry and the site's request log.

The test command exports LOADER_BUILD_DIR, LOADER_EXE, LOADER_ROBOT, LOADER_FAKE_INSTALLER,
LOADERKIT and DISPLAY; each test gets a scratch folder as the loader's current directory.
"""
import hashlib
import os
import shutil
import struct
import subprocess
import time
import unittest

from scripted_site import ScriptedSite

HERE = os.path.dirname(os.path.abspath(__file__))
WINE_RUN = os.path.join(HERE, "wine-run.sh")
BUILD = os.environ.get("LOADER_BUILD_DIR", os.path.join(HERE, "..", "..", "build", "win64"))
LOADER = os.environ.get("LOADER_EXE", os.path.join(BUILD, "loader.exe"))
ROBOT = os.environ.get("LOADER_ROBOT", os.path.join(BUILD, "robot.exe"))
FAKE_INSTALLER = os.environ.get("LOADER_FAKE_INSTALLER", os.path.join(BUILD, "fake_installer.exe"))
LOADERKIT = os.environ.get("LOADERKIT", os.path.join(HERE, "..", "..", "build", "native", "loaderkit"))
PLANTED = os.environ.get("LOADER_PLANTED_DIR", os.path.join(BUILD, "planted"))
# Windows' search order (native first) for the names that DLLs are planted under, so that one
# beside the program would load; version.dll is left out, since Wine's own user32 imports it.
PLANTED_OVERRIDES = "mscoree,mshtml=;wininet,winmm,uxtheme,wintrust,crypt32=n,b"
SHOTS = os.environ.get("LOADER_SCREENSHOTS")  # folder for screenshots, when wanted

CHOOSER = "Language:"
WINDOW = "Downloading..."
IDOK, IDCANCEL, NOTICE, METER, SINK = 1, 2, 1001, 1003, 1005
WS_EX_LAYOUTRTL = 0x00400000
SC_CLOSE, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE = 0xF060, 0xF020, 0xF030, 0xF120
VK_ESCAPE, VK_F4 = 0x1B, 0x73
TEXTS = {
    2: "Initializing...",
    3: "Failed to connect to download site.\r\nPlease try again later...",
    4: "Parsing error occured. Please contact\r\nus if this error persists.",
    5: "A network error occured while downloading software.\r\nPlease try again later...",
    6: "Preparing to run installation...",
    7: "Error starting casino installation. Please contact\r\nus if this error persists.",
}
# The same texts in the language the player chose: message 3 in every language, and the other
# statuses and messages in one language of another script each.
CHOSEN_TEXTS = {
    3: {"ENG": TEXTS[3],
        "CHT": "無法連線到下載網站。\r\n請稍後再試...",
        "DEU": "Verbindung zur Download-Seite fehlgeschlagen.\r\nBitte versuchen Sie es später erneut...",
        "SPA": "No se pudo conectar con el sitio de descarga.\r\nInténtelo de nuevo más tarde...",
        "FRE": "Connexion au site de téléchargement impossible.\r\nVeuillez réessayer plus tard...",
        "ITA": "Impossibile connettersi al sito di download.\r\nRiprova più tardi...",
        "JAP": "ダウンロード サイトに接続できませんでした。\r\nしばらくしてからもう一度お試しください...",
        "KOR": "다운로드 사이트에 연결하지 못했습니다.\r\n나중에 다시 시도하십시오...",
        "DUT": "Kan geen verbinding maken met de downloadsite.\r\nProbeer het later opnieuw...",
        "POR": "Não foi possível conectar ao site de download.\r\nTente novamente mais tarde...",
        "SWE": "Det gick inte att ansluta till nedladdningsplatsen.\r\nFörsök igen senare...",
        "GRE": "Δεν ήταν δυνατή η σύνδεση με την τοποθεσία λήψης.\r\nΔοκιμάστε ξανά αργότερα...",
        "CHS": "无法连接到下载站点。\r\n请稍后再试...",
        "HEB": "לא ניתן להתחבר לאתר ההורדה.\u200f\r\nיש לנסות שוב מאוחר יותר...\u200f",
        "ARA": "تعذر الاتصال بموقع التنزيل.\u200f\r\nيرجى المحاولة مرة أخرى لاحقًا...\u200f",
        "DAN": "Kunne ikke oprette forbindelse til downloadsiden.\r\nPrøv igen senere..."},
    4: {"GRE": "Σφάλμα επεξεργασίας των δεδομένων του διακομιστή.\r\nΑν το σφάλμα επιμένει, επικοινωνήστε μαζί μας."},
    6: {"CHT": "正在準備執行安裝程式..."},
    7: {"JAP": "インストールを開始できませんでした。\r\nこのエラーが続く場合は、お問い合わせください。"},
}
LANG_BUTTON = {code: 1015 + i for i, code in enumerate(
    "CHT DEU ENG SPA FRE ITA JAP KOR DUT POR SWE GRE CHS HEB ARA DAN".split())}


def unescape(s):
    out = bytearray()
    i = 0
    while i < len(s):
        if s[i] == "\\" and s[i + 1:i + 2] == "x":
            out.append(int(s[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(ord(s[i]))
            i += 1
    return bytes(out)


def escape(b):
    return "".join(chr(c) if 32 <= c < 127 and c != 92 else "\\x%02x" % c for c in b)


def wine_env(extra=None):
    env = dict(os.environ, LOADER_BUILD_DIR=BUILD)
    env.pop("http_proxy", None)
    env.update(extra or {})
    return env


class Robot:
    """The robot.exe session: one command line in, one answer line out."""

    def __init__(self):
        self.proc = subprocess.Popen([WINE_RUN, ROBOT], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     env=wine_env(), text=True, encoding="latin-1")
        first = self.proc.stdout.readline().strip()
        assert first == "ready", "robot did not start: %r" % first

    def cmd(self, *args):
        self.proc.stdin.write("\t".join(str(a) for a in args) + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().rstrip("\n")
        if not answer.startswith("ok"):
            raise AssertionError("robot %s: %s" % (args, answer))
        return answer[3:]

    def close(self):
        try:
            self.proc.stdin.write("quit\n")
            self.proc.stdin.flush()
            self.proc.wait(10)
        except (OSError, subprocess.TimeoutExpired):
            self.proc.kill()

    # -- windows ----------------------------------------------------------------------------
    def wait(self, caption, ms=15000):
        return self.cmd("wait", caption, ms) == "1"

    def gone(self, caption, ms=15000):
        return self.cmd("gone", caption, ms) == "1"

    def exists(self, caption, control=0):
        return self.cmd("find", caption, control) == "1"

    def text(self, caption, control=0):
        """The control's text as the player reads it (Unicode)."""
        return unescape(self.cmd("text", caption, control)).decode("utf-8")

    def name(self, caption, control=0):
        """The control's stored text, read even while its window's thread is busy."""
        return unescape(self.cmd("name", caption, control)).decode("utf-8")

    def wait_text(self, caption, control, text, ms=20000):
        """Waits until the control's text contains text; returns the whole text."""
        return unescape(self.cmd("waittext", caption, control, escape(text.encode("utf-8")), ms)).decode("utf-8")

    def info(self, caption, control=0):
        fields = dict(kv.split("=") for kv in self.cmd("info", caption, control).split())
        return {k: int(v, 16) if k in ("style", "exstyle") else int(v) for k, v in fields.items()}

    def click(self, caption, control):
        self.cmd("click", caption, control)

    def post(self, caption, msg, wparam=0):
        self.cmd("post", caption, 0, hex(msg), hex(wparam))

    def syscmd(self, caption, sc):
        self.cmd("syscmd", caption, 0, hex(sc))

    def key(self, caption, vk, alt=False):
        self.cmd("altkey" if alt else "key", caption, 0, hex(vk))

    def foreground(self):
        return unescape(self.cmd("fg"))

    def count(self, caption):
        return int(self.cmd("count", caption))

    def rect(self, caption, control=0):
        """(left, top, width, height) of the window on the screen."""
        return tuple(int(v) for v in self.cmd("rect", caption, control).split())

    def navy(self, caption, control):
        return int(self.cmd("navy", caption, control))

    # -- registry (HKLM) ----------------------------------------------------------------------
    def reg_get(self, path, name=""):
        answer = self.cmd("regget", "HKLM", path, name)
        if answer in ("nokey", "novalue"):
            return None
        data = answer.split(" ", 3)[3]  # "value TYPE SIZE DATA"
        raw = unescape(data)
        return raw[:-1] if raw.endswith(b"\0") else raw

    def reg_set(self, path, name, value):
        self.cmd("regset", "HKLM", path, name, escape(value.encode("latin-1")))

    def reg_delete(self, path):
        self.cmd("regdel", "HKLM", path)


# A slow flow (ten seconds or more under Wine) runs on one build per test command: on the
# shipping i686 build where 32-bit Wine runs, else on the x86_64 build. The test command says
# which by LOADER_SLOW_FLOWS: "skip" in a run that leaves the slow flows to the other build,
# "only" in a run of the slow flows alone; unset, every case runs.
SLOW_FLOWS = os.environ.get("LOADER_SLOW_FLOWS", "")


def slow_flow(test):
    test.slow_flow = True
    return test


class LoaderTest(unittest.TestCase):
    """Base class: a robot, a scripted site, a scratch folder, and helpers to run loader.exe."""

    robot = None

    @classmethod
    def setUpClass(cls):
        cls.robot = Robot()

    @classmethod
    def tearDownClass(cls):
        cls.robot.close()

    def setUp(self):
        slow = getattr(getattr(self, self._testMethodName), "slow_flow", False)
        if SLOW_FLOWS == "skip" and slow:
            self.skipTest("on one build: a slow flow, run on the i686 build in this test command")
        if SLOW_FLOWS == "only" and not slow:
            self.skipTest("on one build: ran on this build earlier in this test command")
        self.site = ScriptedSite()
        self.site.start()
        self.work = os.path.join(BUILD, "e2e-work", self.id().split(".")[-1])
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.procs = []
        for caption in (CHOOSER, WINDOW):
            self.assertTrue(self.robot.gone(caption, 10000), "a loader window of an earlier test is still open")

    def tearDown(self):
        # A failed test may leave a loader window open; the next test's loader would then
        # defer to it and show nothing. Its Windows process is ended through the robot.
        for caption in (CHOOSER, WINDOW):
            while self.robot.exists(caption):
                self.robot.cmd("kill", caption)
        for p in self.procs:
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        self.site.stop()

    def start_loader(self, args=(), lang="en_US.UTF-8", proxy=None, exe=None, overrides=None):
        env = {"LANG": lang, "LC_ALL": lang}
        if proxy:
            env["http_proxy"] = proxy
        if overrides:
            env["WINEDLLOVERRIDES"] = overrides
        p = subprocess.Popen([WINE_RUN, exe or LOADER, *args], cwd=self.work, env=wine_env(env),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(p)
        return p

    def finish(self, proc, timeout=30):
        return proc.wait(timeout)

    def choose(self, code=None):
        """Waits for the chooser, checks a language if given, presses OK."""
        self.assertTrue(self.robot.wait(CHOOSER), "no language chooser")
        if code:
            self.robot.click(CHOOSER, LANG_BUTTON[code])
        self.robot.click(CHOOSER, IDOK)
        self.assertTrue(self.robot.wait(WINDOW), "no download window")

    def final_message(self, status, ms=30000, code=None):
        """Message status, in the language of code (English when none was chosen)."""
        expected = CHOSEN_TEXTS[status][code] if code and code != "ENG" else TEXTS[status]
        text = self.robot.wait_text(WINDOW, NOTICE, expected, ms)
        self.assertEqual(text, expected)
        ok = self.robot.info(WINDOW, IDOK)
        self.assertEqual(ok["visible"], 1, "OK is shown with a final message")
        return ok

    def close_with_ok(self, proc):
        self.robot.click(WINDOW, IDOK)
        self.assertTrue(self.robot.gone(WINDOW))
        self.assertEqual(self.finish(proc), 0)

    def screenshot(self, name):
        if not SHOTS:
            return None
        os.makedirs(SHOTS, exist_ok=True)
        path = os.path.join(SHOTS, name + ".png")
        subprocess.run(["import", "-window", "root", path], check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return path

    def file(self, name):
        return os.path.join(self.work, name)

    # -- the demo site ------------------------------------------------------------------------
    def serve_package(self, installer=None, text=None, size=None, page=None, variant=None, language="ENG",
                      host=None, installer_mode="normal", installer_status=200, installer_file=None):
        """A download site under /dl/ with the notice and installer of every variant of a language.
        page replaces the whole notice page; otherwise it is the size line (the installer's
        length unless size is given) and text. installer_file: how the installer's route serves it
        (ranges, cuts, stalls: see scripted_site.Route)."""
        if installer is None:
            with open(FAKE_INSTALLER, "rb") as f:
                installer = f.read()
        body = installer
        if text is None:
            text = "Welcome to [CASINO_NAME]\r\nat [CASINO_ADDRESS]\r\nEnjoy!\r\n"
        if page is None:
            page = ("%s\r\n" % (len(body) if size is None else size)).encode() + text.encode("latin-1")
        for v in ([variant] if variant else ["_reg_", "_sys_"]):
            stem = "/dl/p_Tavmok%s%s" % (v, language)
            self.site.add(stem + "." + language, page, host=host)
            self.site.add(stem + ".exe", body, host=host, mode=installer_mode, status=installer_status, delay=0.6,
                          **(installer_file or {}))
        return body

    def config(self, path="/cfg", host=None):
        self.site.reply(path, "iFlag=0|sDlurl=" + self.site.url("/dl/"), host=host)
        return self.site.url(path)

    def requests_for(self, suffix):
        return [r for r in self.site.log if r["path"].endswith(suffix)]


def plant_dlls(folder):
    """Puts the planted DLLs into folder; returns the marker files that each leaves when loaded."""
    markers = []
    for name in sorted(os.listdir(PLANTED)):
        if name.endswith(".dll"):
            shutil.copy(os.path.join(PLANTED, name), os.path.join(folder, name))
            markers.append(os.path.join(folder, name + ".loaded"))
    return markers


def wait_until(predicate, timeout=10.0, step=0.05):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(step)
    return predicate()


def tracking_key_path():
    """The TrackingKey path this build stores scrambled, read back from the generated source."""
    import re
    from scripted_site import unscramble
    source = open(os.path.join(BUILD, "generated", "builtin_config.cpp")).read()
    literal = re.search(r'TrackingKeyPath\[\] = "([^"]*)"', source).group(1)
    return unscramble(bytes(int(h, 16) for h in re.findall(r"\\x([0-9a-f]{2})", literal))).decode("latin-1")


def make_certificate(stem, subject, *options):
    """openssl req -x509 with a new key: stem.key and stem.pem; returns (cert, key)."""
    key, cert = stem + ".key", stem + ".pem"
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", subject, *options], check=True, capture_output=True)
    return cert, key


def make_tls_certificate(folder, issuer=None):
    """A certificate for 127.0.0.1: (cert, key) files. Self-signed, which no Wine prefix trusts,
    or signed by issuer, a (cert, key) pair such as make_test_ca's. Wine matches the server name
    against DNS names only, so 127.0.0.1 is a DNS name here."""
    signing = ["-CA", issuer[0], "-CAkey", issuer[1]] if issuer else []
    return make_certificate(os.path.join(folder, "tls-" + ("issued" if issuer else "self")), "/CN=127.0.0.1",
                            *signing, "-addext", "subjectAltName=DNS:127.0.0.1", "-addext", "basicConstraints=CA:false",
                            "-addext", "extendedKeyUsage=serverAuth")


def sign_with_throwaway_certificate(program, folder, common_name):
    """Signs program with a certificate made on the spot for common_name. Returns the signed
    copy's path and the certificate's, for osslsigncode verify -CAfile."""
    stem = os.path.join(folder, common_name.replace(" ", "_"))
    cert, key = make_certificate(stem, "/CN=" + common_name)
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-in", program, "-out", stem + ".exe"],
                   check=True, capture_output=True)
    return stem + ".exe", cert


def make_test_ca(folder):
    """A local certificate authority: (cert, key) files."""
    return make_certificate(os.path.join(folder, "ca"), "/CN=Halvorn Test CA", "-addext",
                            "basicConstraints=critical,CA:true", "-addext", "keyUsage=critical,keyCertSign,cRLSign")


def trust_in_prefix(ca_cert):
    """Adds a CA to the Wine prefix's Root store, as a system store entry: the DER certificate as
    property 32 (the certificate itself) of a serialized element, under its SHA-1 thumbprint.
    Returns the registry key, for reg delete."""
    der = subprocess.run(["openssl", "x509", "-in", ca_cert, "-outform", "DER"], check=True,
                         capture_output=True).stdout
    thumbprint = hashlib.sha1(der).hexdigest().upper()
    key = "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\" + thumbprint
    blob = struct.pack("<III", 32, 1, len(der)) + der
    subprocess.run([WINE_RUN, "reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f"],
                   env=wine_env(), check=True, capture_output=True)
    return key


def windows_path(unix_path):
    return "Z:" + unix_path.replace("/", "\\")


def prefix_windows_dir():
    return os.path.join(os.environ.get("WINEPREFIX", os.path.join(BUILD, "wineprefix")), "drive_c", "windows")
