"""What the Python tests share: failing with a reason, reading a line a
started program prints, and a work folder whose programs are ended and which
is removed when the test is over."""
import contextlib
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile
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


@contextlib.contextmanager
def test_run(prefix):
    """A work folder and a list for the programs the test starts; on the way
    out, however the test ends, the programs are ended and the folder removed."""
    work, processes = tempfile.mkdtemp(prefix=prefix), []
    try:
        yield work, processes
    finally:
        end_all(processes)
        shutil.rmtree(work, ignore_errors=True)
