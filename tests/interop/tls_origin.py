#!/usr/bin/env python3
"""The origin server of origin.py behind TLS, with a self-signed certificate made at start.

The certificate (CN "localhost"; subjectAltName "localhost", "tls.interop.example" and
127.0.0.1; valid one day) and its key are generated with openssl into a fresh temporary
folder that is removed at stop. Clients
trust it by its file: curl --cacert PATH, or ssl.create_default_context(cafile=PATH).

From Python:
    with TlsOriginServer() as origin:
        origin.port, origin.cert_path, origin.requests, origin.connections

From any other test:
    python3 tests/interop/tls_origin.py [--port P] [--log FILE]
prints "PORT <n>" and then "CERT <path>", each on a line of its own, and serves the routes of
origin.py over TLS until SIGTERM or SIGINT.
"""

import argparse
import os
import shutil
import ssl
import subprocess
import tempfile

from loopback import serve_until_stopped
from origin import OriginServer


def make_certificate(folder):
    cert, key = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    subprocess.run(
        ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
         "-keyout", key, "-out", cert, "-subj", "/CN=localhost",
         "-addext", "subjectAltName=DNS:localhost,DNS:tls.interop.example,IP:127.0.0.1"],
        check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class TlsOriginServer(OriginServer):
    def __init__(self, port=0, log_path=None):
        self._folder = tempfile.mkdtemp(prefix="tls-origin-")
        self.cert_path, key_path = make_certificate(self._folder)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(self.cert_path, key_path)
        # The handshake runs on the connection's own thread, inside the wrap.
        super().__init__(port, log_path,
                         wrap=lambda conn: context.wrap_socket(conn, server_side=True))

    def stop(self):
        super().stop()
        shutil.rmtree(self._folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log")
    args = parser.parse_args()
    server = TlsOriginServer(args.port, args.log)
    serve_until_stopped(server, [f"CERT {server.cert_path}"])


if __name__ == "__main__":
    main()
