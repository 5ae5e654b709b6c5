"""Start-up time of the real program: from launch to the window's caption
naming the home page (its title arrives with the page's first layout),
against the test site, in the end-to-end tests' namespace. By hand:
    tests/app/e2e/run-script bench/startup-time.py build/release/app/orvalis [RUNS]
"""
import os
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "app", "e2e"))
import harness  # noqa: E402


def main():
    program = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    harness.prepare_namespace()
    site = harness.TestSite(tempfile.mkdtemp(prefix="orvalis-startup-"))
    times = []
    try:
        for _ in range(runs):
            started = time.monotonic()
            app = harness.Orvalis(program, harness.temp_config())
            harness.wait_for(lambda: app.title().endswith("벨모라 - 홈"), what="the home page")
            times.append(time.monotonic() - started)
            app.kill()
    finally:
        site.stop()
    print(f"start-up to home page: median {statistics.median(times) * 1000:.0f} ms, "
          f"min {min(times) * 1000:.0f} ms, max {max(times) * 1000:.0f} ms over {runs} runs")


if __name__ == "__main__":
    main()
