"""The end-to-end tests' layer over the harness package (tools/harness): the whole
plugin inside the player stand-in under Wine, talking to the service stand-in. It
re-exports what the tests take from the package and adds the plugin's wire forms.

    with Service() as service, PluginHost(PLUGIN_DLL, ini(proxy=service.proxy)) as host:
        host.player.add("C:\\\\m\\\\a.mp3", "Artist - Title", 245)
        host.player.check("play 0")
        entry = service.wait_for_requests(is_set_activity, 1)[0]

Every wait is bounded; a condition that does not come true fails the test with a
description instead of hanging. Python 3 standard library only.

Run as a script, it starts a service stand-in, passes its port to a command in
NIMBO_SERVICE_PORT and returns the command's exit code:

    PYTHONPATH=tools python3 tests/e2e/e2e_support.py with-service PROGRAM [ARGS...]
"""

import base64
import os
import re
import socket
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from harness import player as player_driver
from harness.host import PluginHost  # noqa: F401
from harness.ini import SERVICE_COOKIE, ini, ini_values  # noqa: F401
from harness.paths import (ID3_DIR, LOOPBACK_DLL, PLAYER_EXE, PLUGIN_DLL,  # noqa: F401
                           ROOT, SERVICE_SCRIPT, TESTDATA_DIR, WINE_RUN, have_binaries, needs)
from harness.player import Player, PlayerError, make_host_folder, windows_path  # noqa: F401
from harness.service import (Service, http_get as _http_get, is_clear_activity,  # noqa: F401
                             is_profile_page, is_set_activity, kinds, param, raw_bytes)
from harness.session import wait_until  # noqa: F401

HERE = os.path.dirname(os.path.abspath(__file__))

# Tests written against the driver's old place import it by its old name.
sys.modules.setdefault("player_driver", player_driver)

# The service host of the shipped DLL and of the loopback test build.
SHIPPED_HOST = "vkontakte.ru"
# The loopback build's service host, as its build set it (one port per build tree, so
# two trees can run their suites side by side).
LOOPBACK_HOST = os.environ.get("NIMBO_LOOPBACK_HOST", "localhost:18080")
LOOPBACK_PORT = int(LOOPBACK_HOST.rsplit(":", 1)[1])

USER_AGENT = "Opera/9.20 (Windows NT 5.1; U; ru)"
ERROR_PREFIX = "Vkontakte tags updating error : "

# The hash the service stand-in hands out by default.
SERVICE_HASH = "a1b2c3d4e5"


def _product_source(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


# The plugin's one wait for the network, in ms (kHttpWaitMs, net/http.h).
WAIT_MS = int(re.search(r"kHttpWaitMs = (\d+);", _product_source("net/http.h")).group(1))


def default_status_mask():
    """The built-in status mask, read from its one definition (core/settings_codec.cpp)."""
    body = _product_source("core/settings_codec.cpp").split("kDefaultStatusMask[] =", 1)[1]
    body = body.split(";", 1)[0]
    literal = "".join(re.findall(r'L"((?:[^"\\]|\\.)*)"', body))
    return literal.encode("ascii").decode("unicode_escape")


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


def activity_log(host):
    """The plugin's nimbo.log as text (it must be UTF-8); empty before its first line."""
    try:
        with open(os.path.join(host.folder, "nimbo.log"), "rb") as f:
            return f.read().decode("utf-8")
    except FileNotFoundError:
        return ""


def shipped(target, **kw):
    """The exact bytes of a request of the shipped DLL, which goes through a proxy."""
    return expected_request("http://%s:80%s" % (SHIPPED_HOST, target), SHIPPED_HOST, **kw)


def statuses(service):
    """The status texts of the set-activity requests so far, in order."""
    return [e.get("status_text") for e in service.log() if is_set_activity(e)]


def clear_activity_query(activity_hash=SERVICE_HASH):
    return "/profile.php?clearactivity=1&activityhash=" + url_encode(activity_hash)


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


def security_code_window(host):
    """The visible security-code window and its controls, or None."""
    windows = host.player.windows()
    found = [w for w in windows if w["text"] == "Security code" and w.get("visible") == "1"]
    return (found[0], [w for w in windows if w.get("parent") == found[0]["hwnd"]]) if found else None


def answer_security_code(host, code):
    """Waits for the security-code window, types `code` and presses Ok; returns the
    window as it was."""
    window, controls = wait_until(lambda: security_code_window(host), 20, "the security-code window")
    edit = next(c for c in controls if c["class"].lower() == "edit")
    ok = next(c for c in controls if c["text"] == "Ok")
    host.player.check("settext %s %s" % (edit["hwnd"], code))
    host.player.check("click %s" % ok["hwnd"])
    return window


def _with_service(argv):
    with Service() as service:
        env = dict(os.environ, NIMBO_SERVICE_PORT=str(service.port))
        return subprocess.call(argv, env=env)


if __name__ == "__main__":
    if len(sys.argv) >= 3 and sys.argv[1] == "with-service":
        sys.exit(_with_service(sys.argv[2:]))
    sys.stderr.write("usage: e2e_support.py with-service PROGRAM [ARGS...]\n")
    sys.exit(2)
