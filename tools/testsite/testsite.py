#!/usr/bin/env python3
"""The Velmora test site: one small HTTP server that answers for the site's
hosts, its partners and a few foreign hosts, with pages that show the
firewall at work (portal pages, frames, the site's pop-ups, an off-site link,
advertising and foreign resources, a music stream).

    testsite.py [--bind 127.0.0.1] [--port 80] [--stream-port 9575] [--requests FILE]
                [--plain-home] [--tls-cert PEM --tls-key KEY [--tls-port 443]]

--plain-home serves a home page without foreign resources. With a certificate
(see make-authority) the same pages are also served over TLS, among them the
site's secure page https://www.velmora.com/secure.

Every request is appended to FILE (default: standard output) as one line
"METHOD host path version", so tests can tell which requests reached an
origin and how (the firewall relays as HTTP/1.0). A request for /stall is
never answered.
Names must resolve to the bind address (see the hosts file beside this one).
"""
import argparse
import html
import ssl
import struct
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

HOME = "http://www.velmora.co.kr"
POPUPS = [
    ("회원 정보", "http://pims.velmora.com/pims/main/pims_main.asp?tab=1"),
    ("미니홈", "http://home.velmora.com/?owner=velmo"),
    ("클럽", "http://club.velmora.com/club/main/club_main.asp?club=7"),
]

STYLE = """
body { font-family: 'NanumGothic', sans-serif; margin: 0; background: #f4f6fb; color: #223; }
header { background: #3b5bdb; color: white; padding: 14px 22px; font-size: 22px; }
main { padding: 16px 22px; }
section { background: white; border-radius: 8px; padding: 12px 16px; margin-bottom: 12px;
          box-shadow: 0 1px 3px rgba(0,0,0,.12); }
h2 { font-size: 16px; margin: 0 0 8px 0; color: #3b5bdb; }
a, button { margin-right: 12px; }
img { vertical-align: middle; margin-right: 8px; }
iframe { border: 1px solid #ccd; width: 45%; height: 120px; margin-right: 8px; }
"""


def silent_wav(seconds=2, rate=8000):
    """A short, valid, silent sound: what a music stream answers here."""
    samples = seconds * rate
    return (b"RIFF" + struct.pack("<I", 36 + samples) + b"WAVEfmt " +
            struct.pack("<IHHIIHH", 16, 1, 1, rate, rate, 1, 8) +
            b"data" + struct.pack("<I", samples) + b"\x80" * samples)


def page(title, body):
    return f"""<!DOCTYPE html>
<html lang="ko"><head><meta charset="utf-8"><title>{html.escape(title)}</title>
<style>{STYLE}</style></head>
<body><header>{html.escape(title)}</header><main>{body}</main></body></html>"""


def svg(label, colour, width=120, height=40):
    return f"""<svg xmlns="http://www.w3.org/2000/svg" width="{width}" height="{height}">
<rect width="100%" height="100%" rx="6" fill="{colour}"/>
<text x="50%" y="60%" text-anchor="middle" font-family="sans-serif" font-size="13"
 fill="white">{html.escape(label)}</text></svg>"""


# "?auto=ACTION" makes a page act as if its visitor had clicked, so that
# tests can drive the page without knowing where things are drawn.
AUTO_ACTIONS = {
    "offsite": "document.getElementById('offsite').click();",
    "popup1": f"window.open('{POPUPS[0][1]}');",
    "popup2": f"window.open('{POPUPS[1][1]}');",
    "popup3": f"window.open('{POPUPS[2][1]}');",
    "frame-offsite": "document.getElementById('frame-offsite').click();",
    # The engine plays sound only at a visitor's gesture: once the title says
    # the page is ready, a click anywhere on it starts the music player.
    "play": "const a = document.querySelector('audio'); document.title = '벨모라 - 음악'; "
            "a.addEventListener('playing', () => { document.title = '벨모라 - 음악 (재생 중)'; }); "
            "document.addEventListener('click', () => a.play().catch(e => { "
            "document.title = '벨모라 - 음악 (' + e.name + ')'; }), { once: true });",
    "portal": "document.querySelector('a[href=\"http://news.velmora.com/\"]').click();",
}


FOREIGN_RESOURCES = """<img src="http://tracker.foreign.example/pixel.svg" alt="">
  <script src="http://ads.foreign.example/ads.js"></script>"""


def auto_script(query):
    action = dict(p.split("=", 1) for p in query.split("&") if "=" in p).get("auto")
    script = AUTO_ACTIONS.get(action)
    return f"<script>window.addEventListener('load', () => {{ {script} }});</script>" if script else ""


def home_page(query="", plain=False):
    popups = "".join(
        f'<button onclick="window.open(\'{url}\', \'_blank\', \'width=500,height=400\')">{name}</button>'
        for name, url in POPUPS)
    return page("벨모라 - 홈", f"""
<section><h2>오늘의 벨모라</h2>
  <img src="http://img.velmora.com/logo.svg" alt="logo">
  <img src="http://ad.adverra.co.kr/banner.svg" alt="partner ad">
{"" if plain else FOREIGN_RESOURCES}
</section>
<section><h2>포털</h2>
  <a href="http://news.velmora.com/">뉴스</a>
  <a href="http://www.velmora.com/main">메인</a>
  <a href="http://www.velmora.com/frames.html">프레임</a>
</section>
<section><h2>팝업</h2>{popups}</section>
<section><h2>음악</h2>
  <audio controls preload="auto" src="http://stream.foreign.example:9575/_music128?song=1"></audio>
</section>
<section><h2>바깥 세상</h2>
  <a id="offsite" href="http://www.foreign.example/">다른 사이트로 가기</a>
</section>{HOME_TAIL}{auto_script(query)}""")


def portal_page(title):
    return page(title, """
<section><h2>포털 페이지</h2>
  <p>포털 페이지에서는 모든 요청이 허용됩니다.</p>
  <img src="http://ads.foreign.example/banner.svg" alt="portal ad">
  <img src="http://img.velmora.com/logo.svg" alt="logo">
  <a href="http://www.velmora.co.kr/">홈으로</a>
</section>""")


def frames_page(query=""):
    inner = "http://www.velmora.com/frame-inner.html" + ("?auto=frame-offsite" if "auto=frame-offsite" in query else "")
    return page("벨모라 - 프레임", f"""
<section><h2>프레임</h2>
  <iframe name="inner" src="{inner}"></iframe>
  <iframe src="http://www.foreign.example/framed.html"></iframe>
</section>""")


def frame_inner(query=""):
    return page("안쪽 프레임", f"""
<p>프레임 안의 페이지</p>
<a id="frame-offsite" href="http://www.foreign.example/" target="_self">프레임에서 바깥으로</a>
{auto_script(query)}""")


def ticker_page():
    # A site page whose script asks a foreign host for something every 100 ms,
    # as a tracking beacon does: each request is one refusal in the log.
    return page("벨모라 - 시세", """
<section><h2>시세</h2><p id="ticks">0</p>
<script>
  let ticks = 0;
  setInterval(() => {
    new Image().src = "http://tracker.foreign.example/tick.svg?n=" + (++ticks);
    document.getElementById("ticks").textContent = ticks;
  }, 100);
</script></section>""")


def popup_page(name):
    return page(f"벨모라 - {name}", f"""
<section><h2>{html.escape(name)}</h2><p>사이트의 팝업이 주 창에 열렸습니다.</p>
<a href="{HOME}">홈으로</a></section>""")


# The secure page: served over TLS only, with the site's images and one
# foreign resource that the firewall refuses at its tunnel. Its title counts
# the images that arrived, so that a reader of the window sees them.
def secure_page():
    return page("벨모라 - 보안", """
<section><h2>보안 연결</h2>
  <img src="https://img.velmora.com/logo.svg" alt="logo">
  <img src="https://www.velmora.com/badge.svg" alt="badge">
  <img src="https://tracker.foreign.example/pixel.svg" alt="">
</section>
<script>window.addEventListener('load', () => {
  const shown = [...document.images].filter(i => i.naturalWidth > 0).length;
  document.title += ' (그림 ' + shown + '개)';
});</script>""")


def foreign_page():
    return page("Foreign site", "<p>This page must never reach the browser.</p>")


# Everyday browsing: a page with a fragment link and a file to download, a
# long page with a word at its very end (its title tells when that end comes
# into view), a page that changes its fragment every 3 seconds, one whose
# title follows the colour scheme the page is shown in, and one that counts
# the Escape keys it gets (D puts the count in its title, S sends it to a page
# that never comes, P prints it).
# (down.velmora.com resolves to an address where nothing listens until a test
# starts a second site there.)
SAMPLE_FILE = bytes(range(256)) * 640


def browsing_route(host, bare):
    if host != "www.velmora.com":
        return None
    if bare == "/browsing.html":
        filler = "".join(f"<p>{i}번째 문단</p>" for i in range(1, 60))
        return "text/html", page("벨모라 - 둘러보기", f"""
<section><h2>둘러보기</h2>
  <a id="leave" href="http://www.foreign.example/">다른 사이트로 가기</a>
  <a id="to-part" href="#part">아래로</a>
  <a id="sample" href="/files/velmora-sample.bin">예제 파일 내려받기</a>
</section>
<section>{filler}</section>
<section id="part"><h2>아래쪽</h2><p>여기까지 왔습니다.</p></section>""").encode()
    if bare == "/files/velmora-sample.bin":
        return "application/octet-stream", SAMPLE_FILE
    if bare == "/long.html":
        filler = "".join(f"<p>{i}번째 문단입니다.</p>" for i in range(1, 300))
        return "text/html", page("벨모라 - 긴 글", f"""
<section>{filler}</section>
<section><p id="far">마지막 낱말은 zephyrine 입니다.</p></section>
<script>addEventListener('scroll', () => {{
  const box = document.getElementById('far').getBoundingClientRect();
  if (box.top >= 0 && box.bottom <= innerHeight) document.title = '벨모라 - 긴 글 끝';
}});</script>""").encode()
    if bare == "/fragments.html":
        return "text/html", page("벨모라 - 조각", """
<section><p>이 쪽은 3초마다 주소의 조각을 바꿉니다.</p></section>
<script>let n = 0;
setInterval(() => { n += 1; location.hash = 'n' + n; document.title = '벨모라 - 조각 ' + n; }, 3000);
</script>""").encode()
    if bare == "/scheme.html":
        return "text/html", page("벨모라 - 색", """
<script>const dark = matchMedia('(prefers-color-scheme: dark)');
const show = () => { document.title = dark.matches ? '벨모라 - 어두운 색' : '벨모라 - 밝은 색'; };
dark.addEventListener('change', show); show();</script>""").encode()
    if bare == "/keys.html":
        return "text/html", page("벨모라 - 키", """
<script>let n = 0;
addEventListener('keydown', e => {
  if (e.key === 'Escape') n += 1;
  if (e.key === 'd') document.title = '벨모라 - Escape ' + n;
  if (e.key === 's') location.href = '/stall';
  if (e.key === 'p') print();
});</script>""").encode()
    return None


class Handler(BaseHTTPRequestHandler):
    server_version = "VelmoraTestSite/1.0"
    protocol_version = "HTTP/1.0"
    requests_log = sys.stdout
    plain_home = False
    log_lock = threading.Lock()

    @property
    def secure(self):
        return isinstance(self.connection, ssl.SSLSocket)

    def setup(self):
        super().setup()
        if self.secure:
            self.connection.do_handshake()

    def log_message(self, format, *args):
        pass

    def record(self):
        host = self.headers.get("Host", "")
        with self.log_lock:
            self.requests_log.write(f"{self.command} {host} {self.path} {self.request_version}\n")
            self.requests_log.flush()

    def route(self):
        host = self.headers.get("Host", "").split(":")[0].lower()
        path = self.path
        if path.startswith("http://"):
            path = "/" + path.split("/", 3)[3] if path.count("/") >= 3 else "/"
        bare, _, query = path.partition("?")
        if bare == "/_music128":
            return "audio/wav", silent_wav()
        if bare.endswith(".svg"):
            colour = "#3b5bdb" if "velmora" in host else "#e8590c"
            return "image/svg+xml", svg(host, colour).encode()
        if bare.endswith(".js"):
            return "application/javascript", b"document.title += ' (foreign script ran)';"
        browsing = (browsing_route(host, bare) or bars_route(host, bare) or
                    channels_route(host, bare, query))
        if browsing:
            return browsing
        if host in ("www.velmora.co.kr", "velmora.co.kr") and bare == "/":
            return "text/html", home_page(query, self.plain_home).encode()
        if host == "www.velmora.com" and bare == "/secure" and self.secure:
            return "text/html", secure_page().encode()
        if host == "www.velmora.com" and bare in ("/main", "/main2"):
            return "text/html", portal_page("벨모라 메인").encode()
        if host == "news.velmora.com":
            return "text/html", portal_page("벨모라 뉴스").encode()
        if host == "www.velmora.com" and bare == "/frames.html":
            return "text/html", frames_page(query).encode()
        if host == "www.velmora.com" and bare == "/ticker.html":
            return "text/html", ticker_page().encode()
        if host == "www.velmora.com" and bare == "/frame-inner.html":
            return "text/html", frame_inner(query).encode()
        if host == "pims.velmora.com":
            return "text/html", popup_page("회원 정보").encode()
        if host == "home.velmora.com":
            return "text/html", popup_page("미니홈").encode()
        if host == "club.velmora.com":
            return "text/html", popup_page("클럽").encode()
        if host.endswith(".velmora.com") or host in ("velmora.com", "www.lumenet.com"):
            return "text/html", page(f"벨모라 {bare}", f"<p>{html.escape(host + bare)}</p>").encode()
        return "text/html", foreign_page().encode()

    def respond(self, with_body):
        self.record()
        if window_response(self) or profile_response(self):
            return
        if self.path.split("?")[0].endswith("/stall"):
            time.sleep(3600)
        content_type, body = self.route()
        self.send_response(200)
        self.send_header("Content-Type", content_type + ("; charset=utf-8" if content_type.startswith("text") else ""))
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if with_body:
            self.wfile.write(body)

    def do_GET(self):
        self.respond(True)

    def do_HEAD(self):
        self.respond(False)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0") or 0)
        self.rfile.read(length)
        self.respond(True)


# The window's own behaviour: a home page long enough to scroll, and a page
# address answered with no content (the page shown stays).
HOME_TAIL = """
<section style="height: 1600px"><h2>지난 소식</h2><p>아래로 스크롤하세요.</p></section>"""

AUTO_ACTIONS.update({
    # A portal page's answer without content, then a foreign request of the
    # page that stays shown.
    "nocontent-then-foreign":
        "location.href = 'http://news.velmora.com/nocontent';"
        " setTimeout(() => { new Image().src = 'http://tracker.foreign.example/late.svg'; }, 2000);",
})


def window_response(handler):
    """Answers the window's special addresses; False for any other."""
    if handler.path.split("?")[0].endswith("/nocontent"):
        handler.send_response(204)
        handler.end_headers()
        return True
    # A site address that sends the browser elsewhere.
    target = {"to-data": LEAKED_DATA, "to-foreign": "http://www.foreign.example/"}.get(
        handler.path.split("?")[0].rsplit("/", 1)[-1])
    if target:
        handler.send_response(302)
        handler.send_header("Location", target)
        handler.send_header("Content-Length", "0")
        handler.end_headers()
        return True
    return False


# What a browser remembers: a login whose answer sets a persistent cookie, a
# page that shows whether its visitor is logged in (from the cookie it
# received), and an image that may be kept for a year; every request for it
# is a line of the requests log.
LOGIN_COOKIE = "velmora_login"

AUTO_ACTIONS["login"] = "document.forms[0].submit();"


def logged_in_user(handler):
    for part in handler.headers.get("Cookie", "").split(";"):
        name, _, value = part.strip().partition("=")
        if name == LOGIN_COOKIE and value:
            return value
    return None


def account_page(user):
    state = f"로그인됨 ({html.escape(user)})" if user else "로그인 안 됨"
    return page(f"벨모라 - {state}", f"""
<section><h2>내 정보</h2><p>{state}</p>
  <img src="http://img.velmora.com/kept/logo.svg" alt="kept logo"></section>""")


def profile_response(handler):
    """Answers the profile's addresses; False for any other."""
    host = handler.headers.get("Host", "").split(":")[0].lower()
    bare, _, query = handler.path.split(host, 1)[-1].partition("?")
    headers = {}
    if host == "www.velmora.com" and bare == "/login" and handler.command == "POST":
        handler.send_response(303)
        handler.send_header("Location", "http://www.velmora.com/account")
        handler.send_header("Set-Cookie", f"{LOGIN_COOKIE}=velmo; Max-Age=31536000; Path=/")
        handler.send_header("Content-Length", "0")
        handler.end_headers()
        return True
    if host == "www.velmora.com" and bare == "/login":
        body = page("벨모라 - 로그인", f"""
<section><h2>로그인</h2><form method="post" action="/login">
  <input name="user" value="velmo"><button>로그인</button></form></section>
{auto_script(query)}""")
        content_type = "text/html"
    elif host == "www.velmora.com" and bare == "/account":
        body = account_page(logged_in_user(handler))
        content_type = "text/html"
        headers["Cache-Control"] = "no-store"
    elif host == "img.velmora.com" and bare == "/kept/logo.svg":
        body = svg("kept", "#2b8a3e")
        content_type = "image/svg+xml"
        headers["Cache-Control"] = "public, max-age=31536000"
    else:
        return False
    data = body.encode()
    handler.send_response(200)
    handler.send_header("Content-Type", content_type + "; charset=utf-8")
    handler.send_header("Content-Length", str(len(data)))
    for name, value in headers.items():
        handler.send_header(name, value)
    handler.end_headers()
    if handler.command != "HEAD":
        handler.wfile.write(data)
    return True


# The message bar: a site page (secure, as the engine asks for notifications
# only there) that asks to send them at its visitor's click and shows one when
# allowed, with a partner's frame that asks too. The title tells the answers;
# the page's upper half is the page's button, its lower half the frame's.
def bars_route(host, bare):
    if host == "www.velmora.com" and bare == "/notify.html":
        return "text/html", page("벨모라 - 알림", """
<section><h2>알림</h2>
  <button id="ask" style="position: fixed; left: 0; top: 0; width: 100%; height: 50%">알림 받기</button>
  <iframe src="https://www.lumenet.com/notify-frame.html"
          style="position: fixed; left: 0; top: 50%; width: 100%; height: 50%; border: 0"></iframe>
</section>
<script>
  const say = (t) => { document.title = '벨모라 - 알림 (' + t + ')'; };
  say(Notification.permission);
  document.getElementById('ask').addEventListener('click', () => {
    Notification.requestPermission().then((p) => {
      say(p);
      if (p === 'granted')
        new Notification('벨모라', {body: '새 쪽지가 도착했습니다.'}).onclick = () => say('눌림');
    });
  });
  window.addEventListener('message', (e) => say('프레임 ' + e.data));
</script>""").encode()
    if host == "www.lumenet.com" and bare == "/notify-frame.html":
        return "text/html", page("루메넷", """
<button id="ask" style="position: fixed; left: 0; top: 0; width: 100%; height: 100%">프레임 알림</button>
<script>
  document.getElementById('ask').addEventListener('click', () =>
    Notification.requestPermission().then((p) => parent.postMessage(p, '*')));
</script>""").encode()
# Every way a page has around the firewall. A page of the site tries one
# channel (channels.html?try=NAME) as soon as it has loaded; its title then
# says what the page saw. A local service listens on LOCAL_PORT of this
# machine, and any page that must not be shown has "velmora.co" in its title
# (so that a loose check of the address would let it through) and "샌 페이지".
LOCAL_PORT = 8765
LEAKED_DATA = "data:text/html;charset=utf-8," + urllib.parse.quote("<title>velmora.co 샌 페이지</title>")
CHANNEL_TRIES = {
    "images": f"""for (const host of ['127.0.0.1', 'localhost', '[::1]'])
        new Image().src = `http://${{host}}:{LOCAL_PORT}/img`;
      said('끝');""",
    "scripts": f"""const xhr = new XMLHttpRequest();
      xhr.open('GET', 'http://localhost:{LOCAL_PORT}/xhr'); xhr.send();
      const socket = new WebSocket('ws://[::1]:{LOCAL_PORT}/socket');
      fetch('http://127.0.0.1:{LOCAL_PORT}/fetch').catch(() => said('끝'));""",
    "peer": f"""if (typeof RTCPeerConnection === 'undefined') {{ said('없음'); }} else {{
        const peer = new RTCPeerConnection({{iceServers: [{{urls: 'stun:127.0.0.1:{LOCAL_PORT}'}}]}});
        peer.createDataChannel('c');
        peer.createOffer().then(o => peer.setLocalDescription(o))
          .then(() => setTimeout(() => said('있음'), 3000), e => said(e.name));
      }}""",
    "capture": """const media = navigator.mediaDevices;
      if (!media || !media.getUserMedia) { said('없음'); } else {
        media.getUserMedia({audio: true, video: true}).then(() => said('있음'), e => said(e.name));
      }""",
    "data-link": f"go('{LEAKED_DATA}');",
    "data-script": f"location.href = '{LEAKED_DATA}';",
    "blob-link": "go(leakedBlob());",
    "blob-script": "location.href = leakedBlob();",
    "file-link": "go('file://' + file);",
    # A file address that names a site pop-up is opened in the main window.
    "file-window": "window.open('file://' + file + '?http://home.velmora.com/?');",
    "redirect": "go('/to-data');",
}


def channels_page(query):
    params = dict(p.split("=", 1) for p in query.split("&") if "=" in p)
    name = params.get("try", "")
    attempt = CHANNEL_TRIES.get(name, "")
    return page(f"벨모라 - 채널 {name}", f"""
<section><h2>채널</h2><a id="go" href="#">가기</a></section>
<script>
  const file = decodeURIComponent('{params.get("file", "")}');
  const said = (what) => {{ document.title = '벨모라 - 채널 {name}: ' + what; }};
  const go = (url) => {{ const a = document.getElementById('go'); a.href = url; a.click(); }};
  const leakedBlob = () => URL.createObjectURL(
      new Blob(['<title>velmora.co 샌 페이지</title>'], {{type: 'text/html;charset=utf-8'}}));
  window.addEventListener('load', () => {{ {attempt} }});
</script>""")


# A page that keeps asking its site for something while the window closes:
# one request held open by the site, then, each time one fails, the next.
HOLD_PAGE = page("벨모라 - 붙잡기", """
<section><h2>붙잡기</h2></section>
<script>
  let n = 0;
  const again = () => fetch('/after-close?n=' + (++n)).catch(() => setTimeout(again, 5));
  fetch('/stall').catch(again);
</script>""")

# Text and addresses dropped onto a page of the site: a field (at a fixed
# place, 400 x 80 pixels at 20, 100) shows the text dropped into it in the
# title.
DROP_PAGE = page("벨모라 - 놓기", """
<section><h2>놓기</h2>
<input id="field" placeholder="여기에 놓기"
 style="position: fixed; left: 20px; top: 100px; width: 400px; height: 80px; font-size: 20px">
</section>
<script>
  const field = document.getElementById('field');
  field.addEventListener('input', () => { document.title = '벨모라 - 놓기: ' + field.value; });
</script>""")


def channels_route(host, bare, query):
    if host != "www.velmora.com":
        return None
    if bare == "/channels.html":
        return "text/html", channels_page(query).encode()
    if bare == "/hold.html":
        return "text/html", HOLD_PAGE.encode()
    if bare == "/drop.html":
        return "text/html", DROP_PAGE.encode()
    return None


class TLSServer(ThreadingHTTPServer):
    """The same pages over TLS; each handshake runs on its request's thread,
    so a client that stalls in it holds up nobody else."""

    def __init__(self, address, handler, context):
        super().__init__(address, handler)
        self.context = context

    def get_request(self):
        connection, address = super().get_request()
        return self.context.wrap_socket(connection, server_side=True,
                                        do_handshake_on_connect=False), address


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bind", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=80)
    parser.add_argument("--stream-port", type=int, default=9575)
    parser.add_argument("--requests", help="file to append request lines to")
    parser.add_argument("--plain-home", action="store_true")
    parser.add_argument("--tls-port", type=int, default=443)
    parser.add_argument("--tls-cert", help="certificate chain for the TLS server (PEM)")
    parser.add_argument("--tls-key", help="its private key (PEM)")
    args = parser.parse_args()
    Handler.plain_home = args.plain_home
    if args.requests:
        Handler.requests_log = open(args.requests, "a", buffering=1)
    servers = [ThreadingHTTPServer((args.bind, port), Handler) for port in (args.port, args.stream_port)]
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)
        servers.append(TLSServer((args.bind, args.tls_port), Handler, context))
    for server in servers[1:]:
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print(f"testsite: serving on {args.bind}:{args.port} and :{args.stream_port}", file=sys.stderr, flush=True)
    try:
        servers[0].serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
