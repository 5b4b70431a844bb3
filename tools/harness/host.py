"""A host folder with the player stand-in, a plugin DLL and winamp.ini, and the
stand-in running in it under Wine with the plugin loaded."""

import os
import shutil
import sys

from . import player as player_driver
from .ini import ini_values
from .paths import PLAYER_EXE

SAVED_KEYS = ("Enabled", "ShowErrors", "NoLogin", "Cookie", "AuthLogin", "AuthPass",
              "StatusMask")


class PluginHost:
    def __init__(self, plugin_dll, ini_bytes, locale="en_US.UTF-8", ready_timeout=60,
                 player_exe=None, env=None, options=(), files=None, read_only=()):
        """`files` ({name: bytes}) lie in the folder before Winamp starts, those named in
        `read_only` without write permission (a queue file an earlier run left)."""
        self.folder = player_driver.make_host_folder(player_exe or PLAYER_EXE, plugin_dll,
                                                     ini_bytes)
        for name, data in (files or {}).items():
            with open(os.path.join(self.folder, name), "wb") as f:
                f.write(data)
            if name in read_only:
                os.chmod(os.path.join(self.folder, name), 0o444)
        self.player = None
        self._start = (options, env, locale, ready_timeout)
        self._run()

    def _run(self):
        options, env, locale, ready_timeout = self._start
        try:
            self.player = player_driver.Player(self.folder, options=options, env=env,
                                               locale=locale)
            ready = self.player.wait_ready(ready_timeout)
        except Exception:
            self.close()
            raise
        if ready != "init=0":
            self.close()
            raise AssertionError("the plugin did not start: ready %s" % ready)

    def start_again(self):
        """A new Winamp in the same folder, after the last one quit or was killed."""
        self.player.close()
        self.player = None
        self._run()

    def terminate(self):
        """Kills Winamp from inside (TerminateProcess) wherever the plugin is."""
        try:
            self.player.command("terminate", timeout=20)
        except player_driver.PlayerError:
            pass  # no reply: the process ended
        return self.player.exit_code()

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
        for key in SAVED_KEYS:
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
