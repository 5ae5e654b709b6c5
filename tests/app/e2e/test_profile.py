"""End-to-end tests of what the program remembers of its user: the login and
the cache across starts, forgetting them, a private run, one program at a
time, the window as it was left, and damaged or read-only profile folders.
Run by CTest inside a private namespace (see harness.py):
    test_profile.py PROGRAM [unittest args]
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

import pyatspi
from Xlib import X, display as xdisplay, protocol

import harness
from harness import Orvalis, TestSite, wait_for

PROGRAM = None
CAPTION = "Orvalis v0.11b"
LOGIN = "http://www.velmora.com/login?auto=login"
ACCOUNT = "http://www.velmora.com/account"
LOGGED_IN = "벨모라 - 로그인됨 (velmo)"
LOGGED_OUT = "벨모라 - 로그인 안 됨"
KEPT_IMAGE = "GET img.velmora.com /kept/logo.svg HTTP/1.0"


class ProfileTest(unittest.TestCase):
    """A test site and a temporary home; each test starts the program itself."""

    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="orvalis-profile-")
        cls.home = harness.temp_config()
        cls.site = TestSite(cls.workdir, plain_home=True)
        cls.addClassCleanup(cls.site.stop)

    # A program ends with its test, or with its class where the tests share it.
    shared = False

    def start(self, *args):
        type(self).app = app = Orvalis(PROGRAM, self.home, args=args)
        (self.addClassCleanup if self.shared else self.addCleanup)(app.kill)
        self.wait_title("벨모라 - 홈")
        return app

    def restart(self):
        self.assertEqual(self.app.close_and_wait(30), 0)
        return self.start()

    def wait_title(self, title):
        wait_for(lambda: self.app.title() == f"{CAPTION} - {title}",
                 what=f"the caption {title!r} (it is {self.app.title()!r})")

    def log_line(self, text):
        return wait_for(lambda: [l for l in self.app.log_lines() if l.endswith(text)],
                        what=f"the log line {text!r}")

    def kept_image_requests(self):
        return self.site.lines().count(KEPT_IMAGE)

    def write_state(self, text):
        os.makedirs(os.path.join(self.home, "orvalis"), exist_ok=True)
        with open(os.path.join(self.home, "orvalis", "window-state.ini"), "w") as f:
            f.write(text)

    def memo_box(self):
        memo = self.app.find(lambda n: n.getRoleName() == "text" and n.name == "기록 창")
        return memo.queryComponent().getExtents(pyatspi.WINDOW_COORDS)

    @staticmethod
    def geometry(window):
        out = subprocess.run(["xdotool", "getwindowgeometry", "--shell", str(window)],
                             capture_output=True, text=True, check=True).stdout
        values = dict(line.split("=") for line in out.split())
        return int(values["WIDTH"]), int(values["HEIGHT"])

    def log_in(self):
        self.app.enter_address(LOGIN)
        self.wait_title(LOGGED_IN)
        wait_for(self.kept_image_requests, what="the kept image")


class Remembering(ProfileTest):
    """One profile across starts, its tests in their order."""

    shared = True

    def test_1_login_survives_a_restart(self):
        self.start()
        self.log_in()
        # The engine writes its cache a moment after a load, as a user reads.
        wait_for(lambda: self.on_disk(b"/kept/logo.svg"), what="the image in the disk cache")
        self.restart()
        self.app.enter_address(ACCOUNT)
        self.wait_title(LOGGED_IN)
        # The profile is the user's alone.
        for folder in ("share/orvalis", "cache/orvalis", "orvalis"):
            self.assertEqual(os.stat(os.path.join(self.home, folder)).st_mode & 0o777, 0o700)

    def test_2_long_lived_image_is_not_fetched_on_the_next_start(self):
        self.assertEqual(self.kept_image_requests(), 1)

    def test_3_ctrl_shift_delete_forgets_the_login(self):
        self.app.key("ctrl+shift+Delete")
        button = wait_for(lambda: self.dialog_button("지우기"), what="the question")
        self.app.press(button)
        self.log_line("저장된 로그인 정보와 캐시를 지웠습니다.")
        self.app.enter_address(ACCOUNT)
        self.wait_title(LOGGED_OUT)
        self.restart()
        self.app.enter_address(ACCOUNT)
        self.wait_title(LOGGED_OUT)

    def on_disk(self, text):
        for folder, _, files in os.walk(os.path.join(self.home, "cache", "orvalis")):
            for name in files:
                with open(os.path.join(folder, name), "rb") as f:
                    if text in f.read():
                        return True
        return False

    def dialog_button(self, name):
        """A button of a dialog over the window (named after its label)."""
        for node in harness.walk(self.app.app):
            if node.getRoleName() == "dialog":
                for part in harness.walk(node):
                    if part.getRoleName() == "push button" and part.name.split()[0] == name:
                        return part
        return None


class PrivateRun(ProfileTest):
    def test_private_run_keeps_nothing(self):
        def written():
            return {(os.path.join(d, n), os.stat(os.path.join(d, n)).st_mtime_ns)
                    for d, dirs, files in os.walk(self.home) for n in dirs + files}

        before = written()
        self.start("--private")
        self.log_line("개인 모드: 로그인 정보, 캐시와 창 상태를 저장하지 않습니다.")
        self.log_in()
        self.assertEqual(self.app.close_and_wait(30), 0)
        self.assertEqual(written() - before, set())


class OneProgram(ProfileTest):
    def test_second_launch_brings_the_window_forward_and_ends(self):
        app = self.start()
        # Another window over the program's, as a user's other work would be.
        d = xdisplay.Display()
        cover = d.screen().root.create_window(0, 0, 1280, 1024, 0, X.CopyFromParent)
        cover.map()
        d.sync()
        self.assertLess(self.stacking(d, app.xid()), self.stacking(d, cover.id))

        second = subprocess.run([PROGRAM], env=harness.profile_env(self.home), timeout=60,
                                capture_output=True)
        self.assertEqual(second.returncode, 0, second.stderr)
        wait_for(lambda: self.stacking(d, app.xid()) > self.stacking(d, cover.id),
                 what="the window over the other one")
        self.assertEqual(len(self.firewall_ports()), 1, self.firewall_ports())
        self.assertIsNone(app.process.poll())

    def test_unknown_option_is_refused_without_a_window(self):
        run = subprocess.run([PROGRAM, "--remember-me"], env=harness.profile_env(self.home),
                             timeout=60, capture_output=True, text=True)
        self.assertNotEqual(run.returncode, 0)
        self.assertIn("--remember-me", run.stderr)
        self.assertFalse(harness.program_on_bus())

    @staticmethod
    def stacking(d, window):
        return [w.id for w in d.screen().root.query_tree().children].index(window)

    @staticmethod
    def firewall_ports():
        ports = set()
        for table in ("/proc/net/tcp", "/proc/net/tcp6"):
            with open(table) as f:
                for line in f.readlines()[1:]:
                    local, state = line.split()[1], line.split()[3]
                    port = int(local.rsplit(":", 1)[1], 16)
                    if state == "0A" and 51238 <= port <= 52237:
                        ports.add(port)
        return ports


class WindowAsLeft(ProfileTest):
    def test_size_log_height_and_zoom_survive_a_restart(self):
        app = self.start()
        subprocess.run(["xdotool", "windowsize", "--sync", str(app.xid()), "800", "600"],
                       check=True)
        memo = self.memo_box()
        # The splitter's handle lies just above the log panel: dragged up.
        x, y = memo.x + 100, memo.y - 3
        subprocess.run(["xdotool", "mousemove", "--window", str(app.xid()), str(x), str(y),
                        "mousedown", "1", "mousemove", "--window", str(app.xid()), str(x),
                        str(y - 100), "mouseup", "1"], check=True)
        memo = wait_for(lambda: self.memo_box().height >= memo.height + 80 and self.memo_box(),
                        what="a taller log panel")
        app.key("ctrl+plus")
        wait_for(lambda: app.status_panels()[1] == "확대 110%", what="the zoom in the status panel")
        # Ctrl and the wheel turned away over the page: one step more.
        subprocess.run(["xdotool", "mousemove", "--window", str(app.xid()), "300", "200",
                        "keydown", "ctrl", "click", "4", "keyup", "ctrl"], check=True)
        wait_for(lambda: app.status_panels()[1] == "확대 120%", what="the wheel's step")

        app = self.restart()
        self.assertEqual(self.geometry(app.xid()), (800, 600))
        self.assertEqual(self.memo_box().height, memo.height)
        app.key("ctrl+plus")
        wait_for(lambda: app.status_panels()[1] == "확대 133%", what="one step above 120 %")

    def test_window_never_starts_larger_than_the_screen(self):
        self.write_state("[Window]\nWidth=5000\nHeight=4000\n")
        app = self.start()
        width, height = self.geometry(app.xid())
        self.assertLessEqual(width, 1280)
        self.assertLessEqual(height, 1024)


class MaximizedWindow(ProfileTest):
    """Under a window manager, which alone maximizes windows."""

    def test_maximized_window_comes_back_maximized(self):
        manager = subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.addCleanup(manager.wait)
        self.addCleanup(manager.kill)
        d = xdisplay.Display()
        wait_for(lambda: d.screen().root.get_full_property(
            d.intern_atom("_NET_SUPPORTING_WM_CHECK"), X.AnyPropertyType), what="the manager")
        app = self.start()
        self.maximize(d, app.xid())
        wait_for(lambda: self.maximized(d, app.xid()), what="the window maximized")
        app = self.restart()
        wait_for(lambda: self.maximized(d, app.xid()), what="the window maximized again")

    @staticmethod
    def maximize(d, window):
        state = d.intern_atom("_NET_WM_STATE")
        event = protocol.event.ClientMessage(
            window=d.create_resource_object("window", window), client_type=state,
            data=(32, [1, d.intern_atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                       d.intern_atom("_NET_WM_STATE_MAXIMIZED_HORZ"), 1, 0]))
        d.screen().root.send_event(
            event, event_mask=X.SubstructureRedirectMask | X.SubstructureNotifyMask)
        d.flush()

    @staticmethod
    def maximized(d, window):
        state = d.create_resource_object("window", window).get_full_property(
            d.intern_atom("_NET_WM_STATE"), X.AnyPropertyType)
        return state and {d.intern_atom("_NET_WM_STATE_MAXIMIZED_VERT"),
                          d.intern_atom("_NET_WM_STATE_MAXIMIZED_HORZ")} <= set(state.value)


class DamagedProfile(ProfileTest):
    def setUp(self):
        type(self).home = harness.temp_config()

    def test_corrupt_settings_file_leaves_defaults_and_one_line(self):
        self.write_state("[Window\nWidth=\x01\x02\n\xff\xfe")
        app = self.start()
        lines = self.log_line("창 상태 파일을 읽을 수 없어 기본값으로 시작합니다: " +
                              os.path.join(self.home, "orvalis", "window-state.ini"))
        self.assertEqual(len(lines), 1)
        self.assertEqual(self.geometry(app.xid()), (937, 701))

    def test_read_only_profile_leaves_a_working_window(self):
        # Read-only for root too: a read-only mount of the whole home.
        subprocess.run(["mount", "--bind", self.home, self.home], check=True)
        self.addCleanup(subprocess.run, ["umount", self.home], check=False)
        subprocess.run(["mount", "-o", "remount,bind,ro", self.home], check=True)
        self.start()
        self.log_line("프로필 폴더에 쓸 수 없어 이번에는 로그인 정보와 캐시를 저장하지 않습니다: " +
                      os.path.join(self.home, "share", "orvalis"))
        self.log_in()
        self.assertEqual(self.app.close_and_wait(30), 0)
        self.assertEqual(os.listdir(self.home), [])


if __name__ == "__main__":
    harness.run_tests(sys.modules[__name__])
