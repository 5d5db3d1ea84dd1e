"""What the Python tests share: failing with a reason, reading a line a
started program prints, and ending the programs a test started."""
import os
import re
import select
import subprocess
import sys
import time


def fail(message):
    print("FAIL: " + message, flush=True)
    sys.exit(1)


def line_matching(process, pattern, guard):
    """The first match of pattern in the process's stdout; fails after guard seconds."""
    deadline = time.monotonic() + guard
    buffer = ""
    while time.monotonic() < deadline:
        ready, _, _ = select.select([process.stdout], [], [], 0.1)
        if ready:
            chunk = os.read(process.stdout.fileno(), 4096)
            if not chunk:
                break
            buffer += chunk.decode(errors="replace")
            match = re.search(pattern, buffer)
            if match:
                return match
    fail(f"no line matching {pattern!r} from {process.args[0]}; got {buffer!r}")


def end_all(processes):
    """Ends the programs still running, last started first: SIGTERM, then SIGKILL after 5 s."""
    for process in reversed(processes):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
