"""Shared harness for the end-to-end tests: the whole plugin inside the player
stand-in under Wine, talking to the service stand-in.

    with Service() as service, PluginHost(PLUGIN_DLL, ini(proxy=service.proxy)) as host:
        host.player.add("C:\\\\m\\\\a.mp3", "Artist - Title", 245)
        host.player.check("play 0")
        entry = service.wait_for_request(lambda e: is_set_activity(e))

Every wait is bounded; a condition that does not come true fails the test with a
description instead of hanging. Python 3 standard library only.

Run as a script, it starts a service stand-in, passes its port to a command in
NIMBO_SERVICE_PORT and returns the command's exit code:

    python3 e2e_support.py with-service PROGRAM [ARGS...]
"""

import base64
import json
import os
import queue
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tools", "player"))

import player_driver  # noqa: E402

SERVICE_SCRIPT = os.path.join(ROOT, "tools", "service", "service_standin.py")
WINE_RUN = os.path.join(ROOT, "tests", "win32", "wine-run.sh")

PLAYER_EXE = os.environ.get("NIMBO_PLAYER_EXE")
PLUGIN_DLL = os.environ.get("NIMBO_PLUGIN_DLL")
LOOPBACK_DLL = os.environ.get("NIMBO_LOOPBACK_DLL")
TESTDATA_DIR = os.environ.get("NIMBO_TESTDATA_DIR", "")
ID3_DIR = os.path.join(TESTDATA_DIR, "id3") if TESTDATA_DIR else ""

# The service host of the shipped DLL and of the loopback test build.
SHIPPED_HOST = "vkontakte.ru"
LOOPBACK_PORT = 18080
LOOPBACK_HOST = "localhost:%d" % LOOPBACK_PORT

USER_AGENT = "Opera/9.20 (Windows NT 5.1; U; ru)"
ERROR_PREFIX = "Vkontakte tags updating error : "

# The service stand-in's defaults: the remixsid value it accepts and the hash it hands out.
SERVICE_COOKIE = "remixsid=5f2e8a91c04b"
SERVICE_HASH = "a1b2c3d4e5"


def have_binaries(*paths):
    return all(p and os.path.exists(p) for p in paths)


def wait_until(condition, timeout, what, interval=0.1):
    """Polls condition() until it returns something true; returns that value.
    Raises AssertionError naming `what` when `timeout` seconds pass first."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("timed out after %.1f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def url_encode(data):
    """Every byte as "%" and two upper-case hexadecimal digits."""
    if isinstance(data, str):
        data = data.encode("utf-8")
    return "".join("%%%02X" % b for b in data)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def closed_port():
    """A loopback port nobody listens on (bound once, then released)."""
    return free_port()


class UnreachablePort:
    """A loopback listener that never accepts, its queue filled up: further connects
    to its port are neither accepted nor refused, they just never complete."""

    def __init__(self):
        self._listener = socket.socket()
        self._listener.bind(("127.0.0.1", 0))
        self._listener.listen(0)
        self.port = self._listener.getsockname()[1]
        self._fillers = []
        for _ in range(4):
            filler = socket.socket()
            filler.setblocking(False)
            filler.connect_ex(("127.0.0.1", self.port))
            self._fillers.append(filler)
        time.sleep(0.2)

    def close(self):
        for s in self._fillers + [self._listener]:
            s.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def _http_get(port, target, timeout=10):
    """One GET to 127.0.0.1:port; returns the body. Plain sockets: the stand-in speaks HTTP/1.0."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(b"GET " + target.encode("ascii") + b" HTTP/1.0\r\nHost: control\r\n\r\n")
        data = bytearray()
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    return bytes(data).partition(b"\r\n\r\n")[2]


# Request log entries (one per request the service stand-in saw).

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
    """A compact view of a log for assertions: "page", "set", "clear" or the path."""
    out = []
    for e in entries:
        if is_set_activity(e):
            out.append("set")
        elif is_clear_activity(e):
            out.append("clear")
        elif is_profile_page(e):
            out.append("page")
        else:
            out.append(e["path"] or e.get("error") or "?")
    return out


def expected_request(target, host, cookie=SERVICE_COOKIE, proxy_auth=None):
    """The exact bytes of one plugin request: request line, Host, optional
    Proxy-Authorization, Cookie, User-Agent, empty line."""
    lines = ["GET %s HTTP/1.0" % target, "Host: " + host]
    if proxy_auth is not None:
        user, password = proxy_auth
        token = base64.b64encode(("%s:%s" % (user, password)).encode("latin-1")).decode("ascii")
        lines.append("Proxy-Authorization: Basic " + token)
    if cookie is not None:
        lines.append("Cookie: %s; remixlang=0" % cookie)
    lines.append("User-Agent: " + USER_AGENT)
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def set_activity_query(status_text, activity_hash=SERVICE_HASH):
    return "/profile.php?setactivity=%s&activityhash=%s" % (url_encode(status_text),
                                                             url_encode(activity_hash))


def clear_activity_query(activity_hash=SERVICE_HASH):
    return "/profile.php?clearactivity=1&activityhash=" + url_encode(activity_hash)


class Service:
    """The service stand-in as a child process on 127.0.0.1 (port 0: a free one)."""

    def __init__(self, port=0, args=(), start_timeout=15):
        self._proc = subprocess.Popen(
            [sys.executable, SERVICE_SCRIPT, "--port", str(port), *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        lines = queue.Queue()
        threading.Thread(target=lambda: lines.put(self._proc.stdout.readline()),
                         daemon=True).start()
        try:
            first = lines.get(timeout=start_timeout).decode("ascii", "replace").strip()
        except queue.Empty:
            first = ""
        if not first.startswith("listening "):
            self.stop()
            raise RuntimeError("service stand-in did not start (port %s): %r" % (port, first))
        self.port = int(first.rsplit(":", 1)[1])
        # Winamp's proxy setting that sends the plugin's requests here.
        self.proxy = "127.0.0.1:%d" % self.port

    def control(self, name, **params):
        query = urllib.parse.urlencode(params)
        body = _http_get(self.port, "/__control/" + name + ("?" + query if query else ""))
        return json.loads(body.decode("utf-8"))

    def log(self):
        return self.control("log")["entries"]

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


class TinyProxy:
    """Debian's tinyproxy in the foreground on a free loopback port, with a config of
    its own in a temporary folder; optional Basic authentication."""

    def __init__(self, user=None, password=None, start_timeout=10):
        self.folder = tempfile.mkdtemp(prefix="nimbo-tinyproxy-")
        self.port = free_port()
        self.log_path = os.path.join(self.folder, "tinyproxy.log")
        lines = ["Port %d" % self.port, "Listen 127.0.0.1", "Timeout 30", "MaxClients 20",
                 "Allow 127.0.0.1", "LogLevel Info", 'LogFile "%s"' % self.log_path,
                 'PidFile "%s"' % os.path.join(self.folder, "tinyproxy.pid")]
        if user is not None:
            lines.append("BasicAuth %s %s" % (user, password))
        conf = os.path.join(self.folder, "tinyproxy.conf")
        with open(conf, "w") as f:
            f.write("\n".join(lines) + "\n")
        self._proc = subprocess.Popen(["tinyproxy", "-d", "-c", conf], stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            wait_until(self._accepts, start_timeout, "tinyproxy to listen")
        except AssertionError:
            self.stop()
            raise

    def _accepts(self):
        if self._proc.poll() is not None:
            raise AssertionError("tinyproxy ended with %s" % self._proc.returncode)
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def log_text(self):
        try:
            with open(self.log_path, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""

    def stop(self, timeout=10):
        if self._proc.poll() is None:
            self._proc.send_signal(signal.SIGTERM)
            try:
                self._proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                os.killpg(self._proc.pid, signal.SIGKILL)
                self._proc.wait()
        shutil.rmtree(self.folder, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def ini(enabled=True, no_login=True, cookie=SERVICE_COOKIE, status_mask=None, proxy=None,
        extra=""):
    """winamp.ini as bytes. Texts are stored the way the plugin stores them: UTF-8
    bytes, line breaks as "{NextString}". status_mask None leaves the key out."""
    def text(value):
        return value.replace("\r\n", "{NextString}").encode("utf-8")

    out = b"[Winamp]\r\n"
    if proxy is not None:
        out += b"proxy=" + proxy.encode("latin-1") + b"\r\n"
    out += b"[Gen_Nimbo]\r\n"
    out += b"Enabled=%d\r\nNoLogin=%d\r\n" % (int(enabled), int(no_login))
    if cookie is not None:
        out += b"Cookie=" + text(cookie) + b"\r\n"
    if status_mask is not None:
        out += b"StatusMask=" + text(status_mask) + b"\r\n"
    return out + extra.encode("latin-1")


def ini_values(data, section):
    """The keys of one section of an ini file's bytes (values as bytes)."""
    values, current = {}, None
    for line in data.replace(b"\r\n", b"\n").split(b"\n"):
        line = line.strip()
        if line.startswith(b"[") and line.endswith(b"]"):
            current = line[1:-1].decode("latin-1").lower()
        elif current == section.lower() and b"=" in line:
            key, _, value = line.partition(b"=")
            values[key.decode("latin-1")] = value
    return values


class PluginHost:
    """A host folder with the player stand-in, a plugin DLL and winamp.ini, and the
    stand-in running under Wine with the plugin loaded."""

    def __init__(self, plugin_dll, ini_bytes, locale="en_US.UTF-8", ready_timeout=60,
                 options=()):
        self.folder = player_driver.make_host_folder(PLAYER_EXE, plugin_dll, ini_bytes)
        self.player = None
        try:
            self.player = player_driver.Player(self.folder, options=options, locale=locale)
            ready = self.player.wait_ready(ready_timeout)
        except Exception:
            self.close()
            raise
        if ready != "init=0":
            self.close()
            raise AssertionError("the plugin did not start: ready %s" % ready)

    def ini_bytes(self):
        with open(os.path.join(self.folder, "winamp.ini"), "rb") as f:
            return f.read()

    def quit(self):
        """Winamp's quit sequence (the plugin's quit runs on the UI thread)."""
        return self.player.check("quit", timeout=40)

    def timed_quit(self):
        """quit; returns how long the plugin's quit took, in ms, as the stand-in timed it."""
        for line in self.quit():
            if line.startswith("quit-ms "):
                sys.stderr.write("[quit took %s ms] " % line.split()[1])
                return int(line.split()[1])
        raise AssertionError("the stand-in did not report quit-ms")

    def assert_saved(self, test, enabled=True):
        """quit wrote all seven settings (keys the test's winamp.ini did not hold)."""
        values = ini_values(self.ini_bytes(), "Gen_Nimbo")
        for key in ("Enabled", "ShowErrors", "NoLogin", "Cookie", "AuthLogin", "AuthPass",
                    "StatusMask"):
            test.assertIn(key, values, "winamp.ini lacks %s after quit" % key)
        test.assertEqual(b"1" if enabled else b"0", values["Enabled"])

    def assert_alive(self, test):
        """Winamp still runs and answers at once (its UI thread is free); the plugin is
        still loaded; nothing crashed."""
        test.assertRegex(self.player.check("queries", timeout=5)[0], r"^queries \d+$")
        test.assertIn("loaded 1 running 1", " ".join(self.player.check("plugin", timeout=5)))
        test.assertEqual([], [l for l in self.player.stderr_lines if l.startswith("crash")])

    def message_box(self, timeout_ms=8000):
        return self.player.message_box(timeout_ms)

    def dismiss(self, box):
        self.player.check("dismiss " + box["hwnd"], timeout=20)

    def close(self):
        code = None
        if self.player is not None:
            code = self.player.close()
            self.player = None
        shutil.rmtree(self.folder, ignore_errors=True)
        return code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def publish_one(test, host, service, command, settle=1.5):
    """Runs a player command that changes the track or the state and checks that it
    brings exactly one request, a set-activity, within the next ticks; returns it."""
    before = len(service.log())
    host.player.check(command)
    wait_until(lambda: len(service.log()) > before, 10, "a request after %r" % command)
    time.sleep(settle)  # room for a second, unwanted request
    new = service.log()[before:]
    test.assertEqual(["set"], kinds(new), "requests after %r" % command)
    return new[0]


def _with_service(argv):
    with Service() as service:
        env = dict(os.environ, NIMBO_SERVICE_PORT=str(service.port))
        return subprocess.call(argv, env=env)


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "with-service":
        sys.exit(_with_service(sys.argv[2:]))
    sys.stderr.write("usage: e2e_support.py with-service PROGRAM [ARGS...]\n")
    sys.exit(2)
