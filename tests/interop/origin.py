#!/usr/bin/env python3
"""A small HTTP origin server on loopback with faults on demand, for tests of the relay.

It reads each request (request line, header lines, a body of Content-Length bytes),
records the exact bytes it received, and answers by the path of the request target:

  /bytes/N        200 with Content-Length N and N body bytes (HEAD: the same headers, no body)
  /echo           200 whose body is the exact request bytes received (line, headers, body)
  /nolength/N     200 without Content-Length: N bytes, then the connection closes
  /short/N        Content-Length 2N, N bytes, then an orderly close (before the length)
  /reset/N        Content-Length 2N, N bytes, then a reset (RST) mid-body
  /hang           reads the request and never answers (until the server stops)
  /status/CODE    a bare response "HTTP/1.1 CODE Status" with Content-Length 0
  /dots           a header line that starts with ".." ("..X-Dots: 1") and an empty body
  anything else   404 with a short body

An HTTP/1.0 request (what the relay sends) gets its response and then an orderly close;
HTTP/1.1 keeps the connection for the next request unless it says "Connection: close".
Body bytes are a fixed pattern: byte i is b"0123456789abcdef"[i % 16]; see `pattern(n)`.

From Python:
    with OriginServer() as origin:
        ... connect to ("127.0.0.1", origin.port) ...
        origin.requests      # list of Request(method, target, headers, raw), in arrival order
        origin.connections   # number of connections accepted so far

From any other test (C++ or shell):
    python3 tests/interop/origin.py [--port P] [--log FILE]
prints "PORT <n>" on a line of its own once listening, then serves until SIGTERM or SIGINT. With --log every request is appended to FILE as one JSON line
{"connection": k, "method": ..., "target": ..., "headers": [...], "raw": "<latin-1 text>"}.
"""

import argparse
import json
import socket
import struct
from dataclasses import dataclass, field

from loopback import LoopbackServer, serve_until_stopped

PATTERN = b"0123456789abcdef"


def pattern(n):
    """The body of /bytes/N: n bytes of the repeating pattern."""
    whole, rest = divmod(n, len(PATTERN))
    return PATTERN * whole + PATTERN[:rest]


@dataclass
class Request:
    method: str
    target: str
    version: str = ""
    headers: list = field(default_factory=list)
    raw: bytes = b""

    def keeps_alive(self):
        """HTTP/1.1 keeps the connection unless it asks to close; HTTP/1.0 always closes."""
        closing = any(h.lower().replace(" ", "") == "connection:close" for h in self.headers)
        return self.version == "HTTP/1.1" and not closing


def read_chunks(conn, data):
    """Reads a body in chunks, framing and trailer included; returns it as received."""
    def more():
        chunk = conn.recv(65536)
        if not chunk:
            raise EOFError
        return chunk

    at = 0
    try:
        while True:
            while b"\r\n" not in data[at:]:
                data += more()
            line_end = data.index(b"\r\n", at)
            size = int(data[at:line_end].split(b";")[0], 16)
            at = line_end + 2
            if size == 0:
                while not data[at:].startswith(b"\r\n") and b"\r\n\r\n" not in data[at - 2:]:
                    data += more()
                end = at + 2 if data[at:].startswith(b"\r\n") else data.index(b"\r\n\r\n", at - 2) + 4
                return data[:end]
            while len(data) < at + size + 2:
                data += more()
            at += size + 2
    except (EOFError, ValueError):
        return data


def read_request(conn):
    """Returns a Request, or None when the peer closed before a whole header block."""
    data = b""
    while b"\r\n\r\n" not in data and b"\n\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None
        data += chunk
    cut = data.find(b"\r\n\r\n")
    head, body = (data[:cut], data[cut + 4:]) if cut >= 0 else data.split(b"\n\n", 1)
    lines = head.decode("latin-1").replace("\r\n", "\n").split("\n")
    parts = lines[0].split(" ")
    method, target = parts[0], parts[1] if len(parts) > 1 else ""
    version = parts[2] if len(parts) > 2 else ""
    headers = lines[1:]
    length = 0
    for line in headers:
        name, _, value = line.partition(":")
        if name.strip().lower() == "transfer-encoding" and value.strip().lower() == "chunked":
            body = read_chunks(conn, body)
            break
        if name.strip().lower() == "content-length" and value.strip().isdigit():
            length = int(value.strip())
            break
    while len(body) < length:
        chunk = conn.recv(65536)
        if not chunk:
            break
        body += chunk
    raw = head + (b"\r\n\r\n" if cut >= 0 else b"\n\n") + body
    return Request(method, target, version, headers, raw)


def response_head(status, headers):
    lines = [status] + headers + ["", ""]
    return "\r\n".join(lines).encode("latin-1")


def number_after(target, prefix):
    try:
        return int(target[len(prefix):])
    except ValueError:
        return 0


class OriginServer(LoopbackServer):
    def __init__(self, port=0, log_path=None, wrap=None, address="127.0.0.1"):
        """wrap: optional function applied to each accepted socket (the TLS origin's)."""
        super().__init__(port, address)
        self.requests = []
        self._wrap = wrap
        self._log = open(log_path, "a", encoding="utf-8") if log_path else None

    def stop(self):
        super().stop()
        if self._log:
            self._log.close()

    def _record(self, number, request):
        with self.lock:
            self.requests.append(request)
            if self._log:
                self._log.write(json.dumps({
                    "connection": number, "method": request.method, "target": request.target,
                    "headers": request.headers, "raw": request.raw.decode("latin-1")}) + "\n")
                self._log.flush()

    def handle(self, conn, number):
        if not self._wrap:
            self._exchange(conn, number)
            return
        with self._wrap(conn) as wrapped:
            self._exchange(wrapped, number)

    def _exchange(self, conn, number):
        while True:
            request = read_request(conn)
            if request is None:
                return
            self._record(number, request)
            if not self._answer(conn, request) or not request.keeps_alive():
                return

    def _answer(self, conn, request):
        """Sends the response; returns whether the connection may carry another request."""
        target = request.target
        if "://" in target:
            target = "/" + target.split("://", 1)[1].partition("/")[2]
        head_only = request.method.upper() == "HEAD"
        if target.startswith("/bytes/"):
            n = number_after(target, "/bytes/")
            conn.sendall(response_head("HTTP/1.1 200 OK", [f"Content-Length: {n}"]))
            if not head_only:
                conn.sendall(pattern(n))
            return True
        if target == "/echo":
            conn.sendall(response_head("HTTP/1.1 200 OK", [f"Content-Length: {len(request.raw)}"]))
            conn.sendall(request.raw)
            return True
        if target.startswith("/nolength/"):
            conn.sendall(response_head("HTTP/1.1 200 OK", ["Connection: close"]))
            conn.sendall(pattern(number_after(target, "/nolength/")))
            return False
        if target.startswith("/short/") or target.startswith("/reset/"):
            n = number_after(target, target[:7])
            conn.sendall(response_head("HTTP/1.1 200 OK", [f"Content-Length: {2 * n}"]))
            conn.sendall(pattern(n))
            if target.startswith("/reset/"):
                # Linger 0: close sends RST instead of FIN.
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            return False
        if target == "/hang":
            self.stopping.wait()
            return False
        if target.startswith("/status/"):
            code = number_after(target, "/status/")
            conn.sendall(response_head(f"HTTP/1.1 {code} Status", ["Content-Length: 0"]))
            return True
        if target == "/dots":
            conn.sendall(response_head("HTTP/1.1 200 OK", ["..X-Dots: 1", "Content-Length: 0"]))
            return True
        body = b"not found\n"
        conn.sendall(response_head("HTTP/1.1 404 Not Found", [f"Content-Length: {len(body)}"]))
        if not head_only:
            conn.sendall(body)
        return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log")
    args = parser.parse_args()
    serve_until_stopped(OriginServer(args.port, args.log))


if __name__ == "__main__":
    main()
