"""Soak: drives the real program against the test site for a while, the way a
user who keeps it open all day would, and samples its memory, descriptors,
threads and the firewall's connections every 10 seconds.

Runs inside the end-to-end tests' namespace (see bench/soak/run):
    soak.py PROGRAM [--minutes N] [--warmup M] [--smoke] [--minibrowser]
                    [--read-back] [--frame-times LIBRARY]
The program is driven by keyboard and mouse, its window read over the
accessibility bus only at start-up (to find where its controls are): every
object read so is built in the window's process and stays there, which is the
soak's own memory growth, not the program's. Whether a step arrived is seen
from outside: the window's caption as the X server holds it, and the pages the
test site served. With --read-back the program is driven and checked through
the accessibility bus instead. With --minibrowser, PROGRAM is a plain engine
browser driven through the same page loop by keyboard (for comparing the
engine's memory). With --frame-times, LIBRARY (bench/soak/FrameTimes.cpp) is
preloaded into the program and times its display refreshes.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "..", "tests", "app", "e2e"))
import harness  # noqa: E402
import statistics  # noqa: E402
from harness import Orvalis, TestSite, wait_for  # noqa: E402

HOME = "http://www.velmora.co.kr/"
CAPTION = "Orvalis v0.11b"
SAMPLE_SECONDS = 10
STEP_SECONDS = 2
LOG_CLEAR_SECONDS = 600
ENGINE_PROCESSES = ("WebKitWebProces", "WebKitNetworkP", "WebKitGPUProces")


# Reading /proc.
def read(path):
    try:
        with open(path) as f:
            return f.read()
    except OSError:
        return ""


def children(pid):
    """Every descendant of pid, as (pid, command name)."""
    parents = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            stat = read(f"/proc/{entry}/stat")
            if stat:
                comm = stat[stat.index("(") + 1:stat.rindex(")")]
                parents[int(entry)] = (int(stat[stat.rindex(")") + 2:].split()[1]), comm)
    found, todo = [], [pid]
    while todo:
        parent = todo.pop()
        for child, (ppid, comm) in parents.items():
            if ppid == parent:
                found.append((child, comm))
                todo.append(child)
    return found


def memory_kib(pid):
    """(RSS, PSS, private) in KiB. A process's PSS rises when another one
    sharing its libraries ends (runs side by side); its private memory does not."""
    fields = dict(re.findall(r"^(\w+):\s+(\d+) kB", read(f"/proc/{pid}/smaps_rollup"), re.M))
    return (int(fields.get("Rss", 0)), int(fields.get("Pss", 0)),
            int(fields.get("Private_Clean", 0)) + int(fields.get("Private_Dirty", 0)))


def descriptors(pid):
    try:
        return len(os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return 0


def threads(pid):
    match = re.search(r"^Threads:\s+(\d+)", read(f"/proc/{pid}/status"), re.M)
    return int(match.group(1)) if match else 0


TCP_STATES = {"01": "established", "02": "syn-sent", "04": "fin-wait-1", "05": "fin-wait-2",
              "06": "time-wait", "08": "close-wait", "09": "last-ack", "0B": "closing"}


def tcp_sockets(pid):
    """The TCP sockets the process holds, as (local port, remote port, state)."""
    inodes = set()
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
    except OSError:
        return []
    found = []
    for table in ("tcp", "tcp6"):
        for line in read(f"/proc/{pid}/net/{table}").splitlines()[1:]:
            cols = line.split()
            if cols[9] in inodes:
                found.append((int(cols[1].rsplit(":", 1)[1], 16),
                              int(cols[2].rsplit(":", 1)[1], 16), cols[3]))
    return found


def live_connections(pid):
    """The firewall's connections to the engine and to origins: the sockets
    neither listening (0A) nor closed (07)."""
    return [s for s in tcp_sockets(pid) if s[2] not in ("0A", "07")]


def trimmed_memory_kib(pid):
    """(PSS, private) in KiB after the process gave its allocator's freed heap
    back to the system: what it keeps, apart from what it once needed."""
    subprocess.run(["gdb", "-p", str(pid), "-batch", "-nx", "-ex", "call (int) malloc_trim(0)"],
                   capture_output=True, timeout=120, check=False)
    return memory_kib(pid)[1:]


def describe_connections(pid):
    """Each live connection, with its peer: a connection on a listening port
    is one the engine opened, any other one the firewall opened to an origin."""
    sockets = tcp_sockets(pid)
    listening = {local for local, _, state in sockets if state == "0A"}
    return ", ".join(
        f"{'engine' if local in listening else 'origin :' + str(remote)} "
        f"{TCP_STATES.get(state, state)}"
        for local, remote, state in sockets if state not in ("0A", "07"))


class FrameTimes:
    """What the preloaded library wrote down: frames and log panel updates as
    (end in monotonic seconds, milliseconds of work), the log's bytes after
    each update, and the stretches in which a page was loading."""

    LOAD_LIMIT = 20  # seconds: a view that ends while loading finishes nothing

    def __init__(self, path):
        self.path, self.offset = path, 0
        self.frames, self.updates, self.log_bytes = [], [], []
        self.loads, self.loading = [], {}
        self.lock = threading.Lock()

    def read_new(self):
        """Reads what was written since the last call."""
        with self.lock:
            try:
                with open(self.path) as f:
                    f.seek(self.offset)
                    text = f.read()
            except OSError:
                return
            text = text[:text.rfind("\n") + 1]
            self.offset += len(text.encode())
            for line in text.splitlines():
                kind, end, value, *rest = line.split()
                end = float(end) / 1000
                if kind == "F":
                    self.frames.append((end, int(value) / 1000))
                elif kind == "U":
                    self.updates.append((end, int(value) / 1000))
                    self.log_bytes.append((end, int(rest[0])))
                elif value == "0":
                    self.loading[rest[0]] = end
                elif value == "3" and rest[0] in self.loading:
                    self.loads.append((self.loading.pop(rest[0]), end))

    def log_kib(self):
        with self.lock:
            return self.log_bytes[-1][1] / 1024 if self.log_bytes else 0

    def log_since(self, begin):
        """The log's smallest size in KiB after begin, or None without an update since."""
        with self.lock:
            sizes = [b for t, b in self.log_bytes if t >= begin]
        return min(sizes) / 1024 if sizes else None

    def loading_at(self, t):
        return any(b <= t <= min(e, b + self.LOAD_LIMIT) for b, e in self.loads) or any(
            b <= t <= b + self.LOAD_LIMIT for b in self.loading.values())

    def frames_after_updates(self):
        """The first frame after each log update that came with no page loading:
        the frame that shows it."""
        found, i = [], 0
        for t, _ in self.updates:
            while i < len(self.frames) and self.frames[i][0] < t:
                i += 1
            if i < len(self.frames) and self.frames[i][0] - t < 1 and not self.loading_at(t):
                found.append(self.frames[i])
        return found


def spread(entries, begin, end):
    """(count, median, 99th percentile, max) of the milliseconds of the entries
    ending in [begin, end]."""
    ms = sorted(v for t, v in entries if begin <= t <= end)
    if not ms:
        return 0, 0.0, 0.0, 0.0
    return len(ms), statistics.median(ms), ms[max(0, -(-len(ms) * 99 // 100) - 1)], ms[-1]


class Sampler(threading.Thread):
    """Every SAMPLE_SECONDS: one row of measurements of the program and the
    engine processes it started."""

    def __init__(self, pid, started, frame_times=None):
        super().__init__(daemon=True)
        self.pid, self.started, self.frame_times = pid, started, frame_times
        self.rows = []
        self.web_pids = set()
        self.log_kib = 0  # set by the driver when it reads the log panel
        self.sampled_at = started
        self.stopping = threading.Event()

    def sample(self):
        rss, pss, private = memory_kib(self.pid)
        web = [p for p, comm in children(self.pid) if comm.startswith("WebKitWebProces")]
        net = [p for p, comm in children(self.pid) if comm.startswith("WebKitNetworkP")]
        self.web_pids.update(web)
        web_mem = [memory_kib(p) for p in web]
        now = time.monotonic()
        row = {
            "t": now - self.started,
            "ui_rss": rss, "ui_pss": pss, "ui_private": private,
            "web_n": len(web),
            "web_rss": sum(m[0] for m in web_mem), "web_pss": sum(m[1] for m in web_mem),
            "net_pss": sum(memory_kib(p)[1] for p in net),
            "fds": descriptors(self.pid), "threads": threads(self.pid),
            "conns": len(live_connections(self.pid)), "log_kib": self.log_kib,
        }
        if self.frame_times:
            self.frame_times.read_new()
            row["log_kib"] = self.frame_times.log_kib()
            row["frame_max"] = spread(self.frame_times.frames, self.sampled_at, now)[3]
            row["update_max"] = spread(self.frame_times.updates, self.sampled_at, now)[3]
        self.sampled_at = now
        # What the window keeps beyond the log text it shows.
        row["ui_pss_beyond_log"] = pss - row["log_kib"]
        self.rows.append(row)
        return row

    def run(self):
        while not self.stopping.wait(SAMPLE_SECONDS):
            if not os.path.exists(f"/proc/{self.pid}"):
                return
            self.sample()


def slope(rows, key, since):
    """Least-squares slope of key per 10 minutes over the rows from since on."""
    points = [(r["t"], r[key]) for r in rows if r["t"] >= since]
    if len(points) < 3:
        return None
    n = len(points)
    mt = sum(t for t, _ in points) / n
    mv = sum(v for _, v in points) / n
    den = sum((t - mt) ** 2 for t, _ in points)
    return sum((t - mt) * (v - mv) for t, v in points) / den * 600 if den else 0.0


def at(rows, seconds):
    """The row nearest to the given time."""
    return min(rows, key=lambda r: abs(r["t"] - seconds)) if rows else None


COLUMNS = [("t", "t/s", 6, 1), ("ui_rss", "UI RSS MiB", 11, 1024), ("ui_pss", "UI PSS MiB", 11, 1024),
           ("ui_private", "UI priv MiB", 12, 1024),
           ("web_n", "web", 4, 1), ("web_rss", "web RSS MiB", 12, 1024),
           ("web_pss", "web PSS MiB", 12, 1024), ("net_pss", "net PSS MiB", 12, 1024),
           ("log_kib", "log KiB", 8, 1), ("fds", "fds", 5, 1), ("threads", "thr", 5, 1),
           ("conns", "conns", 6, 1), ("frame_max", "frame max ms", 13, 1.0),
           ("update_max", "log upd max ms", 15, 1.0)]


def print_table(rows, out, every=6):
    """Every sixth row; the frame columns give the largest since the row before."""
    out.write(" ".join(f"{title:>{width}}" for _, title, width, _ in COLUMNS) + "\n")
    shown = 0
    for i, row in enumerate(rows):
        if i % every == 0 or i == len(rows) - 1:
            row = dict(row)
            for key in ("frame_max", "update_max"):
                row[key] = max(r.get(key, 0) for r in rows[shown:i + 1])
            shown = i + 1
            out.write(" ".join(f"{row.get(key, 0) / div:>{width}.{1 if isinstance(div, float) or div > 1 else 0}f}"
                               for key, _, width, div in COLUMNS) + "\n")


# Driving the program.
class Driver:
    """One program, driven through the loop. Failures of a single step
    (a page that does not arrive in time on a loaded machine) are counted,
    not fatal; the program ending is."""

    def __init__(self, args, workdir, frame_times):
        self.args = args
        self.frame_times = frame_times
        self.window = None
        self.closing = None
        self.found = {}
        self.places = {}
        self.failed_steps = 0
        self.log_kib = 0
        self.largest_log = (0, 0)  # KiB and lines, when the log is read back
        self.latencies = []
        self.counter = 0
        self.rounds = []  # (begin, end) in monotonic seconds
        if args.minibrowser:
            env = dict(os.environ, WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS="1")
            if args.frame_times:
                env.update(LD_PRELOAD=args.frame_times, SOAK_FRAME_TIMES=args.frame_file)
            self.process = subprocess.Popen([args.program, HOME], env=env,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.app = None
            self.window = wait_for(lambda: self._window_of(self.process.pid),
                                   what="the browser's window")
            self.caption = None
        else:
            env = {}
            if args.frame_times:
                env = {"LD_PRELOAD": args.frame_times, "SOAK_FRAME_TIMES": args.frame_file}
            self.app = Orvalis(args.program, tempfile.mkdtemp(dir=workdir), env)
            self.process = self.app.process
            self.caption = lambda title: f"{CAPTION} - {title}"
            self.wait_title("벨모라 - 홈")
            if not args.read_back:
                self._find_places()

    def _find_places(self):
        """Where the travel buttons and the log panel are; afterwards the
        window is not read over the accessibility bus."""
        self.window = self.app.xid()
        for name in ("뒤로", "앞으로", "뒤로 목록", "앞으로 목록"):
            box = self.app.named(name).queryComponent().getExtents(harness.pyatspi.WINDOW_COORDS)
            self.places[name] = (box.x + box.width // 2, box.y + box.height // 2)
        box = self.memo().queryComponent().getExtents(harness.pyatspi.WINDOW_COORDS)
        self.places["log"] = (box.x + 40, box.y + 20)
        self.found.clear()
        self.closing, self.app = self.app, None

    def click(self, name, button="1"):
        x, y = self.places[name]
        subprocess.run(["xdotool", "mousemove", "--window", str(self.window), str(x), str(y),
                        "click", button], check=True)

    @staticmethod
    def key(*keys):
        subprocess.run(["xdotool", "key"] + list(keys), check=True)

    @staticmethod
    def _window_of(pid):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                             capture_output=True, text=True, check=False).stdout.split()
        return int(out[-1]) if out else None

    def alive(self):
        return self.process.poll() is None

    def x_caption(self):
        """The window's caption as the X server holds it: reading it asks the
        program nothing."""
        return subprocess.run(["xdotool", "getwindowname", str(self.window)],
                              capture_output=True, text=True, check=False).stdout.strip()

    def wait_title(self, title, timeout=20):
        if not self.caption:
            # The plain browser opens pop-ups in windows of their own and
            # follows off-site links: its pages are not checked.
            time.sleep(STEP_SECONDS)
        elif self.app:
            wait_for(lambda: self.app.title() == self.caption(title), timeout,
                     what=f"the page {title!r}", interval=0.5)
        else:
            wait_for(lambda: self.caption(title) in self.x_caption(), timeout,
                     what=f"the page {title!r} (caption {self.x_caption()!r})", interval=0.5)

    def step(self, name, action, title=None):
        if not self.alive():
            raise RuntimeError(f"the program ended (status {self.process.returncode}) before {name}")
        try:
            action()
            if title:
                self.wait_title(title)
        except Exception as e:  # noqa: BLE001 - one slow step does not end the soak
            self.failed_steps += 1
            print(f"  round {self.counter}, step {name}: {e}", file=sys.stderr, flush=True)
            if self.alive():
                subprocess.run(["xdotool", "key", "Escape"], check=False)
        time.sleep(STEP_SECONDS)

    def go(self, url):
        if self.app:
            self.app.enter_address(url)
        else:
            # A busy machine drops keys: the address is typed again until the
            # bar holds it, as the clipboard (the X server's) tells.
            for _ in range(3):
                subprocess.run(["xdotool", "windowfocus", "--sync", str(self.window)], check=False)
                self.key("ctrl+l", "ctrl+a")
                subprocess.run(["xdotool", "type", "--delay", "10", url], check=True)
                self.key("ctrl+a", "ctrl+c")
                time.sleep(0.3)
                if subprocess.run(["xclip", "-selection", "clipboard", "-o"], capture_output=True,
                                  text=True, timeout=5, check=False).stdout == url:
                    break
            self.key("Return")

    # Every object read over the accessibility bus is built in the window's
    # process (and the page's in the engine's): the controls that stay are
    # looked up once, and walks leave out the page.
    @staticmethod
    def controls(node, depth=0):
        yield node
        if depth < 40 and node.name != "WebKitWebView":
            for child in harness.accessible_children(node):
                yield from Driver.controls(child, depth + 1)

    def control(self, predicate, what):
        if what not in self.found:
            self.found[what] = wait_for(
                lambda: next((n for n in self.controls(self.app.window) if predicate(n)), None),
                10, what=what)
        return self.found[what]

    def press(self, name):
        self.app.press(self.control(lambda n: n.name == name, name))

    def memo(self):
        return self.control(lambda n: n.getRoleName() == "text" and n.name == "기록 창", "log")

    def travel(self, direction):
        name = "뒤로" if direction < 0 else "앞으로"
        if self.app:
            self.press(name)
        elif self.places:
            self.click(name)
        else:
            self.key("alt+Left" if direction < 0 else "alt+Right")

    def history_menu(self, name, index, title):
        """Opens the back or forward menu and picks its index-th page."""
        if self.app:
            self.press(name)
            items = wait_for(lambda: [n for n in self.controls(self.app.app)
                                      if n.getRoleName() == "menu item"
                                      and n.name.startswith("벨모라")], 10, what=f"the {name}")
            self.app.press(items[min(index, len(items) - 1)])
        elif self.places:
            self.click(name)
            # The menu opens with its first page focused.
            time.sleep(1)
            self.key(*["Down"] * index, "Return")
        else:
            self.key(*["alt+Left" if name == "뒤로 목록" else "alt+Right"] * (index + 1))
        self.wait_title(title)

    def clear_log(self):
        """Clears the log from its context menu; without reading the window,
        the log panel's next update tells that it was cleared."""
        if self.app:
            box = self.memo().queryComponent().getExtents(harness.pyatspi.WINDOW_COORDS)
            subprocess.run(["xdotool", "mousemove", "--window", str(self.app.xid()),
                            str(box.x + 40), str(box.y + 20), "click", "3"], check=True)
            item = wait_for(lambda: self.app.find(lambda n: n.name.startswith("지우기")), 10,
                            what="the log menu")
            self.app.press(item)
            wait_for(lambda: len(self.app.log_lines()) <= 3, 10, what="the cleared log")
        elif self.places:
            clicked = time.monotonic()
            self.click("log", "3")
            time.sleep(1)
            self.key("e")  # the mnemonic of its clear item
            if self.frame_times:
                def cleared():
                    self.frame_times.read_new()
                    size = self.frame_times.log_since(clicked)
                    return size is not None and size < 1
                wait_for(cleared, 10, what="the cleared log")

    def measure_log(self):
        """Read back: the log's size, and the UI thread's latency as seen from
        outside (one accessibility round trip, answered by the main loop
        between display refreshes) while the log is this large."""
        if not self.app:
            return
        text = self.memo().queryText()
        log = text.getText(0, -1)
        self.log_kib = len(log.encode()) / 1024
        if self.log_kib > self.largest_log[0]:
            self.largest_log = (self.log_kib, log.count("\n"))
            samples = []
            for _ in range(50):
                begin = time.perf_counter()
                text.caretOffset  # noqa: B018 - a round trip to the UI thread
                samples.append((time.perf_counter() - begin) * 1000)
                time.sleep(0.02)
            samples.sort()
            self.latencies = samples

    def cycle(self):
        """One round of the loop (about a minute)."""
        self.counter += 1
        n = self.counter
        begin = time.monotonic()
        self.step("address bar: home", lambda: self.go(HOME), "벨모라 - 홈")
        # The page's own script follows its link (the page's insides are not on
        # the accessibility bus).
        self.step("link to a portal", lambda: self.go(HOME + "?auto=portal"), "벨모라 뉴스")
        self.step("frames refusing foreign resources",
                  lambda: self.go("http://www.velmora.com/frames.html"), "벨모라 - 프레임")
        self.step("pop-up into the main window", lambda: self.go(HOME + "?auto=popup1"),
                  "벨모라 - 회원 정보")
        self.step("second pop-up", lambda: self.go(HOME + "?auto=popup2"), "벨모라 - 미니홈")
        self.step("portal by address", lambda: self.go("http://www.velmora.com/main"), "벨모라 메인")
        # Back to a page that does nothing when it loads: one the engine no
        # longer keeps is loaded again, and a page that follows its own link
        # at load would leave at once.
        self.step("back", lambda: self.travel(-1), "벨모라 - 미니홈")
        self.step("forward", lambda: self.travel(+1), "벨모라 메인")
        self.step("ticker", lambda: self.go("http://www.velmora.com/ticker.html"), "벨모라 - 시세")
        time.sleep(10)
        self.step("new page", lambda: self.go(f"http://www.velmora.com/p{n}"), f"벨모라 /p{n}")
        self.step("page refusing an off-site link", lambda: self.go(HOME + "?auto=offsite"),
                  "벨모라 - 홈")
        # Back past the new page and the ticker, then forward to the ticker.
        self.step("back menu", lambda: self.history_menu("뒤로 목록", 2, "벨모라 메인"))
        self.step("forward menu", lambda: self.history_menu("앞으로 목록", 0, "벨모라 - 시세"))
        self.rounds.append((begin, time.monotonic()))

    def quiet(self):
        """A plain page and a pause: what is left open afterwards stays open."""
        self.step("quiet page", lambda: self.go("http://www.velmora.com/quiet"), "벨모라 /quiet")
        time.sleep(20)

    def close(self):
        if self.app or self.closing:
            return (self.app or self.closing).close_and_wait(30)
        self.process.terminate()
        return self.process.wait(30)


def report_refresh(out, frame_times, rounds, warm):
    """The display refresh's times after warm-up and in the round that brought
    the log to its largest: the log panel's updates, the frames that showed
    one while no page was loading, and every frame."""
    frame_times.read_new()
    largest, begin, end = 0, 0.0, 0.0
    for b, e in rounds:
        size = max((n for t, n in frame_times.log_bytes if b <= t <= e), default=0)
        if size > largest:
            largest, begin, end = size, b, e
    spans = [("after warm-up", warm, float("inf"))]
    if largest:
        spans.append((f"round with the log largest ({largest / 1024:.0f} KiB)", begin, end))
    out.write("display refresh, ms (count: median / p99 / max):\n" + " " * 38
              + "   ".join(f"{title:<32}" for title, _, _ in spans) + "\n")
    for what, entries in (("log updates", frame_times.updates),
                          ("frames showing one, no page loading",
                           frame_times.frames_after_updates()),
                          ("all frames", frame_times.frames)):
        cells = []
        for _, b, e in spans:
            n, median, p99, top = spread(entries, b, e)
            cells.append(f"{n:>6}: {median:6.2f} / {p99:6.1f} / {top:6.1f}")
        out.write(f"  {what:<36}" + "   ".join(cells) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--warmup", type=float, default=5)
    parser.add_argument("--minibrowser", action="store_true")
    parser.add_argument("--read-back", action="store_true",
                        help="drive and check the program through the accessibility bus")
    parser.add_argument("--frame-times", help="the frame timing library to preload")
    parser.add_argument("--smoke", action="store_true",
                        help="fail when the program crashes or keeps more descriptors")
    args = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="orvalis-soak-")
    args.frame_file = os.path.join(workdir, "frame-times")
    harness.prepare_namespace()
    site = TestSite(workdir)
    frame_times = FrameTimes(args.frame_file) if args.frame_times else None
    driver = Driver(args, workdir, frame_times)
    started = time.monotonic()
    sampler = Sampler(driver.process.pid, started, frame_times)
    sampler.start()
    end = started + args.minutes * 60
    next_clear = started + LOG_CLEAR_SECONDS
    baseline_fds = None
    status = 0
    try:
        while time.monotonic() < end:
            driver.cycle()
            if baseline_fds is None:
                baseline_fds = descriptors(driver.process.pid)
            driver.measure_log()
            sampler.log_kib = driver.log_kib
            if time.monotonic() >= next_clear:
                driver.step("log clear", driver.clear_log)
                next_clear += LOG_CLEAR_SECONDS
        driver.quiet()
        final = sampler.sample()
        held = describe_connections(driver.process.pid)
        if held:
            # Whether a connection is a last request's, or one that stays.
            time.sleep(30)
            held += f"; 30 s later {len(live_connections(driver.process.pid))}"
    except RuntimeError as e:
        print(f"soak: {e}", file=sys.stderr)
        status = 1
        final = None
    sampler.stopping.set()
    rows = sampler.rows

    name = "MiniBrowser" if args.minibrowser else "Orvalis"
    out = sys.stdout
    out.write(f"\n== soak of {name}: {args.minutes:g} min, {driver.counter} rounds, "
              f"{driver.failed_steps} failed steps, {len(site.lines())} requests served by the "
              f"site, {len(sampler.web_pids)} web processes over the run\n")
    print_table(rows, out)
    warm = args.warmup * 60
    if rows and rows[-1]["t"] > warm:
        out.write(f"\nslopes after {args.warmup:g} min warm-up, per 10 min:\n")
        for key, label, div in (("ui_pss", "UI PSS MiB", 1024),
                                ("ui_pss_beyond_log", "UI PSS beyond log MiB", 1024),
                                ("ui_rss", "UI RSS MiB", 1024),
                                ("ui_private", "UI private MiB", 1024),
                                ("web_pss", "web PSS MiB", 1024), ("net_pss", "net PSS MiB", 1024),
                                ("log_kib", "log KiB", 1), ("fds", "fds", 1),
                                ("threads", "threads", 1)):
            value = slope(rows, key, warm)
            if value is not None:
                out.write(f"  {label:<22} {value / div:+9.2f}\n")
        r10, rend = at(rows, 600), rows[-1]
        if r10 and rend["t"] >= 1200 and r10["web_pss"]:
            out.write(f"web PSS at 10 min {r10['web_pss'] / 1024:.1f} MiB, at end "
                      f"{rend['web_pss'] / 1024:.1f} MiB ({(rend['web_pss'] / r10['web_pss'] - 1) * 100:+.1f}%)\n")
            # The engine's releases draw a saw-tooth with a period of minutes:
            # single samples fall on a peak or in a trough, means of four
            # minutes around 10 minutes and of the last four do not.
            early = [r["web_pss"] for r in rows if 480 <= r["t"] <= 720]
            late = [r["web_pss"] for r in rows if r["t"] >= rend["t"] - 240]
            if early and late:
                a, b = statistics.mean(early) / 1024, statistics.mean(late) / 1024
                out.write(f"web PSS mean of minutes 8-12 {a:.1f} MiB, of the last 4 minutes "
                          f"{b:.1f} MiB ({(b / a - 1) * 100:+.1f}%)\n")
    if final:
        out.write(f"after a quiet pause: firewall connections {final['conns']}"
                  f"{f' ({held})' if held else ''}, descriptors {final['fds']} "
                  f"(after the first round {baseline_fds}), threads {final['threads']}\n")
    if frame_times:
        report_refresh(out, frame_times, driver.rounds, started + warm)
    if final and not args.smoke:
        pss, private = trimmed_memory_kib(driver.process.pid)
        out.write(f"UI after giving freed heap back (malloc_trim): PSS {pss / 1024:.1f} MiB "
                  f"(was {final['ui_pss'] / 1024:.1f}), private {private / 1024:.1f} MiB "
                  f"(was {final['ui_private'] / 1024:.1f})\n")
    if driver.latencies:
        lat = driver.latencies
        out.write(f"largest log read back {driver.largest_log[0]:.0f} KiB, {driver.largest_log[1]} "
                  f"lines; UI round trip then: median {lat[len(lat) // 2]:.1f} ms, "
                  f"max {lat[-1]:.1f} ms\n")

    code = driver.close() if driver.alive() else driver.process.returncode
    out.write(f"exit status {code}\n")
    site.stop()
    if args.smoke:
        if status or code != 0:
            status = 1
        elif final and baseline_fds is not None and final["fds"] > baseline_fds + 2:
            print(f"soak: descriptors grew from {baseline_fds} to {final['fds']}", file=sys.stderr)
            status = 1
    return status


if __name__ == "__main__":
    sys.exit(main())
