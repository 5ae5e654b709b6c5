#!/usr/bin/env python3
"""The firewall (tools/firewall-server) against real clients and real local origin servers:
curl as a proxy client and through a CONNECT tunnel to a TLS origin, Python's http.client,
headless Chromium loading a page with sub-resources through the proxy, and nginx taking a
chunked upload.

The firewall refuses this machine's own addresses, so the script runs itself in a private
mount and network namespace where the origins' names resolve to loopback (private_names.py).

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
import private_names  # noqa: E402
from origin import OriginServer, pattern, response_head  # noqa: E402
from tls_origin import TlsOriginServer  # noqa: E402

FIREWALL = None
PORTAL = "http://www.velmora.com/main"
ORIGIN = "origin.interop.example"
TLS_ORIGIN = "tls.interop.example"
SITE_ADDRESS = "198.18.230.5"
NAMES = {name: "127.0.0.1" for name in (
    ORIGIN, TLS_ORIGIN, "www.velmora.com", "www.velmora.co.kr", "www.lumenet.com",
    "ads.adverra.co.kr", "stream.example", "cdn.example", "evil.example", "www.foreign.example")}


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
            host = f"{ORIGIN}:{origin.port}"
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
                              f"https://{TLS_ORIGIN}:{origin.port}/bytes/200000",
                              proxy_port=firewall.port)
            self.assertEqual((code, body), (0, pattern(200000)))
            # The tunnel request's own header lines never reach the origin.
            self.assertEqual(origin.requests[0].raw.split(b"\r\n")[0],
                             b"GET /bytes/200000 HTTP/1.1")

    def test_refused_request_gets_nothing_and_is_logged_and_counted(self):
        with OriginServer() as origin, Firewall() as firewall:
            code, body = curl(f"http://www.foreign.example:{origin.port}/bytes/10?q=1",
                              proxy_port=firewall.port)
            self.assertEqual((code, body), (52, b""))  # empty reply from server
            self.assertTrue(firewall.wait_for_line(lambda line: line == "count: 1"))
            self.assertEqual(origin.connections, 0)
            self.assertEqual(firewall.stop(), 0)
            log = [line for line in firewall.lines if "차단됨" in line]
            self.assertEqual(len(log), 1)
            self.assertRegex(log[0], r"^\[\d{4}.\d\d.\d\d \d\d.\d\d.\d\d\] 차단됨: http://www\.foreign\.example:"
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
            conn.request("GET", f"http://{ORIGIN}:{origin.port}/bytes/70000")
            response = conn.getresponse()
            self.assertEqual((response.status, response.read()), (200, pattern(70000)))
            conn.close()
            conn = http.client.HTTPConnection("127.0.0.1", firewall.port, timeout=30)
            conn.request("POST", f"http://{ORIGIN}:{origin.port}/echo", body=b"x" * 12,
                         headers={"Content-Length": "12"})
            echoed = conn.getresponse().read()
            self.assertTrue(echoed.startswith(b"POST /echo HTTP/1.0\r\n"))
            self.assertTrue(echoed.endswith(b"\r\n\r\n" + b"x" * 12))
            conn.close()
            conn = http.client.HTTPConnection("127.0.0.1", firewall.port, timeout=30)
            conn.request("GET", f"http://{ORIGIN}:{origin.port}/status/304")
            self.assertEqual(conn.getresponse().status, 304)
            conn.close()
            context = ssl.create_default_context(cafile=tls.cert_path)
            conn = http.client.HTTPSConnection("127.0.0.1", firewall.port, timeout=30,
                                               context=context)
            conn.set_tunnel(TLS_ORIGIN, tls.port)
            conn.request("GET", "/bytes/5000")
            self.assertEqual(conn.getresponse().read(), pattern(5000))
            conn.close()


def proxied_get(port, url, *headers):
    """curl GET through the proxy with extra headers; (exit code, body)."""
    extra = [arg for header in headers for arg in ("-H", header)]
    return curl(*extra, url, proxy_port=port)


class SiteRequestsTest(unittest.TestCase):
    """What the site needs is relayed as it always was, outside portal pages too."""

    def test_site_partners_address_block_music_and_flash_are_relayed(self):
        with OriginServer(port=80) as web, OriginServer(port=80, address=SITE_ADDRESS) as block, \
                OriginServer(port=9575) as music, Firewall() as firewall:
            for url in ("http://www.velmora.com/bytes/10", "http://www.velmora.co.kr/bytes/11",
                        "http://www.lumenet.com/bytes/12", "http://ads.adverra.co.kr/bytes/13"):
                self.assertEqual(proxied_get(firewall.port, url)[0], 0, url)
            for referer in ("http://www.velmora.com/player.swf",
                            "http://www.velmora.com/player.swf?v=3"):
                code, _ = proxied_get(firewall.port, "http://cdn.example/v/clip.mp4?key=1",
                                      f"Referer: {referer}")
                self.assertEqual(code, 0, referer)
            self.assertEqual(proxied_get(firewall.port, f"http://{SITE_ADDRESS}/bytes/14"),
                             (0, pattern(14)))
            self.assertEqual(
                proxied_get(firewall.port, "http://stream.example:9575/_music128?id=1")[0], 0)
            self.assertEqual([(r.method, r.target, r.version) for r in web.requests],
                             [("GET", f"/bytes/{n}", "HTTP/1.0") for n in (10, 11, 12, 13)]
                             + [("GET", "/v/clip.mp4?key=1", "HTTP/1.0")] * 2)
            self.assertEqual([r.target for r in block.requests], ["/bytes/14"])
            self.assertEqual([r.target for r in music.requests], ["/_music128?id=1"])
            self.assertEqual(firewall.stop(), 0)
            self.assertFalse([line for line in firewall.lines if "차단됨" in line])


class SealedFirewallTest(unittest.TestCase):
    """Shapes out of place, other target forms, this machine and look-alike addresses."""

    def test_fragments_out_of_place_are_refused(self):
        with OriginServer(port=80) as origin, Firewall() as firewall:
            for url, headers in (
                    ("http://evil.example/x?:9575/_music128?", ()),
                    ("http://evil.example/x?u=.mp4?key=1", ("Referer: http://a.example/p.swf",)),
                    ("http://evil.example/v.mp4?key=1", ("Referer: http://a.example/p?m=.swf",))):
                self.assertEqual(proxied_get(firewall.port, url, *headers), (52, b""), url)
            self.assertTrue(firewall.wait_for_line(lambda line: line == "count: 3"))
            self.assertEqual(origin.connections, 0)

    def test_pages_talking_to_the_port_and_local_targets_are_refused_on_portal_pages(self):
        with OriginServer(port=80) as origin, Firewall(PORTAL) as firewall:
            for request in (b"GET /http://evil.example/x HTTP/1.1\r\nHost: evil.example\r\n\r\n",
                            b"GET /x?u=http://evil.example/y HTTP/1.1\r\n\r\n",
                            b"GET http://127.0.0.1/ HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                            b"GET http://localhost/ HTTP/1.1\r\nHost: localhost\r\n\r\n",
                            b"CONNECT 127.0.0.1:80 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
                            b"GET http://evil.example\x00.velmora.com/ HTTP/1.1\r\n"
                            b"Host: evil.example\x00.velmora.com\r\n\r\n"):
                self.assertEqual(raw_exchange(firewall.port, request), b"", request)
            self.assertTrue(firewall.wait_for_line(lambda line: line == "count: 6"))
            self.assertEqual(origin.connections, 0)

    def test_address_contacted_is_the_decimal_address_judged(self):
        with OriginServer(port=80, address=SITE_ADDRESS) as block, Firewall() as firewall:
            # Raw: curl itself would rewrite the address before sending it.
            request = b"GET http://198.18.0230.05/bytes/5 HTTP/1.1\r\nHost: 198.18.0230.05\r\n\r\n"
            self.assertTrue(raw_exchange(firewall.port, request).endswith(b"\r\n\r\n01234"))
            self.assertEqual(block.connections, 1)
            self.assertEqual(proxied_get(firewall.port, "http://198.18.230/bytes/5"), (52, b""))

    def test_refused_tunnel_names_its_port(self):
        with Firewall() as firewall:
            request = b"CONNECT evil.example:443 HTTP/1.1\r\nHost: evil.example\r\n\r\n"
            self.assertEqual(raw_exchange(firewall.port, request), b"")
            self.assertTrue(firewall.wait_for_line(
                lambda line: line.endswith("차단됨: http://evil.example:443")))


class SilentNameServer:
    """Takes every query on 127.0.0.1:53 (UDP and TCP) and never answers."""

    def __init__(self):
        self.queries = 0
        self._udp = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self._udp.bind(("127.0.0.1", 53))
        self._tcp = socket.create_server(("127.0.0.1", 53))
        self._thread = threading.Thread(target=self._swallow, daemon=True)
        self._thread.start()

    def _swallow(self):
        held = []
        while True:
            try:
                self._udp.recv(4096)
            except OSError:
                return
            self.queries += 1
            held.append(self._udp)

    def close(self):
        self._udp.close()
        self._tcp.close()


class StalledLookupTest(unittest.TestCase):
    def test_firewall_ends_within_a_second_while_a_lookup_waits(self):
        private_names.use_name_server("127.0.0.1")
        dns = SilentNameServer()
        try:
            with Firewall() as firewall:
                conn = socket.create_connection(("127.0.0.1", firewall.port), timeout=20)
                conn.sendall(b"GET http://stalled.velmora.com/ HTTP/1.1\r\n"
                             b"Host: stalled.velmora.com\r\n\r\n")
                deadline = time.monotonic() + 10
                while dns.queries == 0 and time.monotonic() < deadline:
                    time.sleep(0.05)
                self.assertGreater(dns.queries, 0)
                start = time.monotonic()
                self.assertEqual(firewall.stop(), 0)
                self.assertLess(time.monotonic() - start,
                                3.0 if os.environ.get("ORVALIS_SANITIZE") else 1.0)
                conn.close()
        finally:
            dns.close()


NGINX_CONFIG = """daemon off;
pid {folder}/nginx.pid;
error_log {folder}/error.log;
events {{ }}
http {{
    access_log off;
    # Bodies stay in memory: the workers may not write to the test's folder.
    client_body_buffer_size 1m;
    client_body_temp_path {folder}/body;
    proxy_temp_path {folder}/proxy;
    fastcgi_temp_path {folder}/fastcgi;
    uwsgi_temp_path {folder}/uwsgi;
    scgi_temp_path {folder}/scgi;
    server {{
        listen 127.0.0.1:{port};
        location / {{ proxy_pass http://127.0.0.1:{echo_port}; }}
    }}
}}
"""


class NginxTest(unittest.TestCase):
    @unittest.skipUnless(shutil.which("nginx") or os.path.exists("/usr/sbin/nginx"),
                         "nginx is not installed")
    def test_chunked_upload_is_accepted(self):
        folder = tempfile.mkdtemp(prefix="interop-nginx-")
        port = free_port()
        with OriginServer() as echo:
            with open(os.path.join(folder, "nginx.conf"), "w") as f:
                f.write(NGINX_CONFIG.format(folder=folder, port=port, echo_port=echo.port))
            nginx = subprocess.Popen([shutil.which("nginx") or "/usr/sbin/nginx", "-c",
                                      os.path.join(folder, "nginx.conf"), "-p", folder],
                                     stderr=subprocess.DEVNULL)
            try:
                deadline = time.monotonic() + 20
                while True:
                    try:
                        socket.create_connection(("127.0.0.1", port), timeout=1).close()
                        break
                    except OSError:
                        self.assertLess(time.monotonic(), deadline, "nginx did not start")
                        time.sleep(0.05)
                upload = os.urandom(50000)
                with Firewall(PORTAL) as firewall:
                    result = subprocess.run(
                        ["curl", "-s", "--max-time", "60", "-x", f"http://127.0.0.1:{firewall.port}",
                         "-w", "\\n%{http_code}", "-H", "Expect:", "-H", "Transfer-Encoding: chunked",
                         "--data-binary", "@-", f"http://{ORIGIN}:{port}/echo"],
                        input=upload, capture_output=True, timeout=90)
                body, _, code = result.stdout.rpartition(b"\n")
                self.assertEqual(code, b"200")
                # nginx took the chunks apart and passed the upload on whole.
                self.assertTrue(body.endswith(b"\r\n\r\n" + upload))
            finally:
                nginx.terminate()
                nginx.wait(timeout=30)
                shutil.rmtree(folder, ignore_errors=True)


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
                     f"http://{ORIGIN}:{origin.port}/page"],
                    capture_output=True, timeout=120)
                self.assertIn(b"script ran: yes", result.stdout, result.stderr[-2000:])
                seen = {request.target: request.version for request in origin.requests}
                for path in RESOURCES:
                    # HTTP/1.0 on the origin's side: each came through the relay.
                    self.assertEqual(seen.get(path), "HTTP/1.0", (path, seen))
        finally:
            shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    private_names.enter()
    private_names.map_names(NAMES, extra_addresses=[SITE_ADDRESS])
    FIREWALL = os.path.abspath(sys.argv.pop(1))
    unittest.main()
