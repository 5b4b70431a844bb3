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


LB_SUBMIT = "/1/submit-listens"
LB_CLEAR = "/1/playing-now/delete"
LB_VALIDATE = "/1/validate-token"


def body(entry):
    """The request's body bytes (what followed the head)."""
    raw = raw_bytes(entry)
    ends = [raw.find(sep) + len(sep) for sep in (b"\r\n\r\n", b"\n\n") if sep in raw]
    return raw[min(ends):] if ends else b""


def lb_json(entry):
    """The request's body parsed as JSON (a ListenBrainz request)."""
    return json.loads(body(entry).decode("utf-8"))


def is_lb_submit(entry):
    return entry["path"] == LB_SUBMIT


def lb_listen_type(entry):
    """The listen_type a submit carries (also when a mode kept the endpoint from reading
    it), or None."""
    if not is_lb_submit(entry):
        return None
    if entry.get("lb_listen_type"):
        return entry["lb_listen_type"]
    try:
        doc = lb_json(entry)
    except ValueError:  # UnicodeDecodeError is one
        return None
    return doc.get("listen_type") if isinstance(doc, dict) else None


def is_lb_playing_now(entry):
    return lb_listen_type(entry) == "playing_now"


def is_lb_listens(entry):
    """A submit of real listens (single or import)."""
    return lb_listen_type(entry) in ("single", "import")


def is_lb_clear(entry):
    return entry["path"] == LB_CLEAR


def is_lb_validate(entry):
    return entry["path"] == LB_VALIDATE


def kinds(entries):
    """A compact view of a log for assertions: "page", "set", "clear", "connect",
    "lb_<listen type>", "lb_clear", "lb_validate", "lfm_<method>" or the path."""
    out = []
    for e in entries:
        if e["method"] == "CONNECT":
            out.append("connect")
        elif lb_listen_type(e):
            out.append("lb_" + lb_listen_type(e))
        elif is_lb_clear(e):
            out.append("lb_clear")
        elif is_lb_validate(e):
            out.append("lb_validate")
        elif "lfm_method" in e:
            out.append("lfm_" + (e["lfm_method"] or "?"))
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

    def lb_playing_now(self):
        """ListenBrainz's playing-now track_metadata, or None."""
        return self.status()["lb_playing_now"]

    def lb_listens(self):
        """The listens ListenBrainz accepted, in order, each with its listen_type."""
        return self.status()["lb_listens"]

    def lb_status(self, code, count=1, path=LB_SUBMIT, **options):
        """The next `count` requests to `path` get ListenBrainz's error `code` (options:
        error=TEXT, reset_in=SECONDS for a 429)."""
        return self.mode(mode="lb_status", code=code, count=count, path=path, **options)

    def lfm_now_playing(self):
        """The Last.fm side's playing-now fields (artist, track, ...), or None."""
        return self.status()["lfm_now_playing"]

    def lfm_scrobbles(self):
        """The scrobbles the Last.fm side accepted, in order, each as its fields."""
        return self.status()["lfm_scrobbles"]

    def lfm_scrobbles_at(self, root):
        """The scrobbles accepted at the API root `root` ("/2.0/"), in order."""
        return self.status()["lfm_scrobbles_by_root"].get(root, [])

    def lfm_scrobbles_to(self, host):
        """The scrobbles accepted that were sent to `host` ("libre.fm", no port), in order."""
        return self.status()["lfm_scrobbles_by_host"].get(host, [])

    def lfm_error(self, code, count=1, **options):
        """The next `count` Last.fm requests get the service's error `code` (options:
        error=TEXT, path=P, host=H)."""
        return self.mode(mode="lfm_error", code=code, count=count, **options)

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
