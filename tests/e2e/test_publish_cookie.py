#!/usr/bin/env python3
"""Cookie-mode publishing: the shipped DLL inside the player stand-in reaches the
service stand-in through Winamp's proxy setting. Checks the exact request bytes,
the composed status under code pages 1252 and 1251, that only a change publishes,
the renewal of a stale activity hash, and the clear request at quit."""

import os
import shutil
import tempfile
import time
import unittest

from e2e_support import (ID3_DIR, PLAYER_EXE, PLUGIN_DLL, SERVICE_HASH, PluginHost, Service,
                         clear_activity_query, default_status_mask, have_binaries, ini,
                         ini_values, is_set_activity, kinds, needs, param, publish_one,
                         raw_bytes, set_activity_query, shipped, wait_until, windows_path)
from harness import id3

# Every value placeholder once, inside a mask block, with word definitions outside it.
MASK = ("mask{%artist% - %title% [%curstate%] %length% %bitrate%kbps %samplerate%kHz "
        "%channels%ch}\r\n$playing=on air;")


def id3v2(version, frames):
    """An ID3v2 tag of (id, encoding, text) frames, encoding 0 as Windows-1251 bytes,
    then a little audio."""
    return id3.id3v2(frames, version=version, ansi="cp1251") + b"\xff\xfb" * 64


def sets_with_text(service, text):
    return [e for e in service.log() if is_set_activity(e) and e.get("status_text") == text]


@needs(have_binaries(PLAYER_EXE, PLUGIN_DLL), "built stand-in and DLL not given")
class CookieModePublishing(unittest.TestCase):
    def wait_for_status(self, service, text, timeout=10):
        return wait_until(lambda: sets_with_text(service, text), timeout,
                          "a set-activity with %r" % text)[0]

    def test_request_bytes_status_and_clear_at_quit(self):
        with Service() as service, \
                PluginHost(PLUGIN_DLL, ini(proxy=service.proxy, status_mask=MASK)) as host:
            host.player.add("C:\\music\\Band - Song.ogg", "some_band - Long_Song", 245, 320, 48, 1)
            host.player.check("play 0")
            expected = "Some band - Long Song [on air] 04:05 320kbps 48kHz 1ch"
            entry = self.wait_for_status(service, expected)

            log = service.log()
            # The first request of the run fetches the hash; every request carries the
            # cookie, the user agent and nothing else, in this order.
            self.assertEqual(shipped("/profile.php"), raw_bytes(log[0]))
            self.assertEqual(1, kinds(log).count("page"))
            self.assertEqual(shipped(set_activity_query(expected)), raw_bytes(entry))
            self.assertEqual(expected, service.status()["status"])

            host.quit()
            log = service.log()
            self.assertEqual("clear", kinds(log)[-1])
            self.assertEqual(1, kinds(log).count("clear"))
            self.assertEqual(shipped(clear_activity_query()), raw_bytes(log[-1]))
            self.assertIsNone(service.status()["status"])
            host.assert_saved(self)

    def test_default_mask(self):
        # No StatusMask key: the built-in default with all seven placeholders, its first
        # character the same under every code page.
        expected = ("\u03a9 Now is playing:\r\nArtist: Artist\r\nTitle: Title\r\n"
                    "Length: 04:05\r\nBitrate: 320\r\nSampleRate: 44\r\nChannels: 2")
        for locale in ("en_US.UTF-8", "ru_RU.UTF-8"):
            with self.subTest(locale=locale), Service() as service, \
                    PluginHost(PLUGIN_DLL, ini(proxy=service.proxy), locale=locale) as host:
                host.player.add("C:\\music\\x.ogg", "Artist - Title", 245, 320, 44, 2)
                host.player.check("play 0")
                entry = self.wait_for_status(service, expected)
                self.assertEqual(shipped(set_activity_query(expected)), raw_bytes(entry))
                host.quit()
                # The default is saved as it stands, as UTF-8.
                stored = default_status_mask().replace("\r\n", "{NextString}")
                self.assertEqual(stored.encode("utf-8"),
                                 ini_values(host.ini_bytes(), "Gen_Nimbo")["StatusMask"])

    @needs(os.path.exists(os.path.join(ID3_DIR, "mm-id3v1_Blood_Sugar.mp3")),
           "real-world tag files not present")
    def test_artist_and_title_from_the_playing_files_tag(self):
        # The tag (ID3v1 only) beats the playlist title.
        path = windows_path(os.path.join(ID3_DIR, "mm-id3v1_Blood_Sugar.mp3"))
        with Service() as service, PluginHost(
                PLUGIN_DLL, ini(proxy=service.proxy, status_mask="%artist% / %title%")) as host:
            host.player.add(path, "Wrong Artist - Wrong Title", 200)
            host.player.check("play 0")
            self.wait_for_status(service, "Pendulum / Blood Sugar")

    def test_cyrillic_status_under_code_page_1251(self):
        # "И" is 0xD0 0x98 in UTF-8, and 0x98 is the one byte cp1251 leaves unassigned.
        mask = "mask{%curstate%: %artist% — %title%}\r\n$playing=Играет;$paused=Пауза;"
        with Service() as service, PluginHost(
                PLUGIN_DLL, ini(proxy=service.proxy, status_mask=mask),
                locale="ru_RU.UTF-8") as host:
            # "add" puts the texts into the playlist in the ANSI code page (1251 here).
            host.player.add("C:\\музыка\\01.ogg", "Кино - Группа_крови", 270)
            host.player.check("play 0")
            playing = "Играет: Кино — Группа крови"
            entry = self.wait_for_status(service, playing)
            # Each letter is two upper-case percent groups of its UTF-8 bytes.
            self.assertIn("setactivity=%D0%98%D0%B3%D1%80", raw_bytes(entry).decode("latin-1"))
            self.assertEqual(shipped(set_activity_query(playing)), raw_bytes(entry))
            self.assertEqual(playing.encode("utf-8").hex(),
                             service.status()["history"][-1]["hex"])

            host.player.check("pause")
            self.wait_for_status(service, "Пауза: Кино — Группа крови")
            # The mask survives the save at quit byte for byte.
            host.quit()
            self.assertEqual(mask.replace("\r\n", "{NextString}").encode("utf-8"),
                             ini_values(host.ini_bytes(), "Gen_Nimbo")["StatusMask"])

    def test_non_latin_names_and_tags_under_both_code_pages(self):
        # Tags in all four encodings under non-Latin paths, through the whole plugin.
        # Encoding 0 holds Windows-1251 bytes, as Russian files do: only it (and the
        # 8-bit queries of an older Winamp) depends on the code page.
        music = tempfile.mkdtemp(prefix="nimbo-e2e-")
        self.addCleanup(shutil.rmtree, music, True)
        files = {
            "日本/曲.mp3": id3v2(3, [("TPE1", 1, "坂本"), ("TIT2", 1, "戦場のメリークリスマス")]),
            "한국어.mp3": id3v2(4, [("TPE1", 2, "아이유"), ("TIT2", 3, "좋은 날")]),
            "Ελλάδα.mp3": id3v2(4, [("TPE1", 3, "Χαρούλα"), ("TIT2", 0, "Кино")]),
            # The same name in two folders, and two names a code page spells alike.
            "A/01.mp3": id3v2(3, [("TPE1", 0, "First"), ("TIT2", 0, "One")]),
            "B/01.mp3": id3v2(3, [("TPE1", 0, "Second"), ("TIT2", 0, "Two")]),
            "愛.mp3": id3v2(3, [("TPE1", 0, "Love"), ("TIT2", 0, "A")]),
            "恋.mp3": id3v2(3, [("TPE1", 0, "Romance"), ("TIT2", 0, "B")]),
        }
        for name, data in files.items():
            path = os.path.join(music, name).encode("utf-8")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        greek_title = {"ru_RU.UTF-8": "Кино", "en_US.UTF-8": "Êèíî"}
        old_title = {"ru_RU.UTF-8": "Кино - Группа крови.ogg",
                     "en_US.UTF-8": "???? - ?????? ?????.ogg"}
        for locale in ("en_US.UTF-8", "ru_RU.UTF-8"):
            with self.subTest(locale=locale), Service() as service, PluginHost(
                    PLUGIN_DLL, ini(proxy=service.proxy, status_mask="%artist% - %title%"),
                    locale=locale) as host:
                plays = [(name, "Wrong - Title") for name in files]
                plays.append(("Русское/Кино - Группа_крови.ogg", None))
                for name, title in plays:
                    host.player.add(windows_path(os.path.join(music, name)), title, 100)
                service.wait_quiet()  # the first entry, stopped, fetched the hash
                expected = ["坂本 - 戦場のメリークリスマス", "아이유 - 좋은 날",
                            "Χαρούλα - " + greek_title[locale], "First - One", "Second - Two",
                            "Love - A", "Romance - B", "Кино - Группа крови.ogg"]
                for index, text in enumerate(expected):
                    entry = publish_one(self, host, service, "play %d" % index)
                    self.assertEqual(text, entry["status_text"])
                    self.assertEqual(shipped(set_activity_query(text)), raw_bytes(entry))

                # An older Winamp answers 1 to the wide queries: the 8-bit path of a
                # non-Latin name cannot be opened, so the playlist title stands in.
                host.player.check("widequeries off")
                self.assertEqual("Wrong - Title",
                                 publish_one(self, host, service, "play 0")["status_text"])
                self.assertEqual(old_title[locale],
                                 publish_one(self, host, service, "play 7")["status_text"])
                self.assertEqual("First - One",
                                 publish_one(self, host, service, "play 3")["status_text"])

    def test_only_a_change_publishes(self):
        with Service() as service, PluginHost(
                PLUGIN_DLL, ini(proxy=service.proxy, status_mask="%title% %curstate%")) as host:
            host.player.add("C:\\m\\one.ogg", "A - One", 100)
            host.player.add("C:\\m\\two.ogg", "B - Two", 100)
            service.wait_quiet()

            self.assertEqual("One playing",
                             publish_one(self, host, service, "play 0")["status_text"])
            # Idle: the tick keeps asking Winamp once a second and sends nothing.
            count, queries = len(service.log()), host.player.queries()
            time.sleep(4)
            self.assertEqual(count, len(service.log()))
            self.assertGreaterEqual(host.player.queries() - queries, 3)

            self.assertEqual("One paused",
                             publish_one(self, host, service, "pause")["status_text"])
            self.assertEqual("One stopped",
                             publish_one(self, host, service, "stop")["status_text"])
            self.assertEqual("One playing",
                             publish_one(self, host, service, "play 0")["status_text"])
            self.assertEqual("Two playing",
                             publish_one(self, host, service, "play 1")["status_text"])
            # The same file again in the same state is no change.
            count = len(service.log())
            host.player.check("play 1")
            time.sleep(2)
            self.assertEqual(count, len(service.log()))

    def test_stale_hash_is_renewed_once(self):
        with Service() as service, PluginHost(
                PLUGIN_DLL, ini(proxy=service.proxy, status_mask="%title% %curstate%")) as host:
            host.player.add("C:\\m\\one.ogg", "A - One", 100)
            host.player.check("play 0")
            self.wait_for_status(service, "One playing")
            service.wait_quiet()

            new_hash = service.control("rotate-hash")["hash"]
            before = len(service.log())
            host.player.check("pause")
            wait_until(lambda: len(service.log()) >= before + 3, 15, "set, page, set")
            new = service.wait_quiet()[before:]
            self.assertEqual(["set", "page", "set"], kinds(new))
            self.assertEqual(SERVICE_HASH, param(new[0], "activityhash"))
            self.assertEqual(new_hash, param(new[2], "activityhash"))
            self.assertEqual(param(new[0], "setactivity"), param(new[2], "setactivity"))
            self.assertEqual(shipped(set_activity_query("One paused", new_hash)),
                             raw_bytes(new[2]))
            self.assertEqual("One paused", service.status()["status"])

            # A service that answers every set-activity empty: one renewal, then the
            # tick gives up instead of looping, and shows nothing.
            service.mode(mode="empty", path="/profile.php", param="setactivity", count=-1)
            before = len(service.log())
            host.player.check("pause")
            wait_until(lambda: len(service.log()) >= before + 3, 15, "set, page, set")
            self.assertEqual(["set", "page", "set"], kinds(service.wait_quiet(2.5)[before:]))
            self.assertIsNone(host.message_box(0))

    def test_nothing_goes_out_while_disabled(self):
        with Service() as service, PluginHost(
                PLUGIN_DLL, ini(enabled=False, proxy=service.proxy)) as host:
            host.player.add("C:\\m\\one.ogg", "A - One", 100)
            host.player.check("play 0")
            time.sleep(3)
            host.quit()
            self.assertEqual([], service.log())  # no publish, no clear at quit
            host.assert_saved(self, enabled=False)


if __name__ == "__main__":
    unittest.main(verbosity=2)
