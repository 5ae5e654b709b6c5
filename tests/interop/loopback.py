"""The common part of the test servers in this folder: a listener on 127.0.0.1 that gives
each accepted connection a thread of its own, and the command-line loop that prints
"PORT <n>" and serves until SIGTERM or SIGINT.

A server derives from LoopbackServer and implements handle(conn, number): serve one
accepted connection (number counts from 1); the base closes it afterwards.

Run from another program, start the interpreter itself (/usr/bin/python3, or CMake's
Python3_EXECUTABLE), not a wrapper script that runs it as a child process, so that the
stopping signal reaches the server.
"""

import signal
import socket
import threading


class LoopbackServer:
    def __init__(self, port=0, address="127.0.0.1"):
        self.connections = 0
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        self._open = set()
        self._listener = socket.create_server((address, port), backlog=128)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._accept_loop, daemon=True)

    def handle(self, conn, number):
        raise NotImplementedError

    def start(self):
        self._thread.start()
        return self

    def stop(self):
        """Stops accepting and ends every open connection; returns within seconds."""
        self.stopping.set()
        # shutdown wakes the accept that close alone would leave blocked.
        try:
            self._listener.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self._listener.close()
        with self.lock:
            for conn in list(self._open):
                try:
                    conn.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
        self._thread.join(timeout=5)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def _accept_loop(self):
        while not self.stopping.is_set():
            try:
                conn, _ = self._listener.accept()
            except OSError:
                return
            with self.lock:
                self.connections += 1
                number = self.connections
                self._open.add(conn)
            threading.Thread(target=self._serve, args=(conn, number), daemon=True).start()

    def _serve(self, conn, number):
        try:
            self.handle(conn, number)
        except OSError:
            pass
        finally:
            with self.lock:
                self._open.discard(conn)
            conn.close()


def serve_until_stopped(server, extra_lines=()):
    """Starts the server, prints "PORT <n>" and extra_lines, and serves until a signal."""
    server.start()
    print(f"PORT {server.port}", flush=True)
    for line in extra_lines:
        print(line, flush=True)
    done = threading.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        signal.signal(sig, lambda *_: done.set())
    done.wait()
    server.stop()
