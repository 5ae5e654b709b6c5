#!/usr/bin/env python3
"""A TCP echo server on loopback: every byte received is sent back, until the peer closes.

A target for CONNECT tunnels. It also reports what it saw, so that a test can tell that a
refused tunnel never reached it and that no bytes went missing at a tunnel's end.

From Python:
    with EchoServer() as echo:
        echo.port
        echo.connections    # connections accepted so far
        echo.received       # total bytes received
    EchoServer(greeting=b"hello\\r\\n") speaks first: it sends the greeting on accept.

From any other test:
    python3 tests/interop/echo_server.py [--port P] [--greeting TEXT]
prints "PORT <n>" on a line of its own and serves until SIGTERM or SIGINT.
"""

import argparse
import socket

from loopback import LoopbackServer, serve_until_stopped


class EchoServer(LoopbackServer):
    def __init__(self, port=0, greeting=b""):
        super().__init__(port)
        self.received = 0
        self._greeting = greeting

    def handle(self, conn, number):
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        if self._greeting:
            conn.sendall(self._greeting)
        while True:
            data = conn.recv(65536)
            if not data:
                return
            with self.lock:
                self.received += len(data)
            conn.sendall(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--greeting", default="")
    args = parser.parse_args()
    serve_until_stopped(EchoServer(args.port, args.greeting.encode("latin-1")))


if __name__ == "__main__":
    main()
