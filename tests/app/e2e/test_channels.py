"""End-to-end tests of the ways a page has around the firewall: this
machine's services, peer connections and capture devices, pages from
addresses the filter never sees, closing time and dropped links and files.
A recording service listens on this machine (127.0.0.1 and ::1, TCP and UDP)
and must hear nothing. Run by CTest inside a private namespace:
    run-script test_channels.py PROGRAM
"""
import os
import re
import socket
import subprocess
import sys
import threading
import time
import urllib.parse

import harness
import test_app
from harness import wait_for
from test_app import CAPTION, REFUSED_NAVIGATION, STAMP, ProgramTest

PROGRAM = None
CHANNELS = "http://www.velmora.com/channels.html?try="
LOCAL_PORT = 8765
LEAKED = "샌 페이지"


class LocalService:
    """Records every connection and datagram that reaches LOCAL_PORT on this
    machine's addresses."""

    def __init__(self):
        self.heard = []
        for family, address in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
            for kind in (socket.SOCK_STREAM, socket.SOCK_DGRAM):
                s = socket.socket(family, kind)
                s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
                s.bind((address, LOCAL_PORT))
                if kind == socket.SOCK_STREAM:
                    s.listen(16)
                threading.Thread(target=self._serve, args=(s, kind), daemon=True).start()

    def _serve(self, s, kind):
        while True:
            try:
                if kind == socket.SOCK_STREAM:
                    connection, peer = s.accept()
                    connection.settimeout(1)
                    try:
                        self.heard.append(("tcp", peer, connection.recv(200)))
                    except OSError:
                        self.heard.append(("tcp", peer, b""))
                    connection.close()
                else:
                    data, peer = s.recvfrom(2048)
                    self.heard.append(("udp", peer, data[:200]))
            except OSError:
                return



class ChannelTest(ProgramTest):
    plain_home = True
    local = None  # one service for every run: it must never hear anything

    @classmethod
    def setUpClass(cls):
        if ChannelTest.local is None:
            ChannelTest.local = LocalService()
        test_app.PROGRAM = PROGRAM
        super().setUpClass()

    def guard_lines(self):
        return self.lines_ending(REFUSED_NAVIGATION)

    def leaked(self):
        return LEAKED in self.app.title() or "Foreign site" in self.app.title()

    def leaked_file(self):
        """A file whose page must never be shown."""
        path = os.path.join(self.workdir, "velmora.co.html")
        with open(path, "w") as f:
            f.write(f"<meta charset=\"utf-8\"><title>velmora.co {LEAKED}</title>")
        return path

    def try_channel(self, name, query=""):
        """Opens the page that tries the channel; it tries once loaded."""
        self.go(CHANNELS + name + query)
        wait_for(lambda: self.app.title().startswith(f"{CAPTION} - 벨모라 - 채널 {name}"),
                 what=f"the page trying {name}")

    def assert_refused_by_the_guard(self, start, title):
        """Starts a navigation: it adds one guard line, and the page with
        the title stays."""
        before = len(self.guard_lines())
        start()
        wait_for(lambda: len(self.guard_lines()) > before or self.leaked(),
                 what="the guard's line or the page")
        time.sleep(1)
        self.assertFalse(self.leaked(), self.app.title())
        self.assertEqual(len(self.guard_lines()), before + 1)
        self.assertRegex(self.guard_lines()[-1], "^" + STAMP + re.escape(REFUSED_NAVIGATION))
        self.assertEqual(self.app.title(), f"{CAPTION} - {title}")

    def assert_channel_refused(self, name, query=""):
        self.assert_refused_by_the_guard(lambda: self.try_channel(name, query),
                                         f"벨모라 - 채널 {name}")


class Channels(ChannelTest):
    def assert_local_service_refused(self, name, targets):
        """The page's requests to the local service meet the firewall only."""
        self.try_channel(name)
        for target in targets:
            wait_for(lambda: self.lines_ending("차단됨: http://" + target), what=target)
        time.sleep(1)
        self.assertEqual(self.local.heard, [])

    def test_local_service_by_images_reaches_only_the_firewall(self):
        self.assert_local_service_refused(
            "images", ("127.0.0.1:8765/img", "localhost:8765/img", "[::1]:8765/img"))

    def test_local_service_by_fetch_xhr_and_socket_reaches_only_the_firewall(self):
        self.assert_local_service_refused(
            "scripts", ("127.0.0.1:8765/fetch", "localhost:8765/xhr", "[::1]:8765/socket"))

    def test_peer_connections_and_capture_devices_are_off(self):
        for name in ("peer", "capture"):
            with self.subTest(name):
                self.try_channel(name)
                wait_for(lambda: ":" in self.app.title(), what="the page's answer")
                self.assertEqual(self.app.title(), f"{CAPTION} - 벨모라 - 채널 {name}: 없음")
        self.assertEqual(self.local.heard, [])

    def test_data_and_blob_pages_are_refused_by_link_and_by_script(self):
        for name in ("data-link", "data-script", "blob-link", "blob-script"):
            with self.subTest(name):
                self.assert_channel_refused(name)

    def test_file_pages_are_refused_by_link_and_by_window(self):
        leaked_file = self.leaked_file()
        query = "&file=" + urllib.parse.quote(leaked_file, safe="")
        # The engine itself keeps a site page's link from a file: no line.
        self.try_channel("file-link", query)
        time.sleep(2)
        self.assertFalse(self.leaked(), self.app.title())
        self.assert_channel_refused("file-window", query)

    def test_redirects_to_data_and_off_the_site_are_refused(self):
        # The engine gives up on the data address itself and shows the
        # redirect's own empty answer, under its site address.
        self.assert_refused_by_the_guard(lambda: self.go(CHANNELS + "redirect"),
                                         "http://www.velmora.com/to-data")
        # From a portal page, where the filter lets everything through.
        self.go("http://news.velmora.com/")
        self.wait_title("벨모라 뉴스")
        self.assert_refused_by_the_guard(lambda: self.go("http://news.velmora.com/to-foreign"),
                                         "벨모라 뉴스")

    def test_typed_data_source_and_engine_addresses_are_refused(self):
        self.try_channel("typed")
        for address in ("data:text/html;charset=utf-8,<title>velmora.co 샌 페이지</title>",
                        "view-source:http://www.velmora.com/", "webkit://gpu?velmora.co"):
            with self.subTest(address):
                self.assert_refused_by_the_guard(lambda: self.go(address), "벨모라 - 채널 typed")

    def test_context_menu_opens_no_other_window(self):
        self.try_channel("menu")
        page = self.app.find(lambda n: n.name == "WebKitWebView").queryComponent().getExtents(0)

        def over_link():  # the page's one link lies near its top left corner
            for y in range(90, 160, 6):
                subprocess.run(["xdotool", "mousemove", str(page.x + 50), str(page.y + y)])
                time.sleep(0.3)
                if self.app.status_panels()[0]:
                    return True
            return False
        self.assertTrue(over_link(), "no link found")
        subprocess.run(["xdotool", "click", "3"], check=True)
        items = wait_for(lambda: [n.name for n in harness.walk(self.app.app)
                                  if n.getRoleName() == "menu item"], what="the context menu")
        self.app.key("Escape")
        self.assertIn("Download Linked File", items)
        self.assertIn("Copy Link Location", items)
        self.assertFalse([i for i in items if "Window" in i or "Inspect" in i], items)


class Closing(ChannelTest):
    def test_requests_after_close_never_reach_the_site(self):
        self.go("http://www.velmora.com/hold.html")
        self.wait_title("벨모라 - 붙잡기")
        wait_for(lambda: "GET www.velmora.com /stall HTTP/1.0" in self.site.lines(),
                 what="the held request")
        self.assertIsNotNone(self.app.close_and_wait(20), "the program did not end")
        time.sleep(1)
        # The relay speaks HTTP/1.0: any other request came around it.
        self.assertEqual([l for l in self.site.lines() if not l.endswith("HTTP/1.0")], [])
        self.assertEqual([l for l in self.site.lines() if "/after-close" in l], [])
        self.assertEqual(self.local.heard, [])


class Dropping(ChannelTest):
    """Drags from a window of another program onto the page."""

    def drag_source(self):
        leaked_file = self.leaked_file()
        source = subprocess.Popen(
            ["/usr/bin/python3", os.path.join(harness.HERE, "drag_source.py"), leaked_file,
             "http://www.foreign.example/?velmora.co", "벨모라"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(source.kill)
        window = wait_for(lambda: subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--name", "^끌어 놓기 원본$"],
            capture_output=True, text=True, check=False).stdout.split(), what="the drag source")[0]
        subprocess.run(["xdotool", "windowmove", "--sync", window, "900", "850"], check=False)
        return 900, 850

    def drag(self, start, end):
        (sx, sy), (ex, ey) = start, end
        subprocess.run(["xdotool", "mousemove", str(sx), str(sy), "mousedown", "1"], check=True)
        for i in range(1, 21):
            x, y = sx + (ex - sx) * i // 20, sy + (ey - sy) * i // 20
            subprocess.run(["xdotool", "mousemove", str(x), str(y)], check=True)
            time.sleep(0.05)
        time.sleep(0.5)
        subprocess.run(["xdotool", "mouseup", "1"], check=True)

    def test_dropped_text_fills_the_field_and_dropped_links_and_files_load_nothing(self):
        self.go("http://www.velmora.com/drop.html")
        self.wait_title("벨모라 - 놓기")
        left, top = self.drag_source()
        page = self.app.find(lambda n: n.name == "WebKitWebView")
        box = page.queryComponent().getExtents(0)  # screen coordinates
        into_field = (box.x + 120, box.y + 140)
        below_field = (box.x + 200, box.y + 400)
        self.drag((left + 300, top + 60), into_field)
        self.wait_title("벨모라 - 놓기: 벨모라")
        lines = len(self.app.log_lines())
        for cell in (0, 1):  # the file, the link
            self.drag((left + 60 + 120 * cell, top + 60), below_field)
            time.sleep(2)
            self.assertFalse(self.leaked(), self.app.title())
        self.assertEqual(self.app.title(), f"{CAPTION} - 벨모라 - 놓기: 벨모라")
        self.assertEqual(len(self.app.log_lines()), lines)
        self.assertFalse([l for l in self.site.lines() if "www.foreign.example" in l])


if __name__ == "__main__":
    harness.run_tests(sys.modules[__name__])
