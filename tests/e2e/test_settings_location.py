#!/usr/bin/env python3
"""Where the settings live: the shipped DLL inside the player stand-in reads and
writes the winamp.ini that the host names (query 1334), in a folder other than the
program's; settings of the program folder's file move over once; an older host that
answers 1 leaves the plugin with the file beside the program."""

import os
import shutil
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_support import (PLAYER_EXE, PLUGIN_DLL, Service, have_binaries, ini, ini_values,  # noqa: E402
                         is_set_activity, needs, wait_until)
from player_driver import Player, make_host_folder, windows_path  # noqa: E402

KEYS = ("Enabled", "ShowErrors", "NoLogin", "Cookie", "AuthLogin", "AuthPass", "StatusMask")
MASK = "%artist% - %title%"


def read(path):
    with open(path, "rb") as f:
        return f.read()


@needs(have_binaries(PLAYER_EXE, PLUGIN_DLL), "built stand-in and DLL not given")
class SettingsLocation(unittest.TestCase):
    def setUp(self):
        self.host = make_host_folder(PLAYER_EXE, PLUGIN_DLL)
        # A profile folder of its own, named outside code page 1252.
        self.profile = os.path.join(tempfile.mkdtemp(prefix="nimbo-profile-"), "Профиль Ω")
        os.makedirs(self.profile)
        self.named = os.path.join(self.profile, "winamp.ini")
        self.beside = os.path.join(self.host, "winamp.ini")
        self.addCleanup(shutil.rmtree, self.host, True)
        self.addCleanup(shutil.rmtree, os.path.dirname(self.profile), True)

    def write(self, path, data):
        with open(path, "wb") as f:
            f.write(data)

    def run_player(self, ini_answer, service, publishes):
        """Starts the stand-in answering 1334 with `ini_answer`, plays one track, checks
        whether a status went out, and quits (which saves the settings)."""
        before = len(service.log())
        player = Player(self.host, options=("--ini-file", ini_answer))
        try:
            self.assertEqual("init=0", player.wait_ready(60))
            player.add("C:\\music\\x.ogg", "Artist - Title", 245)
            player.check("play 0")
            if publishes:
                wait_until(lambda: [e for e in service.log()[before:] if is_set_activity(e)
                                    and e.get("status_text") == "Artist - Title"], 10,
                           "the status from the settings in use")
            player.check("quit", timeout=40)
        finally:
            player.close()

    def assert_saved(self, path, cookie):
        values = ini_values(read(path), "Gen_Nimbo")
        for key in KEYS:
            self.assertIn(key, values, "%s lacks %s after quit" % (path, key))
        self.assertEqual(b"1", values["Enabled"])
        self.assertEqual(cookie.encode(), values["Cookie"])

    def test_settings_live_where_the_host_says(self):
        with Service() as service:
            named = ini(proxy=service.proxy, status_mask=MASK) + b"[in_mp3]\r\nkeep=\xff\xfe\r\n"
            beside = ini(enabled=False, cookie="remixsid=not-this-one")
            self.write(self.named, named)
            self.write(self.beside, beside)
            self.run_player(windows_path(self.named), service, publishes=True)
        self.assert_saved(self.named, "remixsid=5f2e8a91c04b")
        after = read(self.named)
        self.assertTrue(after.startswith(b"[Winamp]\r\nproxy="), after[:40])
        self.assertIn(b"[in_mp3]\r\nkeep=\xff\xfe\r\n", after)
        self.assertEqual(beside, read(self.beside))
        # The log sits beside the ini Winamp named.
        self.assertIn(b"published: ", read(os.path.join(self.profile, "nimbo.log")))

    def test_settings_move_once_from_the_program_folder(self):
        with Service() as service:
            old = ini(status_mask=MASK, extra="[Winamp2]\r\nx=1\r\n")
            self.write(self.beside, old)
            # Winamp's file has no section of ours yet, only Winamp's proxy.
            self.write(self.named, b"[Winamp]\r\nproxy=" + service.proxy.encode() + b"\r\n")
            self.run_player(windows_path(self.named), service, publishes=True)
            self.assert_saved(self.named, "remixsid=5f2e8a91c04b")
            self.assertIn(MASK.encode(), ini_values(read(self.named), "Gen_Nimbo")["StatusMask"])
            self.assertEqual(old, read(self.beside))
            # The next start reads Winamp's file; the old one keeps its settings unread.
            self.write(self.beside, ini(enabled=False))
            self.run_player(windows_path(self.named), service, publishes=True)
            self.assertEqual(ini(enabled=False), read(self.beside))

    def test_an_older_host_keeps_the_file_beside_the_program(self):
        with Service() as service:
            self.write(self.beside, ini(proxy=service.proxy, status_mask=MASK))
            self.write(self.named, b"[Gen_Nimbo]\r\nEnabled=0\r\n")
            self.run_player("old", service, publishes=True)
        self.assert_saved(self.beside, "remixsid=5f2e8a91c04b")
        self.assertEqual(b"[Gen_Nimbo]\r\nEnabled=0\r\n", read(self.named))


if __name__ == "__main__":
    unittest.main()
