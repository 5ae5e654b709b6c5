#!/usr/bin/env python3
"""Test site and relays for the browser host's tests.

Starts one HTTP server serving the test pages and two forwarding proxies
("relay A" and "relay B") on free loopback ports, prints
"site=PORT relayA=PORT relayB=PORT" on one line, and appends one line per
request to the log file given as argument:
    site METHOD PATH|UA
    relayX METHOD TARGET|UA
A target containing "refused" is closed unanswered. Host names ending in ".test" are resolved to 127.0.0.1 by the relays, as a
hosts file would; everything else is forwarded faithfully (GET, POST, HEAD
with their headers and body, CONNECT as a tunnel). Runs until stdin closes.
"""
import http.server
import select
import socket
import socketserver
import sys
import threading

LOG_LOCK = threading.Lock()
LOG = None


def log(line):
    with LOG_LOCK:
        LOG.write(line.replace("\n", " ") + "\n")
        LOG.flush()


def page(title, body, head=""):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>%s</title>%s</head>"
            "<body style='margin:0'>%s</body></html>" % (title, head, body))


PAGES = {
    "/a.html": page("A", "<p>page a</p><a id='link' href='/b.html'>to b</a>"),
    "/b.html": page("B", "<p>page b</p>"),
    "/c.html": page("C", "<p>page c</p>"),
    "/untitled.html": "<html><body>no title</body></html>",
    "/frames.html": page("Frames", "<iframe id='f1' src='/frame1.html' width='300' height='200'"
                         " style='position:absolute;left:10px;top:20px;border:2px solid black'>"
                         "</iframe><iframe src='/frame3.html' width='100' height='100'"
                         " style='position:absolute;left:400px;top:20px'></iframe>"),
    "/frame1.html": page("F1", "<iframe src='/frame2.html' width='100' height='80'></iframe>"),
    "/frame2.html": page("F2", "<p>f2</p>"),
    "/frame3.html": page("F3", "<p>f3</p>"),
    "/cancel-frame.html": page("CancelFrame", "<iframe src='/blocked-frame.html'></iframe>"
                               "<iframe src='/ok-frame.html'></iframe>"),
    "/blocked-frame.html": page("Blocked", "<p>must never be requested</p>"),
    "/ok-frame.html": page("Ok", "<p>ok</p>"),
    "/popup.html": page("Popup", "<a id='blank' href='/b.html' target='_blank'>new</a>"
                        "<button id='open' onclick=\"window.open('/c.html', 'named')\">open</button>"),
    "/autopopup.html": page("Auto", "<p>opens a window by itself</p>",
                            "<script>window.onload = function () {"
                            " setTimeout(function () { window.open('/c.html?auto'); }, 1500); };"
                            "</script>"),
    "/dialogs.html": page("Dialogs", "<p>dialogs</p>", "<script>"
                          "function ask() { document.title = 'confirm:' + confirm('Go on?'); }"
                          "function tell() { alert('Hello \\uc548\\ub155'); document.title = 'alerted'; }"
                          "</script>"),
    "/keys.html": page("keys:", "<textarea id='t' style='width:600px;height:400px'></textarea>",
                       "<script>document.addEventListener('keydown', function (e) {"
                       " if (e.ctrlKey && e.key.length == 1)"
                       " document.title += '-' + (e.shiftKey ? 'S' : '') + e.key.toLowerCase(); });"
                       "window.onload = function () { document.getElementById('t').focus(); };"
                       "</script>"),
    "/tall.html": page("Tall", "<div style='height:5000px'>tall</div>"),
}


class Site(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def answer(self, send_body):
        log("site %s %s|%s" % (self.command, self.path, self.headers.get("User-Agent", "")))
        path = self.path.split("?")[0]
        body = PAGES.get(path)
        if body is None:
            self.send_response(404)
            body = page("Missing", "missing")
        else:
            self.send_response(200)
        data = body.encode("utf-8")
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        if send_body:
            self.wfile.write(data)

    def do_GET(self):
        self.answer(True)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.rfile.read(length)
        self.answer(True)

    def do_HEAD(self):
        self.answer(False)


def pump(a, b):
    """Copies both ways until both sides are done."""
    socks = [a, b]
    while socks:
        readable, _, _ = select.select(socks, [], [], 30)
        if not readable:
            return
        for s in readable:
            other = b if s is a else a
            data = s.recv(65536)
            if not data:
                socks.remove(s)
                try:
                    other.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
                continue
            other.sendall(data)


def resolve(host):
    return "127.0.0.1" if host.endswith(".test") or host == "localhost" else host


class Relay(socketserver.StreamRequestHandler):
    tag = "relay"

    def handle(self):
        line = self.rfile.readline(65537).decode("latin-1")
        parts = line.split()
        if len(parts) != 3:
            return
        method, target, version = parts
        headers = []
        ua = ""
        length = 0
        while True:
            h = self.rfile.readline(65537).decode("latin-1")
            if h in ("\r\n", "\n", ""):
                break
            name, _, value = h.partition(":")
            if name.strip().lower() == "user-agent":
                ua = value.strip()
            if name.strip().lower() == "content-length":
                length = int(value.strip() or "0")
            if name.strip().lower() in ("proxy-connection", "connection", "keep-alive"):
                continue
            headers.append(h)
        log("%s %s %s|%s" % (self.tag, method, target, ua))
        if "refused" in target:
            return  # closed unanswered, as a filtering proxy refuses
        if method == "CONNECT":
            host, _, port = target.rpartition(":")
            try:
                upstream = socket.create_connection((resolve(host), int(port)), timeout=30)
            except OSError:
                return
            self.wfile.write(b"HTTP/1.0 200 Connection established\r\n\r\n")
            self.wfile.flush()
            pump(self.connection, upstream)
            upstream.close()
            return
        if not target.startswith("http://"):
            self.wfile.write(b"HTTP/1.0 400 Bad Request\r\n\r\n")
            return
        rest = target[len("http://"):]
        hostport, slash, path = rest.partition("/")
        host, _, port = hostport.partition(":")
        body = self.rfile.read(length) if length else b""
        try:
            upstream = socket.create_connection((resolve(host), int(port or 80)), timeout=30)
        except OSError:
            return
        request = "%s /%s HTTP/1.0\r\n%sConnection: close\r\n\r\n" % (
            method, path, "".join(headers))
        upstream.sendall(request.encode("latin-1") + body)
        while True:
            data = upstream.recv(65536)
            if not data:
                break
            self.wfile.write(data)
        upstream.close()


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def start(handler):
    server = Server(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def main():
    global LOG
    LOG = open(sys.argv[1], "a", encoding="utf-8")
    site = start(Site)
    relays = [start(type("Relay" + t, (Relay,), {"tag": "relay" + t})) for t in "AB"]
    print("site=%d relayA=%d relayB=%d" % (site, relays[0], relays[1]), flush=True)
    sys.stdin.read()


if __name__ == "__main__":
    main()
