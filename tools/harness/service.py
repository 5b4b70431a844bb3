"""The service stand-in (tools/service/service_standin.py) as a child process on
loopback, its control endpoints, and views of its request log.

    with Service(args=["--captcha", "1"]) as service:
        service.mode(mode="hang", path="/login.php")
        entry = service.wait_for_requests(is_set_activity, 1)[0]
"""

import base64
import json
import os
import queue
import signal
import socket
import subprocess
import sys
import threading
import time
import urllib.parse

from .paths import SERVICE_SCRIPT
from .session import wait_until


class ServiceError(RuntimeError):
    """The stand-in did not start."""


def http_get(port, target, timeout=10):
    """One GET to 127.0.0.1:port; returns the body. Plain sockets, so no proxy setting
    of the environment applies; the stand-in speaks HTTP/1.0."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(b"GET " + target.encode("ascii") + b" HTTP/1.0\r\nHost: control\r\n\r\n")
        data = bytearray()
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    return bytes(data).partition(b"\r\n\r\n")[2]


# Request log entries (one per request the stand-in saw).

def raw_bytes(entry):
    return base64.b64decode(entry["raw_b64"])


def param(entry, name):
    for key, value in entry["params"]:
        if key == name:
            return value
    return None


def is_profile_page(entry):
    return entry["path"] == "/profile.php" and not entry["params"]


def is_set_activity(entry):
    return entry["path"] == "/profile.php" and param(entry, "setactivity") is not None


def is_clear_activity(entry):
    return entry["path"] == "/profile.php" and param(entry, "clearactivity") is not None


def kinds(entries):
    """A compact view of a log for assertions: "page", "set", "clear", "connect" or the
    path."""
    out = []
    for e in entries:
        if e["method"] == "CONNECT":
            out.append("connect")
        elif is_set_activity(e):
            out.append("set")
        elif is_clear_activity(e):
            out.append("clear")
        elif is_profile_page(e):
            out.append("page")
        else:
            out.append(e["path"] or e.get("error") or "?")
    return out


class Service:
    """The stand-in on 127.0.0.1 (port 0: a free one). `args` are its command-line
    options; `log_path` also keeps every request as a JSON line in a file. `tls`, a
    (certificate, key) pair of PEM files, makes it speak TLS on `tls_port` and in the
    tunnels it opens as a proxy."""

    def __init__(self, port=0, args=(), log_path=None, start_timeout=15, tls=None, tls_port=0):
        argv = [sys.executable, SERVICE_SCRIPT, "--host", "127.0.0.1", "--port", str(port)]
        if log_path:
            argv += ["--log", log_path]
        if tls:
            argv += ["--tls-cert", tls[0], "--tls-key", tls[1], "--tls-port", str(tls_port)]
        self._proc = subprocess.Popen([*argv, *args], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, start_new_session=True)
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(self._proc.stdout.readline()),
                         daemon=True).start()
        try:
            first = lines.get(timeout=start_timeout).decode("ascii", "replace").strip()
        except queue.Empty:
            first = ""
        if not first.startswith("listening 127.0.0.1:"):
            self.stop()
            raise ServiceError("the service stand-in did not start (port %s): %r"
                               % (port, first))
        self.port = int(first.rsplit(":", 1)[1])
        self.tls_port = None
        if tls:
            threading.Thread(target=lambda: lines.put(self._proc.stdout.readline()),
                             daemon=True).start()
            second = lines.get(timeout=start_timeout).decode("ascii", "replace").strip()
            self.tls_port = int(second.rsplit(":", 1)[1])
        # Winamp's proxy setting that sends the plugin's requests here.
        self.proxy = "127.0.0.1:%d" % self.port

    def control(self, name, **params):
        query = urllib.parse.urlencode(params)
        body = http_get(self.port, "/__control/" + name + ("?" + query if query else ""))
        return json.loads(body.decode("utf-8"))

    def log(self):
        return self.control("log")["entries"]

    def history(self):
        """Every status set and clear, in order: {"action", "text", ...}."""
        return self.control("status")["history"]

    def requests(self, kind=None):
        entries = self.log()
        return [e for e in entries if kind is None or kind(e)]

    def wait_for_requests(self, kind, count, timeout=10):
        """Waits until at least `count` logged requests satisfy `kind`; returns them."""
        return wait_until(lambda: (lambda found: found if len(found) >= count else None)(
            self.requests(kind)), timeout, "%d request(s) of %s" % (count, kind.__name__))

    def wait_quiet(self, quiet=1.5, timeout=20):
        """Waits until no request has arrived for `quiet` seconds (a tick runs every
        second, so a pending change has been published by then); returns the log."""
        last = [len(self.log()), time.monotonic()]

        def settled():
            count = len(self.log())
            if count != last[0]:
                last[:] = [count, time.monotonic()]
            return time.monotonic() - last[1] >= quiet
        wait_until(settled, timeout, "the service to fall quiet")
        return self.log()

    def mode(self, **rule):
        return self.control("mode", **rule)

    def configure(self, **values):
        return self.control("config", **values)

    def status(self):
        return self.control("status")

    def stop(self, timeout=10):
        if self._proc.poll() is None:
            try:
                self._proc.send_signal(signal.SIGTERM)
                self._proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                os.killpg(self._proc.pid, signal.SIGKILL)
                self._proc.wait()
        for stream in (self._proc.stdout, self._proc.stderr):
            stream.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
