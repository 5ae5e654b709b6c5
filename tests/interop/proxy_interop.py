#!/usr/bin/env python3
"""The firewall (tools/firewall-server) against real clients and real local origin servers:
curl as a proxy client and through a CONNECT tunnel to a TLS origin, Python's http.client,
and headless Chromium loading a page with sub-resources through the proxy.

    proxy_interop.py PATH/TO/firewall-server
"""

import http.client
import os
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from origin import OriginServer, pattern, response_head  # noqa: E402
from tls_origin import TlsOriginServer  # noqa: E402

FIREWALL = None
PORTAL = "http://www.velmora.com/main"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Firewall:
    """firewall-server on a free port; collects its output lines; stops it with SIGTERM."""

    def __init__(self, location=None):
        self.port = free_port()
        command = [FIREWALL, "--port", str(self.port)]
        if location:
            command += ["--location", location]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stdin=subprocess.DEVNULL)
        self.lines = []
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        deadline = time.monotonic() + 30
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise RuntimeError("firewall-server did not start")
                time.sleep(0.05)

    def _read(self):
        for raw in self.process.stdout:
            self.lines.append(raw.decode("utf-8").rstrip("\n"))

    def wait_for_line(self, predicate, seconds=20):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if any(predicate(line) for line in self.lines):
                return True
            time.sleep(0.05)
        return False

    def stop(self):
        self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(timeout=30)
        self._reader.join(timeout=5)
        self.process.stdout.close()
        return code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.stop()


def curl(*args, proxy_port):
    """curl through the proxy; returns (exit code, body bytes)."""
    result = subprocess.run(["curl", "-s", "--max-time", "60", "-x", f"http://127.0.0.1:{proxy_port}",
                             *args], capture_output=True, timeout=90)
    return result.returncode, result.stdout


def unchunk(body):
    """The data of a body in chunks."""
    data = b""
    while True:
        line, _, body = body.partition(b"\r\n")
        size = int(line.split(b";")[0], 16)
        if size == 0:
            return data
        data += body[:size]
        body = body[size + 2:]


def raw_exchange(port, data, timeout=20):
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as conn:
        conn.sendall(data)
        received = b""
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                return received
            received += chunk


class CurlTest(unittest.TestCase):
    def test_request_reaches_the_origin_rewritten_and_bodies_pass_both_ways(self):
        with OriginServer() as origin, Firewall(PORTAL) as firewall:
            host = f"127.0.0.1:{origin.port}"
            code, body = curl("-H", "User-Agent:", "-H", "Accept:", "-H", "X-Raw: \xe9",
                              f"http://{host}/echo", proxy_port=firewall.port)
            self.assertEqual(code, 0)
            self.assertEqual(body, b"GET /echo HTTP/1.0\r\nHost: " + host.encode() +
                             b"\r\nProxy-Connection: Keep-Alive\r\nX-Raw: \xc3\xa9\r\n\r\n")
            upload = os.urandom(100000)
            result = subprocess.run(
                ["curl", "-s", "--max-time", "60", "-x", f"http://127.0.0.1:{firewall.port}",
                 "-H", "Expect:", "-H", "Content-Type:", "--data-binary", "@-",
                 f"http://{host}/echo"],
                input=upload, capture_output=True, timeout=90)
            self.assertEqual(result.returncode, 0)
            self.assertTrue(result.stdout.startswith(b"POST /echo HTTP/1.0\r\n"))
            self.assertTrue(result.stdout.endswith(b"Content-Length: 100000\r\n\r\n" + upload))
            # The same upload in chunks keeps its framing on the way.
            result = subprocess.run(
                ["curl", "-s", "--max-time", "60", "-x", f"http://127.0.0.1:{firewall.port}",
                 "-H", "Expect:", "-H", "Content-Type:", "-H", "Transfer-Encoding: chunked",
                 "--data-binary", "@-", f"http://{host}/echo"],
                input=upload, capture_output=True, timeout=90)
            self.assertEqual(result.returncode, 0)
            head, _, body = result.stdout.partition(b"\r\n\r\n")
            self.assertIn(b"\r\nTransfer-Encoding: chunked", head)
            self.assertEqual(unchunk(body), upload)
            code, body = curl(f"http://{host}/bytes/3000000", proxy_port=firewall.port)
            self.assertEqual((code, body), (0, pattern(3000000)))
            code, body = curl(f"http://{host}/nolength/70000", proxy_port=firewall.port)
            self.assertEqual((code, body), (0, pattern(70000)))
            # HEAD: the header block alone, at once.
            code, head = curl("-I", f"http://{host}/bytes/5000", proxy_port=firewall.port)
            self.assertEqual((code, head), (0, b"HTTP/1.1 200 OK\r\nContent-Length: 5000\r\n\r\n"))
            self.assertEqual(firewall.stop(), 0)

    def test_https_end_to_end_through_a_tunnel(self):
        with TlsOriginServer() as origin, Firewall(PORTAL) as firewall:
            code, body = curl("--cacert", origin.cert_path,
                              f"https://localhost:{origin.port}/bytes/200000",
                              proxy_port=firewall.port)
            self.assertEqual((code, body), (0, pattern(200000)))
            # The tunnel request's own header lines never reach the origin.
            self.assertEqual(origin.requests[0].raw.split(b"\r\n")[0],
                             b"GET /bytes/200000 HTTP/1.1")

    def test_refused_request_gets_nothing_and_is_logged_and_counted(self):
        with OriginServer() as origin, Firewall() as firewall:
            code, body = curl(f"http://127.0.0.1:{origin.port}/bytes/10?q=1",
                              proxy_port=firewall.port)
            self.assertEqual((code, body), (52, b""))  # empty reply from server
            self.assertTrue(firewall.wait_for_line(lambda line: line == "count: 1"))
            self.assertEqual(origin.connections, 0)
            self.assertEqual(firewall.stop(), 0)
            log = [line for line in firewall.lines if "차단됨" in line]
            self.assertEqual(len(log), 1)
            self.assertRegex(log[0], r"^\[\d{4}.\d\d.\d\d \d\d.\d\d.\d\d\] 차단됨: http://127\.0\.0\.1:"
                             + str(origin.port) + r"/bytes/10\?q=1$")

    def test_command_replies(self):
        with Firewall() as firewall:
            with socket.create_connection(("127.0.0.1", firewall.port), timeout=20) as conn:
                conn.sendall(b"OPTIONS http://x/ HTTP/1.1\r\nHost: x\r\n\r\nHELP\r\n")
                expected = (b"400 OPTIONS http://x/ HTTP/1.1\r\n400 Host: x\r\n100 Help follows\r\n"
                            b"CONNECT\r\n\r\nGET\r\n\r\nHEAD\r\n\r\nHelp\r\n  Displays commands that"
                            b" the servers supports.\r\n\r\nPOST\r\n\r\n.\r\n")
                received = b""
                while len(received) < len(expected):
                    chunk = conn.recv(4096)
                    if not chunk:
                        break
                    received += chunk
                self.assertEqual(received, expected)


class HttpClientTest(unittest.TestCase):
    def test_plain_and_tunnelled_requests(self):
        with OriginServer() as origin, TlsOriginServer() as tls, Firewall(PORTAL) as firewall:
            conn = http.client.HTTPConnection("127.0.0.1", firewall.port, timeout=30)
            conn.request("GET", f"http://127.0.0.1:{origin.port}/bytes/70000")
            response = conn.getresponse()
            self.assertEqual((response.status, response.read()), (200, pattern(70000)))
            conn.close()
            conn = http.client.HTTPConnection("127.0.0.1", firewall.port, timeout=30)
            conn.request("POST", f"http://127.0.0.1:{origin.port}/echo", body=b"x" * 12,
                         headers={"Content-Length": "12"})
            echoed = conn.getresponse().read()
            self.assertTrue(echoed.startswith(b"POST /echo HTTP/1.0\r\n"))
            self.assertTrue(echoed.endswith(b"\r\n\r\n" + b"x" * 12))
            conn.close()
            conn = http.client.HTTPConnection("127.0.0.1", firewall.port, timeout=30)
            conn.request("GET", f"http://127.0.0.1:{origin.port}/status/304")
            self.assertEqual(conn.getresponse().status, 304)
            conn.close()
            context = ssl.create_default_context(cafile=tls.cert_path)
            conn = http.client.HTTPSConnection("127.0.0.1", firewall.port, timeout=30,
                                               context=context)
            conn.set_tunnel("localhost", tls.port)
            conn.request("GET", "/bytes/5000")
            self.assertEqual(conn.getresponse().read(), pattern(5000))
            conn.close()


PAGE = b"""<!doctype html><html><head><title>through the firewall</title>
<link rel="stylesheet" href="/style.css"><script src="/app.js"></script></head>
<body><img src="/dot.svg" id="dot"><p id="out">script did not run</p>
<script>document.getElementById('out').textContent = 'script ran: ' + ran;</script></body></html>
"""
RESOURCES = {
    "/page": ("text/html", PAGE),
    "/style.css": ("text/css", b"p { color: green; }"),
    "/app.js": ("application/javascript", b"var ran = 'yes';"),
    "/dot.svg": ("image/svg+xml",
                 b'<svg xmlns="http://www.w3.org/2000/svg" width="1" height="1"></svg>'),
}


class PageOrigin(OriginServer):
    """The origin with a page and its sub-resources."""

    def _answer(self, conn, request):
        if request.target not in RESOURCES:
            return super()._answer(conn, request)
        kind, body = RESOURCES[request.target]
        conn.sendall(response_head("HTTP/1.1 200 OK", [f"Content-Type: {kind}",
                                                       f"Content-Length: {len(body)}"]) + body)
        return True


class ChromiumTest(unittest.TestCase):
    @unittest.skipUnless(shutil.which("chromium"), "chromium is not installed")
    def test_page_with_sub_resources(self):
        profile = tempfile.mkdtemp(prefix="chromium-profile-")
        try:
            with PageOrigin() as origin, Firewall(PORTAL) as firewall:
                result = subprocess.run(
                    ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     f"--user-data-dir={profile}",
                     f"--proxy-server=http://127.0.0.1:{firewall.port}",
                     "--proxy-bypass-list=<-loopback>", "--dump-dom",
                     f"http://127.0.0.1:{origin.port}/page"],
                    capture_output=True, timeout=120)
                self.assertIn(b"script ran: yes", result.stdout, result.stderr[-2000:])
                seen = {request.target: request.version for request in origin.requests}
                for path in RESOURCES:
                    # HTTP/1.0 on the origin's side: each came through the relay.
                    self.assertEqual(seen.get(path), "HTTP/1.0", (path, seen))
        finally:
            shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    FIREWALL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
