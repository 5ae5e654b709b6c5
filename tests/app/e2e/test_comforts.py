"""End-to-end tests of the comforts of a daily browser: finding a word on
the page, printing, the usual keys, the focus after a refused address and
the desktop's colour scheme, with the real program under Xvfb against the test site. Run by CTest inside
a private namespace:
    run-script test_comforts.py PROGRAM
With E2E_SCREENSHOTS set to a folder, the find bar's screen is saved there.
"""
import os
import re
import subprocess
import sys
import tempfile
import time

import pyatspi
from gi.repository import Gio, GLib
from Xlib import X, display as xdisplay

import harness
from harness import Orvalis, TestSite, wait_for
from test_app import CAPTION, REFUSED_NAVIGATION, ProgramTest

LONG = "http://www.velmora.com/long.html"
FRAGMENTS = "http://www.velmora.com/fragments.html"
OTHER = "http://www.velmora.com/other"
SCHEME = "http://www.velmora.com/scheme.html"
KEYS = "http://www.velmora.com/keys.html"
PROGRAM = None


class Comforts(ProgramTest):
    """One program run, its tests in their order."""

    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.mkdtemp(prefix="orvalis-e2e-")
        cls.config = harness.temp_config()
        cls.site = TestSite(cls.workdir, plain_home=True)
        cls.addClassCleanup(cls.site.stop)
        cls.app = Orvalis(PROGRAM, cls.config)
        cls.addClassCleanup(lambda: cls.app.kill())

    def wait_title_starting(self, prefix):
        wait_for(lambda: self.app.title().startswith(f"{CAPTION} - {prefix}"),
                 what=f"a caption starting {prefix!r}")

    def shoot(self, name):
        folder = os.environ.get("E2E_SCREENSHOTS")
        if folder:
            time.sleep(0.5)
            subprocess.run(["import", "-window", "root", os.path.join(folder, name)], check=False)

    def showing(self, name, role="text"):
        node = self.app.find(lambda n: n.getRoleName() == role and n.name == name)
        return node is not None and node.getState().contains(pyatspi.STATE_SHOWING)

    def focused(self, name, role="text"):
        node = self.app.find(lambda n: n.getRoleName() == role and n.name == name)
        return node is not None and node.getState().contains(pyatspi.STATE_FOCUSED)

    def requests_for(self, path):
        return len([l for l in self.site.lines() if l.startswith(f"GET www.velmora.com {path} ")])

    def test_1_find_scrolls_to_a_far_word_and_says_when_there_is_none(self):
        self.wait_title("벨모라 - 홈")
        self.go(LONG)
        self.wait_title("벨모라 - 긴 글")
        self.app.key("ctrl+f")
        wait_for(lambda: self.focused("페이지에서 찾기", "entry"), what="the find field")
        self.app.type("ZEPHYRINE")
        self.wait_title("벨모라 - 긴 글 끝")
        wait_for(lambda: self.app.named("1개 일치"), what="the match count")
        self.shoot("find-bar.png")
        self.app.key("ctrl+a")
        self.app.type("qqxqq")
        wait_for(lambda: self.app.named("일치하는 항목 없음"), what="no match")
        self.app.key("Escape")
        wait_for(lambda: not self.showing("페이지에서 찾기", "entry"),
                 what="the find bar to close")

    @staticmethod
    def print_dialog():
        """The X window of a shown dialog titled with the caption alone (the
        keys page has no other)."""
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                              f"^{re.escape(CAPTION)}$"],
                             capture_output=True, text=True, check=False).stdout.split()
        return out[0] if out else None

    def print_dialog_opens(self, key):
        # Pressed again while a busy machine drops the key; while the dialog
        # is open the key is the dialog's.
        shown = None
        for _ in range(3):
            self.app.key(key)
            try:
                shown = wait_for(self.print_dialog, 20, "the print dialog")
                break
            except AssertionError:
                continue
        self.assertIsNotNone(shown, f"no print dialog after {key}")
        return shown

    def close_print_dialog(self, shown):
        subprocess.run(["xdotool", "windowfocus", "--sync", shown], check=False)
        self.app.key("Escape")
        wait_for(lambda: not self.print_dialog(), what="the dialog to close")

    def test_2_f5_reloads_and_alt_left_goes_back(self):
        self.go(KEYS)
        self.wait_title("벨모라 - 키")
        before = self.requests_for("/keys.html")
        self.app.key("F5")
        wait_for(lambda: self.requests_for("/keys.html") > before, what="the page asked again")
        self.wait_title("벨모라 - 키")
        self.go(OTHER)
        self.wait_title("벨모라 /other")
        self.app.key("alt+Left")
        self.wait_title("벨모라 - 키")

    def test_3_f11_asks_for_full_screen_and_back(self):
        """The test is the window manager here: it sees the window's request
        and grants it, so that the second F11 asks to leave full screen."""
        window = wait_for(self.app.xid, what="the X window")
        d = xdisplay.Display()
        root = d.screen().root
        root.change_attributes(event_mask=X.SubstructureNotifyMask)
        state, fullscreen = d.intern_atom("_NET_WM_STATE"), d.intern_atom("_NET_WM_STATE_FULLSCREEN")
        d.sync()

        def request():
            deadline = time.monotonic() + harness.TIMEOUT
            while time.monotonic() < deadline:
                while d.pending_events():
                    e = d.next_event()
                    if (e.type == X.ClientMessage and e.client_type == state and
                            e.window.id == window and fullscreen in e.data[1][1:3]):
                        return e.data[1][0]
                time.sleep(0.05)
            raise AssertionError("no full-screen request")

        self.app.key("F11")
        self.assertEqual(request(), 1)  # add
        target = d.create_resource_object("window", window)
        target.change_property(state, d.intern_atom("ATOM"), 32, [fullscreen])
        d.sync()
        time.sleep(0.5)
        self.app.key("F11")
        self.assertEqual(request(), 0)  # remove
        target.change_property(state, d.intern_atom("ATOM"), 32, [])
        d.close()

    def test_4_refused_typed_address_leaves_the_focus_in_the_bar(self):
        self.go(FRAGMENTS)
        self.wait_title_starting("벨모라 - 조각 ")
        refusals = len(self.lines_ending(REFUSED_NAVIGATION))
        self.go("http://www.foreign.example/")
        wait_for(lambda: len(self.lines_ending(REFUSED_NAVIGATION)) > refusals,
                 what="the refusal")
        title = self.app.title()
        wait_for(lambda: self.app.title() != title, what="a later fragment")
        time.sleep(0.5)
        self.assertTrue(self.focused("주소표시줄"))

    def test_5_pages_follow_the_desktops_colour_scheme_as_it_changes(self):
        """The test's session bus gets a settings portal that announces the
        desktop's colour scheme changing."""
        bus = Gio.bus_get_sync(Gio.BusType.SESSION)
        bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "RequestName", GLib.Variant("(su)", ("org.freedesktop.portal.Desktop", 4)),
                      None, Gio.DBusCallFlags.NONE, -1, None)

        def announce(scheme):
            bus.emit_signal(None, "/org/freedesktop/portal/desktop",
                            "org.freedesktop.portal.Settings", "SettingChanged",
                            GLib.Variant("(ssv)", ("org.freedesktop.appearance", "color-scheme",
                                                   GLib.Variant("u", scheme))))
            bus.flush_sync(None)

        self.go(SCHEME)
        self.wait_title("벨모라 - 밝은 색")
        announce(1)
        self.wait_title("벨모라 - 어두운 색")
        announce(2)
        self.wait_title("벨모라 - 밝은 색")

    def test_6_escape_stops_a_load_and_otherwise_reaches_the_page(self):
        self.go(KEYS)
        self.wait_title("벨모라 - 키")
        time.sleep(0.5)
        self.app.key("s")
        wait_for(lambda: self.requests_for("/stall"), what="the page that never comes")
        self.app.key("Escape")
        time.sleep(1)  # the stopped load lets go
        self.app.key("Escape", "d")
        self.wait_title("벨모라 - Escape 1")


    def test_7_ctrl_p_and_the_pages_print_open_the_print_dialog(self):
        """Last: after the print dialog the accessibility bus may lose the
        program (the toolkit's), so this test reads only the X server."""
        self.go(KEYS)
        self.wait_title("벨모라 - 키")
        self.close_print_dialog(self.print_dialog_opens("ctrl+p"))
        self.close_print_dialog(self.print_dialog_opens("p"))  # the page's window.print()


if __name__ == "__main__":
    harness.run_tests(sys.modules[__name__])
