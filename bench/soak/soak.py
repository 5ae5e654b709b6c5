"""Soak: drives the real program against the test site for a while, the way a
user who keeps it open all day would, and samples its memory, descriptors,
threads and the firewall's connections every 10 seconds.

Runs inside the end-to-end tests' namespace (see bench/soak/run):
    soak.py PROGRAM [--minutes N] [--warmup M] [--smoke] [--minibrowser]
                    [--keyboard] [--frame-times LIBRARY]
With --minibrowser, PROGRAM is a plain engine browser driven through the same
page loop by keyboard (for comparing the engine's memory). With --keyboard the
program is driven by keyboard and mouse alone, the accessibility bus read only
at start-up (to find the buttons), for telling its own memory growth from what
the soak's reads build. With --frame-times, LIBRARY (bench/soak/FrameTimes.cpp)
is preloaded into the program and times its display refreshes.
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


def live_connections(pid):
    """TCP sockets the process holds that are neither listening nor closed:
    the firewall's connections to the engine and to origins."""
    inodes = set()
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            target = os.readlink(f"/proc/{pid}/fd/{fd}")
            if target.startswith("socket:["):
                inodes.add(target[8:-1])
    except OSError:
        return 0
    count = 0
    for table in ("tcp", "tcp6"):
        for line in read(f"/proc/{pid}/net/{table}").splitlines()[1:]:
            cols = line.split()
            # 0A listening, 07 closed.
            if cols[9] in inodes and cols[3] not in ("0A", "07"):
                count += 1
    return count


class FrameTimes:
    """The frames and log panel updates the preloaded library wrote down, as
    (end in monotonic seconds, milliseconds of work)."""

    def __init__(self, path):
        self.path, self.offset = path, 0
        self.frames, self.updates = [], []

    def read_new(self):
        """Reads what was written since the last call; returns the largest
        frame and update of that stretch."""
        try:
            with open(self.path) as f:
                f.seek(self.offset)
                text = f.read()
        except OSError:
            return 0.0, 0.0
        text = text[:text.rfind("\n") + 1]
        self.offset += len(text.encode())
        frame_max = update_max = 0.0
        for line in text.splitlines():
            kind, end, us = line.split()
            entry = (float(end) / 1000, int(us) / 1000)
            if kind == "F":
                self.frames.append(entry)
                frame_max = max(frame_max, entry[1])
            else:
                self.updates.append(entry)
                update_max = max(update_max, entry[1])
        return frame_max, update_max


def spread(entries, begin, end):
    """(count, median, max) of the milliseconds of the entries ending in [begin, end]."""
    ms = sorted(v for t, v in entries if begin <= t <= end)
    return (len(ms), statistics.median(ms), ms[-1]) if ms else (0, 0.0, 0.0)


class Sampler(threading.Thread):
    """Every SAMPLE_SECONDS: one row of measurements of the program and the
    engine processes it started."""

    def __init__(self, pid, started, frame_times=None):
        super().__init__(daemon=True)
        self.pid, self.started, self.frame_times = pid, started, frame_times
        self.rows = []
        self.web_pids = set()
        self.log_kib = 0  # set by the driver, which reads the log panel
        self.stopping = threading.Event()

    def sample(self):
        rss, pss, private = memory_kib(self.pid)
        web = [p for p, comm in children(self.pid) if comm.startswith("WebKitWebProces")]
        net = [p for p, comm in children(self.pid) if comm.startswith("WebKitNetworkP")]
        self.web_pids.update(web)
        web_mem = [memory_kib(p) for p in web]
        row = {
            "t": time.monotonic() - self.started,
            "ui_rss": rss, "ui_pss": pss, "ui_private": private,
            "web_n": len(web),
            "web_rss": sum(m[0] for m in web_mem), "web_pss": sum(m[1] for m in web_mem),
            "net_pss": sum(memory_kib(p)[1] for p in net),
            "fds": descriptors(self.pid), "threads": threads(self.pid),
            "conns": live_connections(self.pid), "log_kib": self.log_kib,
        }
        if self.frame_times:
            row["frame_max"], row["update_max"] = self.frame_times.read_new()
        # What the window keeps beyond the log text it shows.
        row["ui_pss_beyond_log"] = pss - self.log_kib
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

    def __init__(self, args, workdir):
        self.args = args
        self.window = None
        self.closing = None
        self.found = {}
        self.failed_steps = 0
        self.log_kib = 0
        self.largest_log = (0, 0, 0, 0)  # KiB, lines, and the round's begin and end
        self.measured_at = time.monotonic()
        self.latencies = []
        self.counter = 0
        if args.minibrowser:
            env = dict(os.environ, WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS="1")
            if args.frame_times:
                env.update(LD_PRELOAD=args.frame_times, SOAK_FRAME_TIMES=args.frame_file)
            self.process = subprocess.Popen([args.program, HOME], env=env,
                                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.app = None
            wait_for(lambda: self._window_of(self.process.pid), what="the browser's window")
        else:
            env = {}
            if args.frame_times:
                env = {"LD_PRELOAD": args.frame_times, "SOAK_FRAME_TIMES": args.frame_file}
            self.app = Orvalis(args.program, tempfile.mkdtemp(dir=workdir), env)
            self.process = self.app.process
            self.wait_title("벨모라 - 홈")
            if args.keyboard:
                self._find_buttons()

    def _find_buttons(self):
        """Where the travel buttons are; afterwards the window is not read."""
        self.window = self.app.xid()
        self.buttons = {}
        for name in ("뒤로", "앞으로", "뒤로 목록"):
            box = self.app.named(name).queryComponent().getExtents(harness.pyatspi.WINDOW_COORDS)
            self.buttons[name] = (box.x + box.width // 2, box.y + box.height // 2)
        self.closing, self.app = self.app, None

    def click(self, name):
        x, y = self.buttons[name]
        subprocess.run(["xdotool", "mousemove", "--window", str(self.window), str(x), str(y),
                        "click", "1"], check=True)

    @staticmethod
    def _window_of(pid):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid)],
                             capture_output=True, text=True, check=False).stdout.split()
        return int(out[-1]) if out else None

    def alive(self):
        return self.process.poll() is None

    def wait_title(self, title, timeout=20):
        if self.app:
            wait_for(lambda: self.app.title() == f"{CAPTION} - {title}", timeout,
                     what=f"the page {title!r}", interval=0.5)
        else:
            time.sleep(STEP_SECONDS)

    def step(self, name, action, title=None):
        if not self.alive():
            raise RuntimeError(f"the program ended (status {self.process.returncode}) before {name}")
        try:
            action()
            if title:
                self.wait_title(title)
        except Exception as e:  # noqa: BLE001 - one slow step does not end the soak
            self.failed_steps += 1
            print(f"  step {name}: {e}", file=sys.stderr, flush=True)
            if self.alive():
                subprocess.run(["xdotool", "key", "Escape"], check=False)
        time.sleep(STEP_SECONDS)

    def go(self, url):
        if self.app:
            self.app.enter_address(url)
        else:
            window = self.window or self._window_of(self.process.pid)
            subprocess.run(["xdotool", "windowfocus", "--sync", str(window)], check=False)
            subprocess.run(["xdotool", "key", "ctrl+l", "ctrl+a"], check=True)
            subprocess.run(["xdotool", "type", "--delay", "10", url], check=True)
            subprocess.run(["xdotool", "key", "Return"], check=True)

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
        if self.app:
            self.press("뒤로" if direction < 0 else "앞으로")
        elif self.window:
            self.click("뒤로" if direction < 0 else "앞으로")
        else:
            subprocess.run(["xdotool", "key", "alt+Left" if direction < 0 else "alt+Right"],
                           check=True)

    def history_menu(self):
        if self.app:
            self.press("뒤로 목록")
            items = wait_for(lambda: [n for n in self.controls(self.app.app)
                                      if n.getRoleName() == "push button"
                                      and n.name.startswith("벨모라")], 10, what="the back menu")
            item = items[min(2, len(items) - 1)]
            # The menu lists "site page" for a page titled "site - page".
            title = item.name.replace(" ", "")
            self.app.press(item)
            # Typing into the address bar while the page loads would race it;
            # a page of the same title as the one left gives no sign, and is
            # given the time of a step.
            time.sleep(STEP_SECONDS)
            wait_for(lambda: self.app.title().replace(" ", "").replace("-", "").endswith(title),
                     20, what=f"the page {item.name!r} from the back menu", interval=0.5)
        elif self.window:
            # The menu is opened and closed; its items are found by reading.
            self.click("뒤로 목록")
            time.sleep(1)
            subprocess.run(["xdotool", "key", "Escape"], check=True)
        else:
            subprocess.run(["xdotool", "key", "alt+Left", "alt+Left", "alt+Left"], check=True)

    def clear_log(self):
        if not self.app:
            return
        box = self.memo().queryComponent().getExtents(harness.pyatspi.WINDOW_COORDS)
        window = self.app.xid()
        subprocess.run(["xdotool", "mousemove", "--window", str(window), str(box.x + 40),
                        str(box.y + 20), "click", "3"], check=True)
        item = wait_for(lambda: self.app.find(lambda n: n.name.startswith("지우기")), 10,
                        what="the log menu")
        self.app.press(item)
        wait_for(lambda: len(self.app.log_lines()) <= 3, 10, what="the cleared log")

    def measure_log(self):
        """The log's size, and the UI thread's latency as seen from outside
        (one accessibility round trip, answered by the main loop between
        display refreshes) while the log is this large."""
        if not self.app:
            return
        measured_at, self.measured_at = self.measured_at, time.monotonic()
        text = self.memo().queryText()
        chars = text.characterCount
        log = text.getText(0, -1)
        self.log_kib = len(log.encode()) / 1024
        if self.log_kib > self.largest_log[0]:
            # The round that brought the log to this size.
            self.largest_log = (self.log_kib, log.count("\n"), measured_at,
                                self.measured_at)
            samples = []
            for _ in range(50):
                begin = time.perf_counter()
                text.caretOffset  # noqa: B018 - a round trip to the UI thread
                samples.append((time.perf_counter() - begin) * 1000)
                time.sleep(0.02)
            samples.sort()
            self.latencies = samples
        return chars

    def cycle(self):
        """One round of the loop (about a minute)."""
        self.counter += 1
        n = self.counter
        self.step("address bar: home", lambda: self.go(HOME), "벨모라 - 홈")
        # The page's own script follows its link (the page's insides are not on
        # the accessibility bus).
        self.step("link to a portal", lambda: self.go(HOME + "?auto=portal"), "벨모라 뉴스")
        self.step("back", lambda: self.travel(-1), "벨모라 - 홈")
        self.step("forward", lambda: self.travel(+1), "벨모라 뉴스")
        self.step("frames refusing foreign resources",
                  lambda: self.go("http://www.velmora.com/frames.html"), "벨모라 - 프레임")
        self.step("pop-up into the main window", lambda: self.go(HOME + "?auto=popup1"),
                  "벨모라 - 회원 정보")
        self.step("second pop-up", lambda: self.go(HOME + "?auto=popup2"), "벨모라 - 미니홈")
        self.step("portal by address", lambda: self.go("http://www.velmora.com/main"), "벨모라 메인")
        self.step("ticker", lambda: self.go("http://www.velmora.com/ticker.html"), "벨모라 - 시세")
        time.sleep(10)
        self.step("new page", lambda: self.go(f"http://www.velmora.com/p{n}"), f"벨모라 /p{n}")
        self.step("page refusing an off-site link", lambda: self.go(HOME + "?auto=offsite"),
                  "벨모라 - 홈")
        self.step("history menu", self.history_menu)

    def quiet(self):
        """A plain page and a pause: what is left open afterwards stays open."""
        self.step("quiet page", lambda: self.go("http://www.velmora.com/quiet"), "벨모라 /quiet")
        time.sleep(20)

    def close(self):
        if self.app or self.closing:
            return (self.app or self.closing).close_and_wait(30)
        self.process.terminate()
        return self.process.wait(30)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("program")
    parser.add_argument("--minutes", type=float, default=30)
    parser.add_argument("--warmup", type=float, default=5)
    parser.add_argument("--minibrowser", action="store_true")
    parser.add_argument("--keyboard", action="store_true",
                        help="drive by keyboard and mouse, reading the window only at start-up")
    parser.add_argument("--frame-times", help="the frame timing library to preload")
    parser.add_argument("--smoke", action="store_true",
                        help="fail when the program crashes or keeps more descriptors")
    args = parser.parse_args()

    workdir = tempfile.mkdtemp(prefix="orvalis-soak-")
    args.frame_file = os.path.join(workdir, "frame-times")
    harness.prepare_namespace()
    site = TestSite(workdir)
    driver = Driver(args, workdir)
    started = time.monotonic()
    frame_times = FrameTimes(args.frame_file) if args.frame_times else None
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
    except RuntimeError as e:
        print(f"soak: {e}", file=sys.stderr)
        status = 1
        final = None
    sampler.stopping.set()
    rows = sampler.rows

    name = "MiniBrowser" if args.minibrowser else "Orvalis"
    out = sys.stdout
    out.write(f"\n== soak of {name}: {args.minutes:g} min, {driver.counter} rounds, "
              f"{driver.failed_steps} slow or failed steps, "
              f"{len(sampler.web_pids)} web processes over the run\n")
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
        out.write(f"after a quiet pause: firewall connections {final['conns']}, "
                  f"descriptors {final['fds']} (after the first round {baseline_fds}), "
                  f"threads {final['threads']}\n")
    if frame_times:
        frame_times.read_new()
        n, median, top = spread(frame_times.frames, started + warm, float("inf"))
        out.write(f"frames after warm-up: {n}, median {median:.1f} ms, max {top:.1f} ms\n")
        if driver.largest_log[0]:
            kib, lines, begin, end = driver.largest_log
            n, median, top = spread(frame_times.frames, begin, end)
            u, umedian, utop = spread(frame_times.updates, begin, end)
            out.write(f"display refresh in the round that brought the log to its largest "
                      f"({kib:.0f} KiB, {lines} lines): frames {n}, median {median:.1f} ms, "
                      f"max {top:.1f} ms; log updates {u}, median {umedian:.2f} ms, "
                      f"max {utop:.1f} ms\n")
    if driver.latencies:
        lat = driver.latencies
        out.write(f"largest log {driver.largest_log[0]:.0f} KiB, {driver.largest_log[1]} lines; "
                  f"UI round trip then: median {lat[len(lat) // 2]:.1f} ms, max {lat[-1]:.1f} ms\n")

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
