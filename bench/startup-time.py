"""Start-up time of the real program against the test site, in the end-to-end
tests' namespace: from launch to the home page's first paint (its blue
header band on the screen) and to the window's caption naming it. By hand:
    tests/app/e2e/run-script bench/startup-time.py build/release/app/orvalis [RUNS]
"""
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "app", "e2e"))
import harness  # noqa: E402
from Xlib import X, display as xdisplay  # noqa: E402

HEADER_BLUE = bytes([0xdb, 0x5b, 0x3b])  # #3b5bdb as the X server stores it


def page_pixel_probe(app):
    """Reads one pixel near the page area's top left corner."""
    view = harness.wait_for(lambda: app.find(lambda n: n.name == "WebKitWebView"),
                            what="the page area", interval=0.005)
    box = view.queryComponent().getExtents(harness.pyatspi.WINDOW_COORDS)
    d = xdisplay.Display()
    window = d.create_resource_object("window", harness.wait_for(app.xid, what="the X window"))
    return lambda: bytes(window.get_image(box.x + 20, box.y + 5, 1, 1, X.ZPixmap,
                                          0xFFFFFFFF).data[:3])


def main():
    program = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    harness.prepare_namespace()
    site = harness.TestSite(tempfile.mkdtemp(prefix="orvalis-startup-"))
    paints, captions = [], []
    try:
        for _ in range(runs):
            # Timed from the launch, not from the wait for the last run to leave the bus.
            harness.wait_for(lambda: not harness.program_on_bus(), what="the last run to end")
            started = time.monotonic()
            app = harness.Orvalis(program, harness.temp_config())
            header = page_pixel_probe(app)
            harness.wait_for(lambda: header() == HEADER_BLUE, what="the home page's header",
                             interval=0.005)
            paints.append(time.monotonic() - started)
            harness.wait_for(lambda: app.title().endswith("벨모라 - 홈"), what="the caption")
            captions.append(time.monotonic() - started)
            app.kill()
    finally:
        site.stop()
    for name, times in (("first paint", paints), ("caption", captions)):
        print(f"launch to the home page's {name}: median {statistics.median(times) * 1000:.0f} ms, "
              f"min {min(times) * 1000:.0f} ms, max {max(times) * 1000:.0f} ms over {runs} runs")


if __name__ == "__main__":
    main()
