"""End-to-end tests of the message bar above the page: the user's off-site
links handed to the desktop's default handler, and the site's notifications
reaching the desktop, with the real program under Xvfb against the test site
(served over TLS too: the engine asks for notifications only for secure pages,
and only in a profile that is kept). Run by CTest inside a private namespace:
    run-script test_bars.py PROGRAM [unittest args]
With E2E_SCREENSHOTS set to a folder, the bars the README shows are saved there.
"""
import json
import os
import subprocess
import sys
import tempfile
import time

import pyatspi

import harness
from harness import Orvalis, TestSite, wait_for
from test_app import REFUSED_NAVIGATION, ProgramTest
import test_browsing

PROGRAM = None
TLS_ARGS = []
HERE = os.path.dirname(os.path.abspath(__file__))
BROWSING = "http://www.velmora.com/browsing.html"
NOTIFY = "https://www.velmora.com/notify.html"
OFFSITE = "http://www.foreign.example/"
OPEN = "기본 브라우저에서 열기"


def read(path):
    try:
        with open(path) as f:
            return f.read()
    except FileNotFoundError:
        return None


def register_recording_handler(config_home, data_home, record):
    """Makes a handler that writes the address it is given to record the
    desktop's default for web and mail addresses in this home."""
    applications = os.path.join(data_home, "applications")
    os.makedirs(applications)
    script = os.path.join(data_home, "record-address")
    with open(script, "w") as f:
        f.write(f'#!/bin/sh\nprintf "%s" "$1" > "{record}"\n')
    os.chmod(script, 0o755)
    with open(os.path.join(applications, "orvalis-test-opener.desktop"), "w") as f:
        f.write("[Desktop Entry]\nType=Application\nName=Recorder\n"
                f"Exec={script} %u\n"
                "MimeType=x-scheme-handler/http;x-scheme-handler/https;x-scheme-handler/mailto;\n")
    with open(os.path.join(config_home, "mimeapps.list"), "w") as f:
        f.write("[Default Applications]\n" + "".join(
            f"x-scheme-handler/{scheme}=orvalis-test-opener.desktop\n"
            for scheme in ("http", "https", "mailto")))


class BarsTest(ProgramTest):
    """One program run with a recording default handler and notification
    service, its tests in their order."""

    plain_home = True

    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="orvalis-e2e-")
        cls.site = TestSite(cls.workdir, cls.plain_home, TLS_ARGS)
        cls.addClassCleanup(cls.site.stop)
        config, data = harness.temp_config(), os.path.join(cls.workdir, "data")
        cls.opened = os.path.join(cls.workdir, "opened")
        cls.notified = os.path.join(cls.workdir, "notified")
        register_recording_handler(config, data, cls.opened)
        service = subprocess.Popen([sys.executable, os.path.join(HERE, "notification_service.py"),
                                    cls.notified])
        cls.addClassCleanup(lambda: (service.kill(), service.wait()))
        wait_for(lambda: os.path.exists(cls.notified), 20, "the notification service")
        cls.app = Orvalis(PROGRAM, config, {"XDG_DATA_HOME": data})
        cls.addClassCleanup(lambda: cls.app.kill())

    def click_in_page(self, height_fraction):
        """Clicks the page with the mouse, as its user would, in the middle of
        its width and at the given fraction of its height."""
        view = self.app.find(lambda n: n.name == "WebKitWebView")
        box = view.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        subprocess.run(["xdotool", "mousemove", "--window", str(self.app.xid()),
                        str(box.x + box.width // 2), str(int(box.y + box.height * height_fraction)),
                        "click", "1"], check=True)

    def shoot(self, name):
        folder = os.environ.get("E2E_SCREENSHOTS")
        if folder:
            time.sleep(0.5)
            subprocess.run(["import", "-window", str(self.app.xid()),
                            os.path.join(folder, name)], check=False)


class LinksOut(BarsTest):
    def test_1_script_started_offsite_navigation_gets_no_bar(self):
        self.wait_title("벨모라 - 홈")
        self.go("http://www.velmora.co.kr/?auto=offsite")
        wait_for(lambda: self.lines_ending(REFUSED_NAVIGATION), what="the guard's line")
        time.sleep(1.5)
        self.assertIsNone(self.app.named(OPEN))
        self.assertFalse(os.path.exists(self.opened))

    def test_2_users_offsite_link_is_handed_to_the_default_handler(self):
        self.go(BROWSING)
        self.wait_title("벨모라 - 둘러보기")
        before = len(self.lines_ending(REFUSED_NAVIGATION))
        test_browsing.Browsing.activate_in_page(self, 1)
        button = wait_for(lambda: self.app.named(OPEN), what="the links-out bar")
        self.assertIsNotNone(self.app.named(OFFSITE))
        self.assertEqual(len(self.lines_ending(REFUSED_NAVIGATION)), before + 1)
        self.assertFalse(os.path.exists(self.opened))
        self.shoot("links-out-bar.png")
        self.app.press(button)
        wait_for(lambda: read(self.opened) == OFFSITE, what="the address at the default handler")
        wait_for(lambda: self.app.named(OPEN) is None, what="the bar to close")


class Notifications(BarsTest):
    def test_1_allowed_site_notification_reaches_the_desktop_and_its_click_the_page(self):
        self.wait_title("벨모라 - 홈")
        self.go(NOTIFY)
        self.wait_title("벨모라 - 알림 (default)")
        self.click_in_page(0.25)
        allow = wait_for(lambda: self.app.named("허용"), what="the notification bar")
        self.assertIsNotNone(self.app.named("www.velmora.com에서 알림을 보내려고 합니다"))
        self.shoot("notification-bar.png")
        self.app.press(allow)

        shown = wait_for(lambda: [json.loads(line) for line in read(self.notified).splitlines()],
                         what="a desktop notification")
        self.assertEqual([(n["summary"], n["body"]) for n in shown],
                         [("벨모라", "새 쪽지가 도착했습니다.")])
        # The service activates it as a click would: the page hears of it.
        self.wait_title("벨모라 - 알림 (눌림)")

    def test_2_foreign_frames_request_gets_no_bar_and_is_refused(self):
        self.click_in_page(0.75)
        self.wait_title("벨모라 - 알림 (프레임 denied)")
        self.assertIsNone(self.app.named("허용"))


def setUpModule():
    global TLS_ARGS
    TLS_ARGS = harness.trust_test_authority(tempfile.mkdtemp(prefix="orvalis-authority-"))


if __name__ == "__main__":
    harness.run_tests(sys.modules[__name__])
