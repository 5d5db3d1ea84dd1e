#!/usr/bin/env python3
"""The live view in a real browser.

Starts vantrel-sim on loopback TCP, vantrel-visa record against it with
--serve on a free loopback port and a token file, and drives Debian's
headless Chromium through its DevTools protocol over a pipe (no WebSocket
library needed). Checks: requests without the token, or with a wrong one,
get 401; the page opened with ?token= shows the traces; the newest reading
changes within a second; zooming in by the wheel ends in single readings; an
outage (the simulator ended, and started again on its port once the page has
shown the loss) shows as "session lost" and then reopened. Every step waits
for what it checks, with generous bounds: a loaded machine only slows it.

Usage: live_view_in_chromium.py VANTREL_SIM VANTREL_VISA [SCREENSHOT.png]
"""
import base64
import json
import os
import re
import secrets
import subprocess
import sys
import time
import urllib.error
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from programs import fail, line_matching, test_run  # noqa: E402

CHROMIUM = "/usr/bin/chromium"



def wait_for(what, guard, probe, every=0.1):
    """Calls probe() until it gives something true; fails after guard seconds."""
    deadline = time.monotonic() + guard
    while time.monotonic() < deadline:
        value = probe()
        if value:
            return value
        time.sleep(every)
    fail(f"{what}: not within {guard} s")


class DevTools:
    """Chromium's DevTools protocol over --remote-debugging-pipe: JSON
    messages ended by a NUL byte, commands on fd 3, answers on fd 4."""

    def __init__(self, profile):
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()

        def give_pipes():
            os.dup2(to_browser_read, 3)
            os.dup2(from_browser_write, 4)

        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--remote-debugging-pipe",
             "--no-first-run", "--no-default-browser-check", f"--user-data-dir={profile}",
             "--window-size=1200,900", "about:blank"],
            pass_fds=(3, 4), preexec_fn=give_pipes, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_read)
        os.close(from_browser_write)
        self.next_id = 0
        self.pending = b""
        self.session = None

    def call(self, method, guard=30, **params):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + guard
        while time.monotonic() < deadline:
            while b"\0" in self.pending:
                raw, self.pending = self.pending.split(b"\0", 1)
                answer = json.loads(raw)
                if answer.get("id") == self.next_id:
                    if "error" in answer:
                        fail(f"{method}: {answer['error']}")
                    return answer.get("result", {})
            chunk = os.read(self.from_browser, 1 << 16)
            if not chunk:
                fail("Chromium ended")
            self.pending += chunk
        fail(f"{method}: no answer from Chromium within {guard} s")

    def open_page(self, url):
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Page.enable")
        self.call("Page.navigate", url=url)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result.get("result", {}).get("value")

    def wheel(self, x, y, delta):
        self.call("Input.dispatchMouseEvent", type="mouseWheel", x=x, y=y, deltaX=0, deltaY=delta)

    def close(self):
        self.process.kill()
        self.process.wait()


def status_of(url, headers=None):
    request = urllib.request.Request(url, headers=headers or {})
    try:
        with urllib.request.urlopen(request, timeout=5) as response:
            return response.status
    except urllib.error.HTTPError as error:
        return error.code


def main():
    simulator, recorder = sys.argv[1], sys.argv[2]
    screenshot = sys.argv[3] if len(sys.argv) > 3 else None
    if not os.access(CHROMIUM, os.X_OK):
        fail(f"{CHROMIUM} is missing: scripts/deps.sh installs the Debian package chromium")
    with test_run("vantrel-live-view-") as (work, processes):
        def start_simulator(port):
            sim = subprocess.Popen([simulator, "--tcp", str(port)], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL)
            processes.append(sim)
            return sim, line_matching(sim, r"listening on 127\.0\.0\.1:(\d+)", 15).group(1)

        # The browser first: its first start on a loaded machine is the slowest step.
        browser = DevTools(os.path.join(work, "profile"))
        processes.append(browser.process)
        sim, port = start_simulator(0)
        resource = f"TCPIP::127.0.0.1::{port}::SOCKET"
        # The output on, so the traces are the loads' currents.
        subprocess.run([recorder, "write", resource, "OUTPut 1"], check=True, timeout=30)
        token = secrets.token_hex(16)
        token_file = os.path.join(work, "token")
        with open(token_file, "w") as file:
            file.write(token + "\n")
        record = subprocess.Popen([recorder, "record", resource, os.path.join(work, "run.csv"), "--speed", "Special",
                                   "--serve", "127.0.0.1:0", "--token-file", token_file],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        processes.append(record)
        url = line_matching(record, r"live view at (http://127\.0\.0\.1:\d+/\?token=[0-9a-f]+)", 30).group(1)
        base = url.split("?")[0]

        # A token is asked for (given by --token-file): none or a wrong one is refused.
        for target, headers in [(base, {}), (base + "api/state", {}), (base + "metrics", {}),
                                (base + "events", {}), (base + "?token=" + "0" * 32, {}),
                                (base + "api/state", {"Authorization": "Bearer " + "0" * 32})]:
            status = status_of(target, headers)
            if status != 401:
                fail(f"{target} without the right token gave {status}, not 401")
        print("401 without the token or with a wrong one", flush=True)

        browser.open_page(url)
        wait_for("the page behind the token", 30, lambda: browser.evaluate(
            "location.search === '' && document.getElementById('plot') !== null"))
        # Every state the page shows is kept, so a short one is not missed.
        browser.evaluate("""window.statesShown = [];
            new MutationObserver(() => statesShown.push(document.getElementById('state').textContent))
                .observe(document.getElementById('state'), {childList: true, characterData: true, subtree: true});""")
        wait_for("the traces", 30, lambda: browser.evaluate(
            "Number(document.getElementById('plot').dataset.points) > 0"))
        print("traces drawn", flush=True)

        # The newest reading changes within a second, three times over.
        intervals = []
        last = browser.evaluate("document.getElementById('newest-time').textContent")
        began = time.monotonic()
        for _ in range(3):
            last = wait_for("a new newest reading", 15, lambda: (
                lambda text: text if text != last else None)(
                    browser.evaluate("document.getElementById('newest-time').textContent")), every=0.02)
            now = time.monotonic()
            intervals.append(now - began)
            began = now
        if sorted(intervals)[1] > 1.0:
            fail(f"the newest reading changed after {intervals} s, not within 1 s")
        print("newest reading changed after " + ", ".join(f"{i:.2f}" for i in intervals) + " s", flush=True)

        # The wheel over the picture zooms in until single readings are drawn.
        box = browser.evaluate("(() => { const r = document.getElementById('plot').getBoundingClientRect();"
                               " return [r.left + r.width / 2, r.top + r.height / 2]; })()")
        for _ in range(60):
            if browser.evaluate("document.getElementById('plot').dataset.kind") == "readings":
                break
            browser.wheel(box[0], box[1], -300)
            time.sleep(0.15)
        wait_for("single readings after zooming in", 15, lambda: browser.evaluate(
            "document.getElementById('plot').dataset.kind === 'readings'"
            " && Number(document.getElementById('plot').dataset.points) > 0"))
        print("zoomed to single readings: " + browser.evaluate("document.getElementById('span').textContent"),
              flush=True)
        browser.evaluate("document.getElementById('whole').click()")

        # The outage: the instrument goes away until the page says so
        # ("session lost since ..., retrying"), then comes back on its port;
        # the page goes on measuring, reopened once.
        shown = lambda: browser.evaluate("statesShown.join('\\n')") or ""
        sim.terminate()
        sim.wait(timeout=15)
        wait_for("the session lost", 30, lambda: "session lost since" in shown())
        start_simulator(port)
        wait_for("the session reopened", 30, lambda: re.search(r"measuring \S reopened 1", shown()))
        print("outage shown: " + " / ".join(dict.fromkeys(
            s for s in shown().split("\n") if "lost" in s or "reopened" in s)), flush=True)
        if screenshot:
            browser.evaluate("document.getElementById('whole').click()")
            time.sleep(1.5)
            with open(screenshot, "wb") as file:
                file.write(base64.b64decode(browser.call("Page.captureScreenshot")["data"]))
        print("PASS", flush=True)


if __name__ == "__main__":
    main()
