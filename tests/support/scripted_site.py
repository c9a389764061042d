#!/usr/bin/env python3
"""Scripted local HTTP site for the loader's tests and demo: configuration replies, notice
texts, installers, redirect chains and faults on demand, on 127.0.0.1 only.

It also works as the system proxy: a request line with a full URL is answered from the routes
of that URL's host, so the loader's built-in configuration host names are used unchanged. With
tunnel_tls set, a CONNECT is answered with a TLS tunnel under that certificate, inside which
requests are answered from the routes of the CONNECT's host.
Every request is logged with its path, host and User-Agent.
"""
import argparse
import json
import os
import re
import signal
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import urlsplit

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TABLE_INC = os.path.join(ROOT, "src", "net", "substitution_table.inc")


def load_table():
    text = re.sub(r"//[^\n]*", "", open(TABLE_INC, encoding="ascii").read())
    values = [int(v) for v in re.findall(r"\d+", text)]
    assert len(values) == 256
    return values


_TABLE = load_table()
_INVERSE = [0] * 256
for coded, plain in enumerate(_TABLE):
    _INVERSE[plain] = coded


def scramble(data):
    """The server side of the substitution: the loader's table turns the result back into data."""
    if isinstance(data, str):
        data = data.encode("latin-1")
    return bytes(_INVERSE[b] for b in data)


def unscramble(data):
    return bytes(_TABLE[b] for b in data)


class Route:
    def __init__(self, body=b"", status=200, mode="normal", delay=0.0, headers=None, ranges=False, etag=None,
                 cuts=(), stall=None, changed=None, rate=None):
        self.body = body.encode("latin-1") if isinstance(body, str) else body
        self.status = status
        self.mode = mode  # normal | abort | cut | slow | late (the whole answer after delay)
        self.delay = delay
        self.headers = headers or {}
        # A file as a web server serves it: "Range: bytes=N-" answered with 206 while If-Range
        # names its ETag (ranges), each answer cut off before the file offset cuts[k] of the
        # k-th request, or halted at stall = (offset, seconds) in the first one; changed =
        # (body, etag) replaces the file after the first request; rate: bytes per second, sent in
        # tenths of it, as a throttled line delivers them.
        self.ranges = ranges
        self.etag = etag
        self.cuts = list(cuts)
        self.stall = stall
        self.changed = changed
        self.rate = rate
        self.served = 0


class ScriptedSite:
    def __init__(self):
        self.routes = {}
        self.log = []
        self._lock = threading.Lock()
        self._server = None
        self.port = None
        self.scheme = "http"
        self.tunnel_tls = None  # (certificate file, key file) for CONNECT tunnels

    # -- routes ---------------------------------------------------------------------------
    def add(self, path, body=b"", status=200, host=None, mode="normal", delay=0.0, headers=None, **file):
        """file: the Route's ranges, etag, cuts, stall, changed and rate."""
        self.routes[(host, path)] = Route(body, status, mode, delay, headers, **file)

    def reply(self, path, text, host=None, status=200):
        """A configuration reply, scrambled as the configuration server sends it."""
        self.add(path, scramble(text), status=status, host=host)

    def url(self, path):
        return "%s://127.0.0.1:%d%s" % (self.scheme, self.port, path)

    def requests(self, path=None, host=None):
        with self._lock:
            return [r for r in self.log if (path is None or r["path"] == path) and (host is None or r["host"] == host)]

    # -- server ---------------------------------------------------------------------------
    def start(self, port=0, tls=None):
        """tls: (certificate file, key file) to serve HTTPS instead of HTTP."""
        site = self

        class Handler(BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                site._handle(self)

            def do_CONNECT(self):
                site._tunnel(self, Handler)

        self._server = ThreadingHTTPServer(("127.0.0.1", port), Handler)
        self._server.daemon_threads = True
        if tls:
            # A client that refuses the certificate fails the handshake in accept(), which the
            # server treats as a failed request and goes on.
            self._server.socket = tls_context(tls).wrap_socket(self._server.socket, server_side=True)
            self.scheme = "https"
        self.port = self._server.server_address[1]
        threading.Thread(target=self._server.serve_forever, daemon=True).start()
        return self.port

    def stop(self):
        if self._server:
            self._server.shutdown()
            self._server.server_close()
            self._server = None

    def _handle(self, h):
        target = h.path
        if target.startswith("http://") or target.startswith("https://"):
            parts = urlsplit(target)
            host = parts.hostname or ""
            path = parts.path or "/"
            if parts.query:
                path += "?" + parts.query
        else:
            host = (h.headers.get("Host") or "").split(":")[0]
            path = target
        entry = {"path": path, "host": host, "agent": h.headers.get("User-Agent", ""), "time": time.time(),
                 "range": h.headers.get("Range"), "if_range": h.headers.get("If-Range")}
        with self._lock:
            self.log.append(entry)
        if path == "/_log":
            with self._lock:
                body = json.dumps(self.log).encode()
            return self._send(h, Route(body))
        route = self.routes.get((host, path)) or self.routes.get((None, path))
        if route is None and "?" in path:  # a route added without a query answers every query
            bare = path.split("?", 1)[0]
            route = self.routes.get((host, bare)) or self.routes.get((None, bare))
        if route is None:
            return self._send(h, Route(b"no such page", status=404))
        return self._send(h, route)

    def _tunnel(self, h, handler_class):
        host = h.path.rsplit(":", 1)[0]
        with self._lock:
            self.log.append({"path": "CONNECT", "host": host, "agent": h.headers.get("User-Agent", ""),
                             "time": time.time()})
        if not self.tunnel_tls:
            return self._send(h, Route(b"no tunnels here", status=502))
        h.send_response(200, "Connection established")
        h.end_headers()
        h.wfile.flush()
        h.close_connection = True
        try:
            inner = tls_context(self.tunnel_tls).wrap_socket(h.connection, server_side=True)
        except OSError:  # ssl.SSLError included
            return  # the client refused the certificate
        # A client that accepted the certificate is answered as a direct request to that host.
        try:
            handler_class(inner, h.client_address, h.server)
        except OSError:
            pass
        finally:
            inner.close()

    @staticmethod
    def _head(h, status, length, headers):
        h.send_response(status)
        h.send_header("Content-Type", "application/octet-stream")
        h.send_header("Content-Length", str(length))
        h.send_header("Connection", "close")
        for k, v in headers.items():
            h.send_header(k, v)
        h.end_headers()
        h.close_connection = True

    def _send_file(self, h, route):
        with self._lock:
            k = route.served
            route.served += 1
            body, etag = route.body, route.etag
            if route.changed and k >= 1:
                body, etag = route.changed
        start = 0
        wanted = h.headers.get("Range", "")
        if route.ranges and wanted.startswith("bytes=") and wanted.endswith("-") and \
                h.headers.get("If-Range") == etag and wanted[6:-1].isdigit() and int(wanted[6:-1]) < len(body):
            start = int(wanted[6:-1])
        extra = dict(route.headers)
        if start:
            extra["Content-Range"] = "bytes %d-%d/%d" % (start, len(body) - 1, len(body))
        if etag:
            extra["ETag"] = etag
        if route.ranges:
            extra["Accept-Ranges"] = "bytes"
        self._head(h, 206 if start else 200, len(body) - start, extra)
        end = route.cuts[k] if k < len(route.cuts) else len(body)
        try:
            if route.stall and k == 0:
                at, seconds = route.stall
                h.wfile.write(body[start:at])
                h.wfile.flush()
                time.sleep(seconds)
                start = at
            step = route.rate // 10 if route.rate else len(body)
            for at in range(start, max(start, end), max(1, step)):
                h.wfile.write(body[at:min(at + step, end)])
                h.wfile.flush()
                if route.rate:
                    time.sleep(0.1)
            if end < len(body):
                h.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    def _send(self, h, route):
        if route.ranges or route.cuts or route.stall or route.rate:
            return self._send_file(h, route)
        if route.mode == "abort":
            # No response at all: the client sees the connection fail.
            try:
                h.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, b"\x01\x00\x00\x00\x00\x00\x00\x00")
            except OSError:
                pass
            h.close_connection = True
            h.connection.close()
            return
        if route.mode == "late":
            time.sleep(route.delay)
        self._head(h, route.status, len(route.body), route.headers)
        try:
            if route.mode == "cut":
                h.wfile.write(route.body[: len(route.body) // 2])
                h.wfile.flush()
                h.connection.shutdown(socket.SHUT_RDWR)
            elif route.mode == "slow":
                step = max(1, len(route.body) // 8)
                for i in range(0, len(route.body), step):
                    h.wfile.write(route.body[i:i + step])
                    h.wfile.flush()
                    time.sleep(route.delay)
            else:
                h.wfile.write(route.body)
        except OSError:
            pass


def tls_context(pair):
    """A server-side TLS context for a (certificate file, key file) pair."""
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(*pair)
    return context


def pattern_bytes(n, seed=7):
    """Deterministic bytes that are not all alike, so a misplaced chunk shows."""
    out = bytearray(n)
    x = seed
    for i in range(n):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


def add_fixtures(site):
    """The fixed routes the Win32 tests fetch."""
    site.add("/empty", b"")
    site.add("/hello", b"hello page")
    site.add("/notfound-page", b"missing page body", status=404)
    site.add("/big", pattern_bytes(30000))
    site.add("/exact", b"x" * 22000)
    site.add("/nul", b"abc\x00def")
    site.add("/error500", b"server error body", status=500)
    for n in (0, 4096, 3 * 4096, 3 * 4096 + 100, 70000):
        site.add("/bytes/%d" % n, pattern_bytes(n))
    site.add("/cut", pattern_bytes(50000), mode="cut")
    site.add("/slow", pattern_bytes(20000), mode="slow", delay=0.05)
    site.add("/abort", mode="abort")
    site.add("/bench", bytes(range(256)) * (16 * 1024 * 1024 // 256))  # content is not checked


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--port-file", help="write the chosen port here once listening")
    ap.add_argument("--fixtures", action="store_true", help="serve the Win32 tests' fixed routes")
    ap.add_argument("--exec", nargs=argparse.REMAINDER,
                    help="run this command with LOADER_SITE_PORT set, then stop and return its code")
    args = ap.parse_args()
    site = ScriptedSite()
    if args.fixtures:
        add_fixtures(site)
    port = site.start(args.port)
    if args.port_file:
        with open(args.port_file, "w") as f:
            f.write(str(port))
    if args.exec:
        import subprocess
        env = dict(os.environ, LOADER_SITE_PORT=str(port))
        code = subprocess.call(args.exec, env=env)
        site.stop()
        sys.exit(code)
    signal.signal(signal.SIGTERM, lambda *a: sys.exit(0))
    print("site listening on 127.0.0.1:%d" % port, flush=True)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
