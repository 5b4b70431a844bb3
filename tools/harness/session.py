"""A private Wine session on a virtual screen (tests/win32/wine-session.sh) for the
tools that run outside ctest's fixture, and the wait they all use."""

import os
import signal
import subprocess
import time

from .paths import WINE_SESSION


class Failed(Exception):
    """A step did not happen in time; the message says which."""


def wait_until(condition, timeout, what, interval=0.1, error=AssertionError):
    """Polls condition() until it returns something true; returns that value.
    Raises `error` naming `what` when `timeout` seconds pass first."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise error("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def run_to_end(argv, timeout):
    """Runs a helper script in its own session so Ctrl-C cannot cut it off half-way
    (a half-started Wine session would be left behind); Ctrl-C is passed on after.
    Returns (exit code, output)."""
    proc = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            start_new_session=True)
    interrupted = False
    deadline = time.monotonic() + timeout
    while True:
        try:
            out, _ = proc.communicate(timeout=max(0.1, deadline - time.monotonic()))
            break
        except subprocess.TimeoutExpired:
            if time.monotonic() >= deadline:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
                raise Failed("%s did not finish within %d s" % (argv[1], timeout))
        except KeyboardInterrupt:
            interrupted = True
    if interrupted:
        raise KeyboardInterrupt
    return proc.returncode, out.decode("utf-8", "replace")


def start(session_file, timeout=180):
    """Starts a session whose folder is written to `session_file`; returns the
    script's last line."""
    code, out = run_to_end([WINE_SESSION, "start", session_file], timeout=timeout)
    if code != 0:
        raise Failed("the Wine session did not start:\n" + out)
    return out.strip().splitlines()[-1]


def stop(session_file, timeout=60):
    """Ends every Windows process of the session and removes it; never raises
    Failed, so a clean-up goes on."""
    try:
        run_to_end([WINE_SESSION, "stop", session_file], timeout=timeout)
    except Failed:
        pass


def display_of(session_file):
    """The X display of a session."""
    with open(session_file) as f:
        folder = f.read().strip()
    with open(os.path.join(folder, "display")) as f:
        return f.read().strip()
