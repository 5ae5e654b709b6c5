"""Runs the real program against the test site and reads its window the way
assistive technology does (the accessibility bus), types with xdotool and
closes the window as a window manager would.

The test command runs this inside a private mount and network namespace
with its own session bus and X server:
    unshare --mount --net --fork dbus-run-session -- xvfb-run -a python3 test_app.py PROGRAM
so the site's names can resolve to loopback without touching the machine.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import pyatspi
from Xlib import X, display as xdisplay, protocol

from session_bus import program_on_bus  # noqa: F401 (also the tests' and benchmarks')

HERE = os.path.dirname(os.path.abspath(__file__))
SITE = os.path.normpath(os.path.join(HERE, "..", "..", "..", "tools", "testsite"))
TIMEOUT = 60


def wait_for(predicate, timeout=TIMEOUT, what="condition", interval=0.1):
    """Polls predicate until it returns something true; returns that."""
    deadline = time.monotonic() + timeout
    while True:
        try:
            value = predicate()
        except Exception:  # the accessibility tree changes under us
            value = None
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"timed out waiting for {what}")
        time.sleep(interval)


def prepare_namespace():
    """Loopback up, a site address on it, and the site's names on loopback."""
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    subprocess.run(["ip", "addr", "add", "198.18.230.5/32", "dev", "lo"], check=True)
    subprocess.run(["mount", "--bind", os.path.join(SITE, "hosts"), "/etc/hosts"], check=True)
    # Outgoing connections keep below the firewall's port range, so that a
    # test can hold every port of the range.
    with open("/proc/sys/net/ipv4/ip_local_port_range", "w") as f:
        f.write("32768 51000")


class TestSite:
    def __init__(self, workdir, plain_home=False, extra_args=()):
        self.requests = os.path.join(workdir, "requests.log")
        open(self.requests, "w").close()
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(SITE, "testsite.py"), "--port", "80",
             "--requests", self.requests] + (["--plain-home"] if plain_home else []) +
            list(extra_args),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: self._listening(), 20, "the test site")

    @staticmethod
    def _listening():
        import socket
        try:
            socket.create_connection(("127.0.0.1", 80), 0.2).close()
            return True
        except OSError:
            return False

    def lines(self):
        with open(self.requests) as f:
            return [line.rstrip("\n") for line in f]

    def stop(self):
        self.process.kill()
        self.process.wait()


def accessible_children(node):
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield child


def walk(node, depth=0):
    yield node
    if depth < 40:
        for child in accessible_children(node):
            yield from walk(child, depth + 1)


def profile_env(home):
    """The environment of a program whose home is the temporary folder home:
    its settings at the folder's top (where tests read them), its profile's
    data and cache below it. Nothing of the user's own profile is read."""
    env = dict(os.environ)
    env.update(HOME=home, XDG_CONFIG_HOME=home, XDG_DATA_HOME=os.path.join(home, "share"),
               XDG_CACHE_HOME=os.path.join(home, "cache"))
    # The engine's sandbox cannot start as root inside the test namespace.
    env["WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS"] = "1"
    return env


class Orvalis:
    """One run of the program in a temporary home (see profile_env). Only
    one program runs per session bus: a launch while an earlier run still
    holds the name would hand over to it and end, so it waits for that run
    to be gone first."""

    def __init__(self, program, config_home, extra_env=None, wrapper=(), args=()):
        env = profile_env(config_home)
        env.update(extra_env or {})
        self.wrapped = bool(wrapper)
        if "--private" not in args:
            wait_for(lambda: not program_on_bus(), what="the earlier program to leave the bus")
        self.process = subprocess.Popen(list(wrapper) + [program] + list(args), env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        self.app = wait_for(self._find_app, what="the program on the accessibility bus")
        self.window = wait_for(lambda: self._child_by_role(self.app, "frame"), what="the window")

    def _find_app(self):
        # Under a wrapper (strace) the program is the wrapper's child.
        for app in pyatspi.Registry.getDesktop(0):
            try:
                # An earlier run may still be listed while it goes away.
                if app is not None and app.name == "orvalis" and (
                        self.wrapped or app.get_process_id() == self.process.pid):
                    return app
            except Exception:
                continue
        return None

    @staticmethod
    def _child_by_role(node, role):
        for child in accessible_children(node):
            if child.getRoleName() == role:
                return child
        return None

    def children(self):
        """The program's own child processes (the engine's), as (pid, name) pairs."""
        found = []
        for entry in filter(str.isdigit, os.listdir("/proc")):
            try:
                with open(f"/proc/{entry}/stat") as f:
                    stat = f.read()
            except OSError:
                continue
            parent = int(stat[stat.rindex(")") + 2:].split()[1])
            if parent == self.process.pid:
                found.append((int(entry), stat[stat.index("(") + 1:stat.rindex(")")]))
        return found

    # Reading the window.
    def title(self):
        return self.window.name

    def find(self, predicate):
        for node in walk(self.window):
            try:
                if predicate(node):
                    return node
            except Exception:
                continue
        return None

    def named(self, name):
        return self.find(lambda n: n.name == name)

    def status_panels(self):
        """The three panels of the status bar, the window's last row."""
        column = self.window.getChildAtIndex(0)
        bar = column.getChildAtIndex(column.childCount - 1)
        return [n.name for n in walk(bar) if n.getRoleName() == "label"]

    def log_text(self):
        memo = self.find(lambda n: n.getRoleName() == "text" and n.name == "기록 창")
        return memo.queryText().getText(0, -1)

    def log_lines(self):
        text = self.log_text()
        return [line for line in text.replace("\r\n", "\n").split("\n") if line] if text else []

    def address_text(self):
        """The address bar's text, copied as a user would: F6, Ctrl+A, Ctrl+C."""
        self.focus_address_bar()
        return self.copy_focused_text()

    def press(self, node):
        """Activates a control, or the first part of it that can be activated."""
        for part in walk(node):
            try:
                part.queryAction().doAction(0)
                return
            except Exception:
                continue
        raise AssertionError(f"nothing to press in {node}")

    def page_node(self, role, name):
        """A node of the page shown in the browser, by role and name."""
        view = self.find(lambda n: n.name == "WebKitWebView")
        for node in walk(view):
            if node.getRoleName() == role and node.name == name:
                return node
        return None

    def memo_colour_probe(self):
        """A function that reads the log panel's background colour: one pixel
        at its lower right corner, where no text reaches."""
        memo = self.find(lambda n: n.getRoleName() == "text" and n.name == "기록 창")
        box = memo.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
        d = xdisplay.Display()
        window = d.create_resource_object("window", self.xid())
        x, y = box.x + box.width - 4, box.y + box.height - 4
        return lambda: bytes(window.get_image(x, y, 1, 1, X.ZPixmap, 0xFFFFFFFF).data[:3])

    # Input.
    def xid(self):
        return self._visible_window(self.app.get_process_id())

    @staticmethod
    def _visible_window(pid):
        """The X window of the program's main window, or None when none is shown."""
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid),
                              "--name", "^Orvalis"],
                             capture_output=True, text=True, check=False).stdout.split()
        return int(out[0]) if out else None

    def key(self, *keys):
        subprocess.run(["xdotool", "key"] + list(keys), check=True)

    def type(self, text):
        subprocess.run(["xdotool", "type", "--delay", "20", text], check=True)

    def focus_address_bar(self):
        window = wait_for(self.xid, what="the X window")
        if not self.window.getState().contains(pyatspi.STATE_ACTIVE):
            subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], check=False)
            wait_for(lambda: self.window.getState().contains(pyatspi.STATE_ACTIVE),
                     what="the window to become active")
            # Activation hands the focus back to the page first.
            time.sleep(0.5)
        self.key("F6")
        time.sleep(0.2)

    def copy_focused_text(self):
        self.key("ctrl+a", "ctrl+c")
        time.sleep(0.3)
        return subprocess.run(["xclip", "-selection", "clipboard", "-o"],
                              capture_output=True, text=True, timeout=5).stdout

    def type_address(self, address):
        """Types an address into the bar, again while a busy machine drops
        keys, until the bar holds it."""
        for _ in range(3):
            self.focus_address_bar()
            self.type(address)
            if self.copy_focused_text() == address:
                return
        raise AssertionError(f"could not type {address!r} into the address bar")

    def enter_address(self, address):
        """Types an address into the bar and presses Enter, as a user would."""
        self.type_address(address)
        self.key("Return")

    def close(self):
        """Asks the window to close, as a window manager does. An open
        drop-down holds a grab, during which the toolkit drops the request,
        so a list the typing left open is closed first."""
        self.key("Escape")
        time.sleep(0.3)
        self._send_close(wait_for(self.xid, what="the X window"))

    @staticmethod
    def _send_close(window):
        d = xdisplay.Display()
        target = d.create_resource_object("window", window)
        protocols = d.intern_atom("WM_PROTOCOLS")
        delete = d.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=target, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        target.send_event(event, event_mask=X.NoEventMask)
        d.flush()
        d.close()

    def close_and_wait(self, timeout):
        """Closes the window and returns the exit status, or None when the
        program has not ended within timeout seconds. On a loaded machine the
        toolkit can lose a close request while the window is busy; as a user
        would, the request is repeated every second while the window stays."""
        deadline = time.monotonic() + timeout
        self.close()
        while True:
            status = self.wait_exit(min(1.0, max(0.0, deadline - time.monotonic())), quiet=True)
            if status is not None:
                return status
            if time.monotonic() >= deadline:
                return self.wait_exit(0)
            window = self._shown_window()
            if window is not None:
                self._send_close(window)

    def _shown_window(self):
        # Asked of the process itself: the accessibility bus needs the main
        # loop, which a program that does not end may no longer run.
        return self._visible_window(self.process.pid)

    def wait_exit(self, timeout, quiet=False):
        """The exit status, or None when the program has not ended in time;
        then, unless quiet, its threads' stacks and whether its window is
        still shown go to standard error, so that a hang explains itself."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            if quiet:
                return None
            print(f"still running; window shown: {self._shown_window() is not None}",
                  file=sys.stderr)
            stacks = subprocess.run(["gdb", "-p", str(self.process.pid), "-batch", "-nx",
                                     "-ex", "thread apply all bt"],
                                    capture_output=True, text=True, timeout=120, check=False)
            print(stacks.stdout[-30000:], file=sys.stderr)
            return None

    def kill(self):
        """Ends the program and anything it started (a wrapper's child too)."""
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait()


def temp_config():
    """A temporary home for the program (see profile_env)."""
    return tempfile.mkdtemp(prefix="orvalis-home-")


def trust_test_authority(workdir):
    """Makes a throw-away authority with a certificate for the site's ".com"
    hosts and mounts a CA bundle that holds it over the system's, so that the
    unchanged program trusts the test site as it would a real one. Returns the
    test site's arguments for serving over TLS."""
    authority = os.path.join(workdir, "authority")
    subprocess.run([os.path.join(SITE, "make-authority"), authority], check=True)
    subprocess.run(["mount", "--bind", os.path.join(authority, "ca-bundle.crt"),
                    "/etc/ssl/certs/ca-certificates.crt"], check=True)
    return ["--tls-cert", os.path.join(authority, "site.pem"),
            "--tls-key", os.path.join(authority, "site.key")]


def null_sound():
    """The program's environment for sound into a null device, so that media
    play on a machine without a sound card."""
    return {"ALSA_CONFIG_PATH": os.path.join(SITE, "null-sound.conf")}


def run_tests(module):
    """A test script's main: the program is its first argument (it becomes
    module.PROGRAM), the rest goes to unittest. Everything the tests and the
    programs they start leave behind (profiles, the test site's logs, the
    sound system's runtime files) goes into one folder, removed when every
    test passed and kept for a look otherwise."""
    module.PROGRAM = os.path.abspath(sys.argv.pop(1))
    prepare_namespace()
    run_dir = tempfile.mkdtemp(prefix="orvalis-e2e-run-")
    tempfile.tempdir = run_dir
    os.environ["TMPDIR"] = run_dir
    passed = unittest.main(module=module, verbosity=2, exit=False).result.wasSuccessful()
    if passed:
        shutil.rmtree(run_dir, ignore_errors=True)
    else:
        print(f"kept for a look: {run_dir}", file=sys.stderr)
    sys.exit(0 if passed else 1)
