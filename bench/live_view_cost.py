#!/usr/bin/env python3
"""What the live view costs the recording: vantrel-visa record at Special
over vantrel-sim --pty (the 38400-baud line), in turns without viewers and
with 5 viewers of /events (each also fetching the envelopes, figures and
events once a second, as a page following the run does), and the
recorder's CPU in both; then the page's first picture of a history as large
as the 24-hour reference in headless Chromium (vantrel-bench-live-view).
Not a test: prints one table.

Usage: bench/live_view_cost.py BUILD_DIR [SECONDS_PER_TURN] [TURNS]
(BUILD_DIR a Release build with -DVANTREL_BENCH=ON)
"""
import http.client
import json
import os
import re
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

tests = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests")
sys.path[:0] = [os.path.join(tests, "serve"), os.path.join(tests, "support")]
from live_view_in_chromium import DevTools  # noqa: E402  the tests' DevTools client
from programs import line_matching  # noqa: E402

VIEWERS = 5
TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS


def state(base):
    with urllib.request.urlopen(base + "api/state", timeout=5) as answer:
        return json.load(answer)


def viewer(base, number, stop, fetched):
    """One browser following the run, from a loopback address of its own (as
    five browsers on five machines): the event stream, and the picture's
    requests once a second."""
    host, port = re.match(r"http://([^:]+):(\d+)/", base).groups()
    source = (f"127.0.0.{2 + number}", 0)
    stream = http.client.HTTPConnection(host, int(port), timeout=10, source_address=source)
    try:
        stream.request("GET", "/events")
        events = stream.getresponse()
        last = 0.0
        while not stop.is_set():
            events.readline()
            if time.monotonic() - last >= 1.0:
                last = time.monotonic()
                for path in ("/api/envelopes?width=1200", "/api/figures", "/api/events"):
                    request = http.client.HTTPConnection(host, int(port), timeout=5, source_address=source)
                    request.request("GET", path)
                    fetched[0] += len(request.getresponse().read())
                    request.close()
    except OSError:
        if not stop.is_set():
            raise  # the recorder ending at the turn's end is no failure
    finally:
        stream.close()


def turn(build, link, work, seconds, viewers):
    """Readings per second and the recorder's CPU (share of a core) over the
    middle of one run."""
    csv = os.path.join(work, f"run-{time.monotonic_ns()}.csv")
    record = subprocess.Popen([os.path.join(build, "vantrel-visa"), "record", f"ASRL{link}::INSTR", csv,
                               "--speed", "Special", "--serve", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        base = line_matching(record, r"live view at (http://127\.0\.0\.1:\d+/)", 15).group(1)
        stop = threading.Event()
        fetched = [0]
        threads = [threading.Thread(target=viewer, args=(base, k, stop, fetched), daemon=True)
                   for k in range(viewers)]
        for t in threads:
            t.start()
        time.sleep(2)  # settled: session open, viewers connected
        readings0, cpu0, t0 = state(base)["readings"], cpu_seconds(record.pid), time.monotonic()
        time.sleep(seconds)
        readings1, cpu1, t1 = state(base)["readings"], cpu_seconds(record.pid), time.monotonic()
        stop.set()
        return (readings1 - readings0) / (t1 - t0), (cpu1 - cpu0) / (t1 - t0), fetched[0] / (t1 - t0)
    finally:
        record.terminate()
        record.wait(timeout=10)


def first_picture(build, work):
    """Milliseconds from opening the page to the whole day drawn, and the
    server's time for that envelope answer, over 5 page loads."""
    server = subprocess.Popen([os.path.join(build, "vantrel-bench-live-view")], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    browser = None
    try:
        url = line_matching(server, r"live view at (http://\S+)", 300).group(1)
        started = time.monotonic()
        with urllib.request.urlopen(url + "api/envelopes?width=1200", timeout=30) as answer:
            answer.read()
        envelope_ms = 1000 * (time.monotonic() - started)
        browser = DevTools(os.path.join(work, "profile"))
        browser.open_page("about:blank")
        pictures = []
        for _ in range(5):
            browser.call("Page.navigate", url="about:blank")
            started = time.monotonic()
            browser.call("Page.navigate", url=url)
            while not browser.evaluate("(() => { const p = document.getElementById('plot');"
                                       " return p !== null && p.dataset.kind === 'columns'"
                                       " && Number(p.dataset.points) > 0; })()"):
                if time.monotonic() - started > 30:
                    sys.exit("no first picture within 30 s")
                time.sleep(0.005)
            pictures.append(1000 * (time.monotonic() - started))
        return statistics.median(pictures), max(pictures), envelope_ms
    finally:
        if browser:
            browser.close()
        server.stdin.close()
        server.wait(timeout=10)


def main():
    build = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 15
    turns = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    work = tempfile.mkdtemp(prefix="vantrel-live-view-bench-")
    link = os.path.join(work, "orvane")
    sim = subprocess.Popen([os.path.join(build, "vantrel-sim"), "--pty", link],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        line_matching(sim, r".+", 15)
        results = {0: [], VIEWERS: []}
        for _ in range(turns):
            for viewers in (0, VIEWERS):
                results[viewers].append(turn(build, link, work, seconds, viewers))
        rate = {v: statistics.median(r[0] for r in results[v]) for v in results}
        cpu = {v: statistics.median(r[1] for r in results[v]) for v in results}
        ratios = [with_[0] / without[0] for without, with_ in zip(results[0], results[VIEWERS])]
        load = os.getloadavg()
        print(f"live view cost, {turns} turns of {seconds:.0f} s each, load average {load[0]:.2f}")
        print("| what | figure | target |")
        print("|---|---|---|")
        print(f"| readings/s at Special over vantrel-sim --pty, no viewers (median) | {rate[0]:.1f} | |")
        print(f"| readings/s with {VIEWERS} viewers following the run (median) | {rate[VIEWERS]:.1f} | |")
        print(f"| ratio, median of the turns' ratios ({', '.join(f'{r:.3f}' for r in ratios)}) | "
              f"{statistics.median(ratios):.3f} | at least 0.98 |")
        print(f"| recorder CPU, no viewers | {100 * cpu[0]:.2f} % of a core | |")
        print(f"| recorder CPU with {VIEWERS} viewers | {100 * cpu[VIEWERS]:.2f} % of a core | |")
        print(f"| serving {VIEWERS} viewers (the difference) | {100 * (cpu[VIEWERS] - cpu[0]):.2f} % of a core | below 2 % |")
        print(f"| bytes served a second to {VIEWERS} viewers' page requests | "
              f"{statistics.median(r[2] for r in results[VIEWERS]):.0f} | |")
        median, worst, envelope = first_picture(build, work)
        print(f"| first picture of a 24-hour history (13.6 million readings) in Chromium, median (worst) of 5 |"
              f" {median:.0f} ms ({worst:.0f} ms) | 1 s |")
        print(f"| the server's answer for that picture (1,200 columns of the whole day) | {envelope:.0f} ms | |")
    finally:
        sim.terminate()
        sim.wait(timeout=10)
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
