"""End-to-end tests of everyday browsing: a refused link, a failed load, a
fragment link, a download and a dead web process, with the real program
under Xvfb against the test site. Run by CTest inside a private namespace:
    run-script test_browsing.py PROGRAM
With E2E_SCREENSHOTS set to a folder, the screens the README shows are saved
there.
"""
import os
import re
import subprocess
import sys
import tempfile
import time

import pyatspi

import harness
from harness import Orvalis, TestSite, wait_for
from test_app import CAPTION, HOME, REFUSED_NAVIGATION, STAMP, ProgramTest

BROWSING = "http://www.velmora.com/browsing.html"
DOWN = "http://down.velmora.com/"
PROGRAM = None


class Browsing(ProgramTest):
    """One program run, its tests in their order."""

    plain_home = True

    @classmethod
    def setUpClass(cls):
        # The Downloads folder the program proposes is one of the test's own.
        cls.workdir = tempfile.mkdtemp(prefix="orvalis-e2e-")
        cls.config = harness.temp_config()
        cls.downloads = os.path.join(cls.workdir, "downloads")
        os.makedirs(cls.downloads)
        with open(os.path.join(cls.config, "user-dirs.dirs"), "w") as f:
            f.write(f'XDG_DOWNLOAD_DIR="{cls.downloads}"\n')
        cls.site = TestSite(cls.workdir, cls.plain_home)
        cls.addClassCleanup(cls.site.stop)
        cls.app = Orvalis(PROGRAM, cls.config)
        cls.addClassCleanup(lambda: cls.app.kill())

    def shoot(self, name):
        folder = os.environ.get("E2E_SCREENSHOTS")
        if folder:
            time.sleep(0.5)
            subprocess.run(["import", "-window", "root",
                            os.path.join(folder, name)], check=False)

    def activate_in_page(self, tabs):
        """Clicks the page's heading, then moves on with Tab to the
        control wanted and presses Enter, as a user of the keyboard would."""
        window = wait_for(self.app.xid, what="the X window")
        # The page's top, wherever bars above it put it.
        view = self.app.find(lambda n: n.name == "WebKitWebView")
        box = view.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        subprocess.run(["xdotool", "mousemove", "--window", str(window),
                        str(box.x + box.width - 60), str(box.y + 26), "click", "1"], check=True)
        time.sleep(0.3)
        for _ in range(tabs):
            self.app.key("Tab")
        time.sleep(0.2)
        self.app.key("Return")

    def test_1_offsite_link_adds_exactly_the_guard_line(self):
        self.wait_title("벨모라 - 홈")
        self.go(BROWSING)
        self.wait_title("벨모라 - 둘러보기")
        time.sleep(1)
        before = self.app.log_lines()
        count = self.app.status_panels()[2]
        self.activate_in_page(1)
        wait_for(lambda: len(self.app.log_lines()) > len(before), what="a new log line")
        time.sleep(1.5)
        added = self.app.log_lines()[len(before):]
        self.assertEqual(len(added), 1, added)
        self.assertRegex(added[0], "^" + STAMP + re.escape(REFUSED_NAVIGATION) + "$")
        self.assertEqual(self.app.status_panels()[2], count)
        self.assertEqual(self.app.title(), f"{CAPTION} - 벨모라 - 둘러보기")
        self.assertFalse([l for l in self.site.lines() if "www.foreign.example" in l])
        self.shoot("refused-link.png")
        self.assertEqual(self.app.address_text(), BROWSING)

    def test_2_fragment_link_moves_the_address_bar(self):
        self.activate_in_page(2)
        wait_for(lambda: self.app.address_text() == BROWSING + "#part",
                 what="the fragment in the address bar", timeout=15)

    def test_3_download_asks_saves_and_says_so(self):
        seen = set()
        self.go(BROWSING)
        time.sleep(2)
        self.activate_in_page(3)
        dialog = wait_for(lambda: subprocess.run(
            ["xdotool", "search", "--onlyvisible", "--name", f"^{re.escape(CAPTION)}$"],
            capture_output=True, text=True, check=False).stdout.split(), what="the save dialog")
        time.sleep(1)
        self.shoot("download-dialog.png")
        # The name field has the focus and saving is the dialog's default.
        subprocess.run(["xdotool", "windowfocus", "--sync", dialog[0]], check=False)
        self.app.key("Return")
        saved = os.path.join(self.downloads, "velmora-sample.bin")

        def done():
            seen.add(self.app.status_panels()[0])
            return "내려받기 완료: velmora-sample.bin" in seen
        wait_for(done, what="the end of the download in the page's status panel", interval=0.05)
        with open(saved, "rb") as f:
            self.assertEqual(f.read(), bytes(range(256)) * 640)
        self.assertIn("GET www.velmora.com /files/velmora-sample.bin HTTP/1.0", self.site.lines())

    def test_4_unreachable_page_shows_the_error_page_and_retry_loads_it(self):
        self.go(DOWN)
        self.wait_title("페이지를 열 수 없습니다")
        time.sleep(2)
        self.shoot("error-page.png")
        self.assertEqual(self.app.address_text(), DOWN)
        second = subprocess.Popen(
            [sys.executable, os.path.join(harness.SITE, "testsite.py"), "--bind", "127.0.0.2",
             "--port", "80", "--stream-port", "9576"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(second.kill)
        wait_for(lambda: self._listening("127.0.0.2"), 20, "the site coming up")
        self.activate_in_page(1)
        self.wait_title("벨모라 /")

    def test_5_killed_web_process_shows_the_message_and_reload_restores(self):
        self.go(HOME)
        self.wait_title("벨모라 - 홈")
        killed = self._kill_web_processes()
        self.assertTrue(killed)
        self.wait_title("페이지가 멈췄습니다")
        time.sleep(2)
        self.shoot("crash-message.png")
        self.activate_in_page(1)
        self.wait_title("벨모라 - 홈")
        self.assertEqual(self.app.address_text(), HOME)

    @staticmethod
    def _listening(address):
        import socket
        try:
            socket.create_connection((address, 80), 0.2).close()
            return True
        except OSError:
            return False

    def _kill_web_processes(self):
        """Kills the program's web processes, as a crash would end them."""
        killed = []
        for pid, name in self.app.children():
            if name.startswith("WebKitWebProces"):
                os.kill(pid, 9)
                killed.append(pid)
        return killed


if __name__ == "__main__":
    harness.run_tests(sys.modules[__name__])
