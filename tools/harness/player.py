"""Drives the player stand-in (nimbo_player.exe) under Wine from Python tests and tools.

    host = make_host_folder(exe, plugin_dll=dll, ini_text="[Gen_Nimbo]\\nEnabled=0\\n")
    with Player(host) as player:
        player.wait_ready()
        lines, ok = player.command("add C:\\\\a.mp3|Artist - Title|245|320|44|2")

Python 3 standard library only. Every read has a time-out, so a test never hangs.
"""

import os
import queue
import shutil
import signal
import subprocess
import tempfile
import threading
import time

from .paths import WINE_RUN


class PlayerError(Exception):
    """The stand-in did not answer in time or went away."""


def make_host_folder(exe, plugin_dll=None, ini_text=None, folder=None):
    """Lays out a host folder: nimbo_player.exe, Plugins/gen_nimbo.dll, winamp.ini.

    ini_text may be str (written as cp1252, the way an 8-bit ini is read) or bytes.
    Returns the folder's path; a new temporary folder unless one is given.
    """
    folder = folder or tempfile.mkdtemp(prefix="nimbo-host-")
    shutil.copy(exe, os.path.join(folder, "nimbo_player.exe"))
    if plugin_dll:
        os.makedirs(os.path.join(folder, "Plugins"), exist_ok=True)
        shutil.copy(plugin_dll, os.path.join(folder, "Plugins", "gen_nimbo.dll"))
    if ini_text is not None:
        data = ini_text if isinstance(ini_text, bytes) else ini_text.encode("cp1252")
        with open(os.path.join(folder, "winamp.ini"), "wb") as f:
            f.write(data)
    return folder


def windows_path(path):
    """A Unix path as Wine programs see it (drive Z: is the root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def escape_raw(data):
    """Bytes -> the "addraw" field form: printable ASCII as is, the rest as \\xNN."""
    out = []
    for b in data:
        if b == 0x5C:
            out.append("\\\\")
        elif 0x20 < b < 0x7F and b != 0x7C:
            out.append(chr(b))
        else:
            out.append("\\x%02X" % b)
    return "".join(out)


def unescape_field(text):
    """Undoes the stand-in's escaping of an output field (\\\\, \\r, \\n, \\t, \\xNN)."""
    out, i = [], 0
    simple = {"\\": "\\", "r": "\r", "n": "\n", "t": "\t"}
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            nxt = text[i + 1]
            if nxt in simple:
                out.append(simple[nxt])
                i += 2
                continue
            if nxt == "x" and i + 3 < len(text):
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
        out.append(c)
        i += 1
    return "".join(out)


def parse_window(line):
    """One "windows" line -> dict (texts unescaped; rect values as int tuples)."""
    fields = {}
    for part in line.split("\t")[1:]:
        key, _, value = part.partition("=")
        if key in ("rect", "rel", "client"):
            fields[key] = tuple(int(v) for v in value.split(","))
        elif key in ("class", "text"):
            fields[key] = unescape_field(value)
        else:
            fields[key] = value
    return fields


def top_window(windows, text):
    """From a "windows" list: the visible top-level window titled `text` and its
    children keyed by control id, as (window, {id: child}); (None, {}) when absent."""
    for w in windows:
        if w["text"] == text and w.get("visible") == "1" and w.get("parent") == "0x0":
            return w, {int(c["id"]): c for c in windows if c.get("parent") == w["hwnd"]}
    return None, {}


class Player:
    """One running stand-in. command() returns (lines, ok); the reason of the last
    failure is in last_error."""

    def __init__(self, host_folder, options=(), env=None, locale="en_US.UTF-8"):
        self.host_folder = host_folder
        self.exe = os.path.join(host_folder, "nimbo_player.exe")
        environment = dict(os.environ)
        environment["LC_ALL"] = locale
        environment.update(env or {})
        self._proc = subprocess.Popen(
            [WINE_RUN, self.exe, *options],
            stdin=subprocess.PIPE,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            env=environment,
            start_new_session=True,
        )
        self._lines = queue.Queue()
        self.stderr_lines = []
        self.last_error = ""
        self.ready_line = None
        self.before_ready = []
        threading.Thread(target=self._pump, args=(self._proc.stdout, self._lines), daemon=True).start()
        threading.Thread(target=self._collect_stderr, daemon=True).start()

    @staticmethod
    def _pump(stream, sink):
        for raw in iter(stream.readline, b""):
            sink.put(raw.decode("utf-8", "replace").rstrip("\r\n"))
        sink.put(None)

    def _collect_stderr(self):
        for raw in iter(self._proc.stderr.readline, b""):
            self.stderr_lines.append(raw.decode("utf-8", "replace").rstrip("\r\n"))

    def _next_line(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            raise PlayerError("no answer in time")
        try:
            line = self._lines.get(timeout=remaining)
        except queue.Empty:
            raise PlayerError("no answer in time") from None
        if line is None:
            self._lines.put(None)  # stays at end of input for later reads
            raise PlayerError("the stand-in has ended")
        return line

    def wait_ready(self, timeout=60):
        """Waits for "ready ..." (a fresh private Wine session takes a while); returns
        the text after "ready ". Lines printed before it are kept in before_ready."""
        deadline = time.monotonic() + timeout
        while True:
            line = self._next_line(deadline)
            if line.startswith("ready "):
                self.ready_line = line[6:]
                return self.ready_line
            self.before_ready.append(line)

    def command(self, line, timeout=15):
        """Sends one command; returns (lines, ok). Raises PlayerError on a time-out;
        the late reply would then answer the next command, so close the Player."""
        if "\n" in line:
            raise ValueError("one command per line")
        try:
            self._proc.stdin.write(line.encode("utf-8") + b"\n")
            self._proc.stdin.flush()
        except OSError as e:
            raise PlayerError("the stand-in has ended") from e
        deadline = time.monotonic() + timeout
        lines = []
        while True:
            out = self._next_line(deadline)
            if out == "ok":
                self.last_error = ""
                return lines, True
            if out.startswith("error "):
                self.last_error = out[6:]
                return lines, False
            lines.append(out)

    def check(self, line, timeout=15):
        """command() that raises on an error reply; returns the lines."""
        lines, ok = self.command(line, timeout)
        if not ok:
            raise PlayerError("%s: %s" % (line, self.last_error))
        return lines

    # Conveniences over the command set.
    def add(self, path, title=None, length=-1, bitrate=128, samplerate=44, channels=2):
        """Adds an entry; str texts go through the ANSI code page, bytes exactly."""
        raw = isinstance(path, bytes) or isinstance(title, bytes)
        if raw:
            enc = lambda t: escape_raw(t if isinstance(t, bytes) else t.encode("utf-8"))
        else:
            enc = lambda t: t
        if title is None:
            title = path.replace("/", "\\").rsplit("\\", 1)[-1] if not raw else path
        fields = [enc(path), enc(title), str(length), str(bitrate), str(samplerate), str(channels)]
        return self.check(("addraw " if raw else "add ") + "|".join(fields))

    def playlist(self):
        """The entries as the stand-in holds them: path and title as exact bytes."""
        entries = []
        for l in self.check("list"):
            _, path, title, *numbers = l.split("\t")
            entries.append({
                "path": unescape_field(path).encode("latin-1"),
                "title": unescape_field(title).encode("latin-1"),
                "numbers": tuple(int(n) for n in numbers),
            })
        return entries

    def queries(self):
        return int(self.check("queries")[0].split()[1])

    def windows(self):
        return [parse_window(l) for l in self.check("windows") if l.startswith("window\t")]

    def top_window(self, text, windows=None):
        """The visible top-level window titled `text` and its children by control id,
        as (window, {id: child}); (None, {}) when there is none."""
        return top_window(self.windows() if windows is None else windows, text)

    def message_box(self, timeout_ms=5000):
        """The first message box as {"hwnd", "caption", "text", "buttons"}, or None."""
        lines, ok = self.command("msgbox %d" % timeout_ms, timeout=timeout_ms / 1000 + 15)
        if not ok:
            return None
        box = {"buttons": []}
        for l in lines:
            key, _, value = l.partition(" ")
            if key == "button":
                ident, _, label = value.partition(" ")
                box["buttons"].append((int(ident), unescape_field(label)))
            else:
                box[key] = unescape_field(value) if key in ("caption", "text") else value
        return box

    def exit_code(self, timeout=20):
        """Waits for the process to end (after "exit" or a crash)."""
        try:
            return self._proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise PlayerError("still running") from None

    def close(self, timeout=20):
        """Asks the stand-in to exit; kills it when it does not."""
        if self._proc.poll() is None:
            try:
                self.command("exit", timeout=timeout)
            except PlayerError:
                pass
            try:
                self._proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                os.killpg(self._proc.pid, signal.SIGKILL)
                self._proc.wait()
        for stream in (self._proc.stdin, self._proc.stdout, self._proc.stderr):
            try:
                stream.close()
            except OSError:
                pass
        return self._proc.returncode

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
