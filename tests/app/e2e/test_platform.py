"""End-to-end tests of the program on its platform: pages over HTTPS through
the firewall's tunnel, the music player's sound, and the program as its
Debian package installs it. Run inside the tests' namespace (see harness.py):
    test_platform.py PROGRAM [unittest args]
"""
import subprocess
import sys
import tempfile
import unittest

import pyatspi

import harness
from harness import Orvalis, TestSite, wait_for

PROGRAM = None
TLS_ARGS = []
CAPTION = "Orvalis v0.11b"


class PlatformTest(unittest.TestCase):
    """One program run shared by the tests of a class, in their order, with
    the site served over TLS too and sound going to a null device."""

    plain_home = True

    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="orvalis-e2e-")
        cls.site = TestSite(cls.workdir, cls.plain_home, TLS_ARGS)
        cls.addClassCleanup(cls.site.stop)
        cls.app = Orvalis(PROGRAM, harness.temp_config(), harness.null_sound())
        cls.addClassCleanup(lambda: cls.app.kill())

    def wait_title(self, title):
        wait_for(lambda: self.app.title() == f"{CAPTION} - {title}",
                 what=f"the caption {title!r} (it is {self.app.title()!r})")

    def lines_ending(self, text):
        return [line for line in self.app.log_lines() if line.endswith(text)]


class SecurePage(PlatformTest):
    def test_1_page_and_images_arrive_through_the_tunnel(self):
        self.wait_title("벨모라 - 홈")
        self.app.enter_address("https://www.velmora.com/secure")
        # The page counts the images it could show: the site's two.
        self.wait_title("벨모라 - 보안 (그림 2개)")
        # HTTP/1.1 end to end: the engine's own requests inside the tunnel,
        # not the relay's HTTP/1.0.
        for request in ("GET www.velmora.com /secure HTTP/1.1",
                        "GET img.velmora.com /logo.svg HTTP/1.1",
                        "GET www.velmora.com /badge.svg HTTP/1.1"):
            self.assertIn(request, self.site.lines())

    def test_2_foreign_resource_is_refused_at_the_tunnel_and_logged(self):
        wait_for(lambda: self.lines_ending("차단됨: http://tracker.foreign.example:443"),
                 what="the refusal line")
        self.assertEqual(self.app.status_panels()[2], "1")
        self.assertFalse([l for l in self.site.lines() if "tracker.foreign" in l])


class Music(PlatformTest):
    def test_music_player_reaches_the_playing_state(self):
        self.wait_title("벨모라 - 홈")
        self.app.enter_address("http://www.velmora.co.kr/?auto=play")
        self.wait_title("벨모라 - 음악")
        # A click on the page is the gesture the engine wants before it plays.
        view = self.app.find(lambda n: n.name == "WebKitWebView")
        box = view.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        subprocess.run(["xdotool", "mousemove", "--window", str(self.app.xid()),
                        str(box.x + box.width // 2), str(box.y + box.height - 10), "click", "1"],
                       check=True)
        self.wait_title("벨모라 - 음악 (재생 중)")
        self.assertTrue(any("/_music128?song=1" in l for l in self.site.lines()))


class Smoke(PlatformTest):
    """What CI runs against the program extracted from the package."""

    plain_home = False

    def test_home_page_one_refusal_and_a_clean_close(self):
        self.wait_title("벨모라 - 홈")
        wait_for(lambda: self.lines_ending("차단됨: http://tracker.foreign.example/pixel.svg"),
                 what="the refusal line")
        self.assertEqual(self.app.close_and_wait(20), 0)


def setUpModule():
    global TLS_ARGS
    TLS_ARGS = harness.trust_test_authority(tempfile.mkdtemp(prefix="orvalis-authority-"))


if __name__ == "__main__":
    harness.run_tests(sys.modules[__name__])
