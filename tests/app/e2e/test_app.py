"""End-to-end tests: the real program, under Xvfb, against the test site.
Run by CTest inside a private namespace (see harness.py):
    test_app.py PROGRAM
"""
import os
import re
import selectors
import subprocess
import socket
import sys
import tempfile
import time
import unittest

import pyatspi
from Xlib import X, display as xdisplay

import harness
from harness import Orvalis, TestSite, wait_for

PROGRAM = None
STAMP = r"\[\d{4}[-/.]\d\d[-/.]\d\d \d\d[:.]\d\d[:.]\d\d\] "
CAPTION = "Orvalis v0.11b"
HOME = "http://www.velmora.co.kr/"
REFUSED_NAVIGATION = "이 브라우저는 벨모라 전용으로 제작되었습니다."


class ProgramTest(unittest.TestCase):
    """One program run shared by the tests of a class, in their order."""

    plain_home = False

    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="orvalis-e2e-")
        cls.config = harness.temp_config()
        cls.site = TestSite(cls.workdir, cls.plain_home)
        cls.addClassCleanup(cls.site.stop)
        cls.app = Orvalis(PROGRAM, cls.config)
        cls.addClassCleanup(lambda: cls.app.kill())

    def wait_title(self, title):
        try:
            return wait_for(lambda: self.app.title() == f"{CAPTION} - {title}",
                            what=f"the caption {title!r} (it is {self.app.title()!r})")
        except AssertionError:
            shot = os.path.join(self.workdir, f"failed-{title.replace('/', '_')}.png")
            subprocess.run(["import", "-window", "root", shot], check=False)
            print(f"screenshot: {shot}", file=sys.stderr)
            raise

    def go(self, address):
        self.app.enter_address(address)

    def lines_ending(self, text):
        return [line for line in self.app.log_lines() if line.endswith(text)]


class StartUp(ProgramTest):
    plain_home = True

    def test_1_status_reads_ready_then_watching(self):
        # First of its class: the ready text shows for only 4 seconds after start.
        seen = []
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and seen[-1:] != ["감시중..."]:
            text = self.app.status_panels()[1]
            if seen[-1:] != [text]:
                seen.append(text)
            time.sleep(0.05)
        self.assertEqual([s for s in seen if s], ["초기화 완료.", "감시중..."])

    def test_identity_line_comes_first_and_caption_follows_the_title(self):
        self.wait_title("벨모라 - 홈")
        lines = self.app.log_lines()
        self.assertRegex(lines[0], "^" + STAMP +
                         re.escape("Orvalis v0.11b (2009.02.15) by orvalis@example.org") + "$")
        self.assertEqual(len(lines), 1)
        self.assertEqual(self.app.status_panels()[2], "0")

    def test_window_draws_with_cairo_over_software_opengl(self):
        # Xvfb's OpenGL is a software rasterizer. The choice is made before the
        # engine starts its processes, which inherit it.
        def environments():
            found = []
            for pid, _ in self.app.children():
                try:
                    with open(f"/proc/{pid}/environ", "rb") as f:
                        found.append(f.read().split(b"\0"))
                except OSError:
                    continue
            return found
        for environment in wait_for(environments, what="the engine's processes"):
            self.assertEqual([e for e in environment if e.startswith(b"GSK_RENDERER=")],
                             [b"GSK_RENDERER=cairo"])


class RequestFilter(ProgramTest):
    def test_1_home_page_arrives_through_the_proxy(self):
        # The relay speaks HTTP/1.0 to the origin; the engine itself would not.
        wait_for(lambda: "GET www.velmora.co.kr / HTTP/1.0" in self.site.lines(), what="the home page")
        self.wait_title("벨모라 - 홈")
        wait_for(lambda: self.app.address_text() == HOME, what="the address")

    def test_2_foreign_resource_is_refused_logged_and_counted(self):
        line = wait_for(lambda: self.lines_ending("차단됨: http://tracker.foreign.example/pixel.svg"),
                        what="the refusal line")[0]
        self.assertRegex(line, "^" + STAMP)
        blocked = lambda: len([l for l in self.app.log_lines() if "] 차단됨: " in l])
        wait_for(lambda: self.app.status_panels()[2] == str(blocked()), what="the counter")
        self.assertFalse([l for l in self.site.lines()
                          if l.split(" ")[1].startswith(("tracker.", "ads."))])

class LogFlash(ProgramTest):
    plain_home = True

    def test_a_refusal_flashes_the_log_panel_three_times(self):
        self.wait_title("벨모라 - 홈")
        time.sleep(4.5)  # past the start-up status
        colour = self.app.memo_colour_probe()
        idle = colour()
        self.go("http://www.velmora.com/frames.html")
        samples = []
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            samples.append(colour())
            time.sleep(0.02)
        flashes = sum(1 for before, now in zip([idle] + samples, samples)
                      if before == idle and now != idle)
        self.assertEqual(flashes, 3, samples)
        self.assertEqual(samples[-1], idle)


class PortalPage(ProgramTest):
    def test_portal_page_refuses_nothing(self):
        self.wait_title("벨모라 - 홈")
        before = len(self.app.log_lines())
        count = self.app.status_panels()[2]
        self.go("http://news.velmora.com/")
        self.wait_title("벨모라 뉴스")
        wait_for(lambda: any(l.startswith("GET ads.foreign.example /banner.svg") for l in self.site.lines()),
                 what="the portal's foreign advertisement")
        self.assertEqual(len(self.app.log_lines()), before)
        self.assertEqual(self.app.status_panels()[2], count)


class NavigationGuard(ProgramTest):
    def test_1_typed_foreign_address_adds_exactly_the_refusal_line(self):
        self.wait_title("벨모라 - 홈")
        before = self.app.log_lines()
        self.go("http://www.foreign.example/")
        wait_for(lambda: len(self.app.log_lines()) > len(before), what="a new log line")
        time.sleep(1)
        added = self.app.log_lines()[len(before):]
        self.assertEqual(len(added), 1, added)
        self.assertRegex(added[0], "^" + STAMP + re.escape(REFUSED_NAVIGATION) + "$")
        self.assertEqual(self.app.title(), f"{CAPTION} - 벨모라 - 홈")
        self.assertFalse([l for l in self.site.lines() if "www.foreign.example" in l])

    def test_2_offsite_link_leaves_page_and_address_bar(self):
        self.go(HOME + "?auto=offsite")
        self.wait_title("벨모라 - 홈")
        wait_for(lambda: self.lines_ending(REFUSED_NAVIGATION)[1:] or
                 self.lines_ending("차단됨: http://www.foreign.example/"), what="the refusal")
        time.sleep(1)
        self.assertEqual(self.app.title(), f"{CAPTION} - 벨모라 - 홈")
        self.assertEqual(self.app.address_text(), HOME + "?auto=offsite")

    def test_3_frame_leaving_the_site_is_left_to_the_filter(self):
        guard_lines = len(self.lines_ending(REFUSED_NAVIGATION))
        self.go("http://www.velmora.com/frames.html?auto=frame-offsite")
        self.wait_title("벨모라 - 프레임")
        wait_for(lambda: self.lines_ending("차단됨: http://www.foreign.example/"),
                 what="the filter's refusal of the frame's new page")
        self.assertEqual(len(self.lines_ending(REFUSED_NAVIGATION)), guard_lines)
        self.assertEqual(self.app.title(), f"{CAPTION} - 벨모라 - 프레임")

    def test_4_site_popups_open_in_the_main_window(self):
        for action, title in (("popup1", "벨모라 - 회원 정보"), ("popup2", "벨모라 - 미니홈"),
                              ("popup3", "벨모라 - 클럽")):
            with self.subTest(action=action):
                self.go(HOME + "?auto=" + action)
                self.wait_title(title)
                frames = [c for c in harness.accessible_children(self.app.app)
                          if c.getRoleName() == "frame"]
                self.assertEqual(len(frames), 1)


class HistoryMenus(ProgramTest):
    def test_back_menu_lists_fifteen_nearest_first_and_travels(self):
        self.wait_title("벨모라 - 홈")
        forward = self.app.named("앞으로 목록")
        self.assertFalse(forward.getState().contains(pyatspi.STATE_SENSITIVE))
        for i in range(1, 18):
            self.go(f"http://www.velmora.com/p{i}")
            self.wait_title(f"벨모라 /p{i}")
        self.app.press(self.app.named("뒤로 목록"))
        items = wait_for(lambda: self.menu_items(), what="the back menu")
        self.assertEqual([item.name for item in items],
                         [f"벨모라 /p{i}" for i in range(16, 1, -1)])
        self.app.press(items[14])
        self.wait_title("벨모라 /p2")
        wait_for(lambda: forward.getState().contains(pyatspi.STATE_SENSITIVE),
                 what="the forward menu to open")

    def menu_items(self):
        return [n for n in harness.walk(self.app.app)
                if n.getRoleName() == "menu item" and n.name.startswith("벨모라 /p")]


class WindowBehaviour(ProgramTest):
    """The page, the toolbar and the filter as a user meets them."""
    plain_home = True

    def test_1_space_scrolls_the_page_after_start_up(self):
        self.wait_title("벨모라 - 홈")
        time.sleep(1)
        # The page's top left corner: the home page's coloured header until
        # the page scrolls.
        view = self.app.named("WebKitWebView").queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        screen = xdisplay.Display().create_resource_object("window", self.app.xid())
        corner = lambda: screen.get_image(view.x + 8, view.y + 8, 1, 1, X.ZPixmap,
                                          0xFFFFFFFF).data[:3]
        header = corner()
        window = wait_for(self.app.xid, what="the X window")
        subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], check=False)
        wait_for(lambda: self.app.window.getState().contains(pyatspi.STATE_ACTIVE),
                 what="the window to become active")
        time.sleep(0.5)
        self.app.key("space")
        wait_for(lambda: corner() != header, 10, "the page to scroll")

    def test_2_go_button_completes_an_address_without_scheme(self):
        self.app.type_address("news.velmora.com")
        self.app.press(self.app.named("이동"))
        self.wait_title("벨모라 뉴스")
        self.assertEqual(self.app.address_text(), "http://news.velmora.com/")

    def test_3_answer_without_content_keeps_the_filter_on_the_page_shown(self):
        self.go(HOME + "?auto=nocontent-then-foreign")
        self.wait_title("벨모라 - 홈")
        wait_for(lambda: self.lines_ending("차단됨: http://tracker.foreign.example/late.svg"),
                 what="the refusal of the shown page's foreign request")
        self.assertIn("GET news.velmora.com /nocontent HTTP/1.0", self.site.lines())
        self.assertFalse([l for l in self.site.lines() if "/late.svg" in l])
        self.assertEqual(self.app.title(), f"{CAPTION} - 벨모라 - 홈")


class TypedAddresses(ProgramTest):
    def test_typed_address_is_offered_at_the_next_start(self):
        self.wait_title("벨모라 - 홈")
        self.go("http://www.velmora.com/typed")
        self.wait_title("벨모라 /typed")
        # The list is saved as the next address is gone to, before that
        # address joins it.
        self.go("http://www.velmora.com/next")
        self.wait_title("벨모라 /next")
        self.assertIsNotNone(self.app.close_and_wait(20))
        with open(os.path.join(self.config, "orvalis", "user-registry.ini")) as f:
            self.assertIn("Url1=http://www.velmora.com/typed", f.read())
        type(self).app = Orvalis(PROGRAM, self.config)
        self.wait_title("벨모라 - 홈")
        self.app.focus_address_bar()
        # Down opens the list, the second Down takes its first entry into the
        # box, Escape closes the list.
        self.app.key("ctrl+a", "BackSpace", "Down")
        time.sleep(0.3)
        self.app.key("Down")
        time.sleep(0.3)
        self.app.key("Escape")
        wait_for(lambda: self.app.address_text() == "http://www.velmora.com/typed",
                 what="the typed address in the list")


class Shutdown(ProgramTest):
    def test_closing_with_a_stalled_origin_ends_promptly(self):
        self.wait_title("벨모라 - 홈")
        self.go("http://www.velmora.com/stall")
        wait_for(lambda: any("/stall" in l for l in self.site.lines()), what="the stalled request")
        # Without the firewall's stop ending the relay, the stalled request
        # would keep the program from ending at all.
        self.assertIsNotNone(self.app.close_and_wait(20), "the program did not end")


class PortsTaken(unittest.TestCase):
    """Every port of the range taken: 20 attempts, the failure texts, and
    the browser still sent home (to whatever listens on the last port)."""

    def test_twenty_attempts_then_failure_texts_and_home(self):
        listeners = []
        for port in range(51238, 52238):
            s = socket.socket()
            s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            s.bind(("127.0.0.1", port))
            s.listen(8)
            s.setblocking(False)
            listeners.append(s)
        workdir = tempfile.mkdtemp(prefix="orvalis-ports-")
        trace = os.path.join(workdir, "bind.trace")
        app = Orvalis(PROGRAM, harness.temp_config(),
                      wrapper=("strace", "-f", "-qq", "-e", "trace=bind", "-o", trace))
        try:
            request = wait_for(lambda: self.first_request(listeners), what="the home request")
            self.assertIn(b"www.velmora.co.kr", request)
            lines = wait_for(lambda: app.log_lines()[1:] and app.log_lines(), what="the failure line")
            self.assertRegex(lines[1], "^" + STAMP +
                             re.escape("초기화 실패. 방화벽이 정상적으로 동작하지 않습니다.") + "$")
            wait_for(lambda: app.status_panels()[1] == "작동 불가", 10, "the idle text")
            with open(trace) as f:
                attempts = [l for l in f if re.search(r"htons\(5[12]\d\d\d\)", l)]
            self.assertEqual(len(attempts), 20, attempts)
        finally:
            app.kill()
            for s in listeners:
                s.close()

    @staticmethod
    def first_request(listeners):
        with selectors.DefaultSelector() as selector:
            for s in listeners:
                selector.register(s, selectors.EVENT_READ)
            for key, _ in selector.select(0.5):
                connection, _ = key.fileobj.accept()
                connection.settimeout(5)
                return connection.recv(4096)
        return None


if __name__ == "__main__":
    harness.run_tests(sys.modules[__name__])
