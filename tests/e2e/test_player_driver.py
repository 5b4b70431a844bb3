#!/usr/bin/env python3
"""The Python driver against the built player stand-in and plugin under Wine.

Needs NIMBO_PLAYER_EXE and NIMBO_PLUGIN_DLL (ctest sets them); skips without them.
"""

import os
import shutil
import unittest

from harness import player as pd
from harness.paths import needs

EXE = os.environ.get("NIMBO_PLAYER_EXE")
DLL = os.environ.get("NIMBO_PLUGIN_DLL")


class FieldEscapes(unittest.TestCase):
    def test_raw_escape_round_trips_every_byte(self):
        data = bytes(range(256))
        escaped = pd.escape_raw(data)
        self.assertNotIn("|", escaped)
        self.assertTrue(all(0x20 < ord(c) < 0x7F for c in escaped))
        # The stand-in prints 8-bit bytes back with the same escapes.
        self.assertEqual(data, pd.unescape_field(escaped).encode("latin-1"))

    def test_window_line_parses_texts_and_rects(self):
        line = ("window\thwnd=0x10\tparent=0x0\tclass=Winamp v1.x\ttext=a\\tb\\\\c\\r\\n"
                "\trect=-4,0,320,100\tclient=312,73\tvisible=1")
        w = pd.parse_window(line)
        self.assertEqual("Winamp v1.x", w["class"])
        self.assertEqual("a\tb\\c\r\n", w["text"])
        self.assertEqual((-4, 0, 320, 100), w["rect"])
        self.assertEqual((312, 73), w["client"])


@needs(EXE and DLL and os.path.exists(EXE), "built stand-in not given")
class DriverUnderWine(unittest.TestCase):
    def setUp(self):
        self.host = pd.make_host_folder(EXE, DLL, ini_text="[Gen_Nimbo]\nEnabled=0\n")

    def tearDown(self):
        shutil.rmtree(self.host, ignore_errors=True)

    def test_playlist_texts_and_lifecycle(self):
        with pd.Player(self.host, options=["--unload-after-quit"]) as player:
            self.assertEqual("init=0", player.wait_ready())
            player.add("C:\\music\\caf\u00e9.mp3", "Artist - Caf\u00e9", 245, 320, 48, 1)
            player.add(b"C:\\" + bytes(range(0x80, 0x80 + 300 % 0x80)) * 3, b"T|\xff")
            entries = player.playlist()
            self.assertEqual(b"C:\\music\\caf\xe9.mp3", entries[0]["path"])  # cp1252
            self.assertEqual((245, 320, 48, 1), entries[0]["numbers"])
            self.assertEqual(b"T|\xff", entries[1]["title"])
            self.assertEqual(3 + 3 * 44, len(entries[1]["path"]))

            main = [w for w in player.windows() if w["class"] == "Winamp v1.x"]
            self.assertEqual(1, len(main))
            self.assertEqual("1", main[0]["visible"])
            self.assertIsNone(player.message_box(0))

            lines = player.check("quit", timeout=30)
            self.assertIn("window-gone 1", lines)
            self.assertFalse([w for w in player.windows() if w["class"] == "Winamp v1.x"])
            with open(os.path.join(self.host, "winamp.ini"), "rb") as f:
                ini = f.read()
            self.assertIn(b"StatusMask=", ini)
        self.assertEqual(0, player._proc.returncode)

    def test_time_out_instead_of_hanging(self):
        with pd.Player(self.host, options=["--no-plugin"]) as player:
            self.assertEqual("no-plugin", player.wait_ready())
            with self.assertRaises(pd.PlayerError):
                player.command("sleep 5000", timeout=1)


if __name__ == "__main__":
    unittest.main(verbosity=2)
