#!/usr/bin/env python3
"""Checks the test servers of this folder against plain clients (curl, sockets, http.client)."""

import http.client
import os
import socket
import ssl
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from echo_server import EchoServer  # noqa: E402
from origin import OriginServer, pattern  # noqa: E402
from tls_origin import TlsOriginServer  # noqa: E402


def exchange(port, request, timeout=5):
    """Sends request bytes and returns everything received until the server closes."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as conn:
        conn.sendall(request)
        data = b""
        while True:
            try:
                chunk = conn.recv(65536)
            except ConnectionResetError:
                return data, "reset"
            if not chunk:
                return data, "closed"
            data += chunk


class OriginTest(unittest.TestCase):
    def test_routes(self):
        with OriginServer() as origin:
            conn = http.client.HTTPConnection("127.0.0.1", origin.port, timeout=5)
            conn.request("GET", "/bytes/70000")
            self.assertEqual(conn.getresponse().read(), pattern(70000))
            conn.request("HEAD", "/bytes/5")
            response = conn.getresponse()
            self.assertEqual(response.getheader("Content-Length"), "5")
            self.assertEqual(response.read(), b"")
            conn.request("POST", "/echo", body=b"12 bytes....", headers={"X-A": "1"})
            echoed = conn.getresponse().read()
            self.assertTrue(echoed.startswith(b"POST /echo HTTP/1.1\r\n"))
            self.assertTrue(echoed.endswith(b"\r\n\r\n12 bytes...."))
            conn.close()

            self.assertEqual(exchange(origin.port, b"GET /nolength/10 HTTP/1.0\r\n\r\n")[0]
                             .split(b"\r\n\r\n", 1)[1], pattern(10))
            short, how = exchange(origin.port, b"GET /short/100 HTTP/1.0\r\n\r\n")
            self.assertIn(b"Content-Length: 200\r\n", short)
            self.assertEqual((len(short.split(b"\r\n\r\n", 1)[1]), how), (100, "closed"))
            _, how = exchange(origin.port, b"GET /reset/100000 HTTP/1.0\r\n\r\n")
            self.assertEqual(how, "reset")
            status, how = exchange(origin.port, b"GET /status/304 HTTP/1.0\r\n\r\n")
            self.assertEqual((status, how), (b"HTTP/1.1 304 Status\r\nContent-Length: 0\r\n\r\n",
                                             "closed"))
            dots, _ = exchange(origin.port, b"GET /dots HTTP/1.0\r\n\r\n")
            self.assertIn(b"\r\n..X-Dots: 1\r\n", dots)
            self.assertEqual(origin.connections, 6)
            self.assertEqual(origin.requests[0].target, "/bytes/70000")

    def test_hang_never_answers_and_stop_ends_it(self):
        origin = OriginServer().start()
        conn = socket.create_connection(("127.0.0.1", origin.port), timeout=0.5)
        conn.sendall(b"GET /hang HTTP/1.0\r\n\r\n")
        with self.assertRaises(socket.timeout):
            conn.recv(1)
        started = time.monotonic()
        origin.stop()
        self.assertLess(time.monotonic() - started, 5)
        conn.close()


class TlsAndEchoTest(unittest.TestCase):
    def test_tls_origin_with_curl(self):
        with TlsOriginServer() as origin:
            out = subprocess.run(
                ["curl", "-sS", "--cacert", origin.cert_path,
                 f"https://localhost:{origin.port}/bytes/1000"],
                capture_output=True, check=True, timeout=20).stdout
            self.assertEqual(out, pattern(1000))
            context = ssl.create_default_context(cafile=origin.cert_path)
            conn = http.client.HTTPSConnection("127.0.0.1", origin.port, context=context,
                                               timeout=5)
            conn.request("GET", "/bytes/3")
            self.assertEqual(conn.getresponse().read(), b"012")
            conn.close()
        self.assertFalse(os.path.exists(origin.cert_path))

    def test_echo(self):
        with EchoServer(greeting=b"hi\r\n") as echo:
            with socket.create_connection(("127.0.0.1", echo.port), timeout=5) as conn:
                self.assertEqual(conn.recv(4), b"hi\r\n")
                conn.sendall(b"x" * 20000)
                conn.shutdown(socket.SHUT_WR)
                data = b""
                while len(data) < 20000:
                    chunk = conn.recv(65536)
                    if not chunk:
                        break
                    data += chunk
            self.assertEqual(data, b"x" * 20000)
            self.assertEqual((echo.connections, echo.received), (1, 20000))


if __name__ == "__main__":
    unittest.main()
