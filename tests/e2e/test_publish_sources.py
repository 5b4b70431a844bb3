#!/usr/bin/env python3
"""Every source a listener plays, through the shipped DLL inside the player stand-in:
an internet radio entry whose song changes under the same path, files of any format
whose artist and title come from Winamp's file-info query (and what a host without it,
or a careless one, makes of that), and album and year from each tag version and
from Winamp."""

import os
import shutil
import sys
import tempfile
import time
import unittest

from e2e_support import (PLAYER_EXE, PLUGIN_DLL, PluginHost, Service, have_binaries, ini,
                         needs, publish_one, statuses, wait_until, windows_path)
from harness.id3 import id3v1, id3v2

# Every status goes out at once, whatever minimum interval the plugin may keep.
NO_INTERVAL = "MinInterval=0\r\n"
MASK = "%artist% - %title% (%album%, %year%)"


def info_queries(host):
    """The fields asked through query 3026 since the last call, in order."""
    lines = host.player.check("infoqueries")
    return [line.split(" ", 1)[1].split("\\t")[0] for line in lines[1:]]


@needs(have_binaries(PLAYER_EXE, PLUGIN_DLL), "built stand-in and DLL not given")
class PublishingEverySource(unittest.TestCase):
    def test_radio_publishes_each_song_once(self):
        radio = "http://radio.example:8000/stream"
        with Service() as service, PluginHost(PLUGIN_DLL, ini(
                proxy=service.proxy, status_mask="%artist% - %title% [%curstate%]",
                extra=NO_INTERVAL)) as host:
            host.player.add(radio, "[Connecting]")
            host.player.check("play 0")
            # Connecting is no song: nothing goes out, not even the hash request.
            time.sleep(2.5)
            self.assertEqual([], service.log())

            songs = ["Artist One - Song One", "Artist Two - Song Two", "Artist Three - Song Three"]
            for number, song in enumerate(songs, 1):
                host.player.check("retitle 0 " + song)
                wait_until(lambda: len(statuses(service)) == number, 10, "the status of " + song)
                # Buffering between songs: neither published nor a change.
                host.player.check("retitle 0 [Buffering: 40%] Radio X")
                time.sleep(2.5)
            # Back from buffering to the same song: still no change.
            host.player.check("retitle 0 " + songs[-1])
            service.wait_quiet(2.5)
            sys.stderr.write("[radio published %r] " % statuses(service))
            self.assertEqual([s + " [playing]" for s in songs], statuses(service))
            # A stream's song is its playlist title alone: Winamp's file info is never asked.
            self.assertEqual([], info_queries(host))

            # The same song paused is a change of state, published with that song.
            self.assertEqual("Artist Three - Song Three [paused]",
                             publish_one(self, host, service, "pause")["status_text"])

    def test_every_format_and_album_and_year(self):
        music = tempfile.mkdtemp(prefix="nimbo-e2e-")
        self.addCleanup(shutil.rmtree, music, True)
        audio = b"\xff\xfb" * 200
        files = {
            "v23.mp3": id3v2([("TPE1", "Band 3"), ("TIT2", "Song 3"), ("TALB", "Album 3"),
                              ("TYER", "1991")]) + audio,
            "v24.mp3": id3v2([("TPE1", "Band 4"), ("TIT2", "Song 4"),
                              ("TALB", 3, "Album \u03b1"), ("TDRC", "2019-05-01")],
                             version=4) + audio,
            "v1.mp3": audio + id3v1(title="Song 1", artist="Band 1", album="Album 1",
                                    year="1985"),
            # The tag has no title: Winamp fills that one only.
            "partial.mp3": id3v2([("TPE1", "Band P"), ("TALB", "Album P")]) + audio,
        }
        for name, data in files.items():
            with open(os.path.join(music, name), "wb") as f:
                f.write(data)
        flac = "C:\\music\\01.flac"
        with Service() as service, PluginHost(PLUGIN_DLL, ini(
                proxy=service.proxy, status_mask=MASK, extra=NO_INTERVAL)) as host:
            host.player.add(flac, "Track 01")
            host.player.check("tags 0 artist=Winamp Band|title=Winamp Song|album=Live|year=2019-05-01")
            for name in files:
                host.player.add(windows_path(os.path.join(music, name)), "Wrong - Title")
            host.player.check("tags 4 title=Winamp Title|year=2004")
            host.player.add("C:\\music\\Band X - Song X.wma", "Track 02")
            service.wait_quiet()  # the first entry, stopped, fetched the hash
            info_queries(host)

            cases = [
                ("play 0", "Winamp Band - Winamp Song (Live, 2019)",
                 ["artist", "title", "album", "year"]),
                ("play 1", "Band 3 - Song 3 (Album 3, 1991)", []),
                ("play 2", "Band 4 - Song 4 (Album \u03b1, 2019)", []),
                ("play 3", "Band 1 - Song 1 (Album 1, 1985)", []),
                ("play 4", "Band P - Winamp Title (Album P, 2004)", ["title", "year"]),
                # Winamp knows nothing of it: the file name gives the artist the
                # playlist title lacks.
                ("play 5", "Band X - Track 02 (, )", ["artist", "title", "album", "year"]),
            ]
            for command, status, asked in cases:
                with self.subTest(command):
                    published = publish_one(self, host, service, command)["status_text"]
                    sys.stderr.write("[%s published %r] " % (command, published))
                    self.assertEqual(status, published)
                    self.assertEqual(asked, info_queries(host))

            # A host that predates the query: what it leaves behind counts as no answer.
            host.player.check("fileinfo none")
            self.assertEqual("Unknown Artist - Track 01 (, )",
                             publish_one(self, host, service, "play 0")["status_text"])
            # A careless input plugin fills the whole buffer with no terminating zero:
            # the text stops at the buffer's end (512 units), and Winamp keeps running.
            host.player.check("fileinfo unterminated")
            entry = publish_one(self, host, service, "play 4")
            self.assertEqual("Band P - %s (Album P, 2004)" % ("Winamp Title" * 43)[:512],
                             entry["status_text"])
            host.assert_alive(self)


if __name__ == "__main__":
    unittest.main(verbosity=2)
