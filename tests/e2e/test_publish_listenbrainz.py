#!/usr/bin/env python3
"""ListenBrainz beside the site: the playing-now and its clears byte for byte, the
replies that stop, delay or repeat it, the two targets failing apart, quit's bound, the
secure connection directly and through the proxy's tunnel, and the listens: when a play
counts, and that none is lost while the service is down, at quit or at a kill."""

import json
import os
import re
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_support import (LOOPBACK_DLL, LOOPBACK_HOST, LOOPBACK_PORT, PLAYER_EXE,  # noqa: E402
                         PluginHost, Service, activity_log, answer_security_code, have_binaries,
                         ini, is_clear_activity, kinds, needs, raw_bytes, security_code_window,
                         statuses, wait_until)
from harness.certs import TestPki  # noqa: E402
from harness.id3 import Raw, id3v2  # noqa: E402
from harness.player import windows_path  # noqa: E402
from harness.queue import queue_file, queued as queued_lines  # noqa: E402
from harness.service import is_lb_clear, is_lb_listens, is_lb_playing_now, lb_json  # noqa: E402

TOKEN = "lb-test-token"
VERSION = re.search(r'NIMBO_VERSION "([^"]+)"', open(os.path.join(
    os.path.dirname(__file__), "..", "..", "common", "version.h")).read()).group(1)
USER_AGENT = "Nimbo/%s (Winamp plugin that publishes what plays)" % VERSION.replace(" ", "-")
REJECTED = "Nimbo : 127.0.0.1 did not accept the user token"
LOOPBACK_TLS_PORT = int(os.environ.get("NIMBO_LOOPBACK_SECURE_PORT", "18443"))


def lb_ini(server, cookie=None, extra="", **kw):
    """ListenBrainz on with the stand-in's token; the site only with a cookie."""
    return ini(cookie=cookie, status_mask="%title% %curstate%", extra=(
        "ListenBrainz=1\r\nListenBrainzToken=%s\r\nListenBrainzServer=%s\r\n%s"
        % (TOKEN, server, extra)), **kw)


def playing_now(artist, title, album=None, seconds=None):
    info = {"media_player": "Winamp", "submission_client": "Nimbo",
            "submission_client_version": VERSION}
    if seconds is not None:
        info["duration_ms"] = seconds * 1000
    meta = {"artist_name": artist, "track_name": title}
    if album is not None:
        meta["release_name"] = album
    meta["additional_info"] = info
    return {"listen_type": "playing_now", "payload": [{"track_metadata": meta}]}


def request(path, host, body):
    """The exact bytes of a ListenBrainz POST; `body` a JSON value, written compact."""
    data = json.dumps(body, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    head = ("POST %s HTTP/1.0\r\nHost: %s\r\nUser-Agent: %s\r\nAuthorization: Token %s\r\n"
            "Content-Type: application/json\r\nContent-Length: %d\r\n\r\n"
            % (path, host, USER_AGENT, TOKEN, len(data)))
    return head.encode("ascii") + data


CLEAR = {"client": "Nimbo"}


def lb_requests(service):
    return [e for e in service.log() if is_lb_playing_now(e) or is_lb_clear(e)]


def lb_wire(service):
    """Each ListenBrainz request as "now <artist> - <title>" or "clear"."""
    out = []
    for e in lb_requests(service):
        if is_lb_clear(e):
            out.append("clear")
        else:
            meta = json.loads(raw_bytes(e).split(b"\r\n\r\n", 1)[1])["payload"][0]["track_metadata"]
            out.append("now %s - %s" % (meta["artist_name"], meta["track_name"]))
    return out


def next_lb(service, count, what, timeout=10):
    return wait_until(lambda: len(lb_requests(service)) >= count and lb_requests(service),
                      timeout, what)[count - 1]


@needs(have_binaries(PLAYER_EXE, LOOPBACK_DLL), "built stand-in and DLL not given")
class ListenBrainz(unittest.TestCase):
    def with_site(self):
        """The loopback plugin with ListenBrainz on and the site's cookie."""
        host = PluginHost(LOOPBACK_DLL, lb_ini("http://%s" % LOOPBACK_HOST,
                                               cookie="remixsid=5f2e8a91c04b"))
        self.addCleanup(host.close)
        return host

    def with_site_and_two_tracks(self):
        host = self.with_site()
        host.player.add("C:\\m\\one.ogg", "A - One", 100)
        host.player.add("C:\\m\\two.ogg", "B - Two", 100)
        return host

    def test_alone_exact_bytes_clears_and_quit(self):
        music = tempfile.mkdtemp(prefix="nimbo-e2e-")
        self.addCleanup(shutil.rmtree, music, True)
        tagged = os.path.join(music, "tagged.mp3")
        artist, title, album = 'Sigur "Rós" \\ Co', "Smile \U0001F600 \u0416", "Back\\slash"
        with open(tagged, "wb") as f:
            f.write(id3v2([("TPE1", 1, artist), ("TIT2", 1, title), ("TALB", 1, album)],
                          version=3) + b"\xff\xfb" * 200)
        with Service() as service:
            server = "http://127.0.0.1:%d" % service.port
            host_header = "127.0.0.1:%d" % service.port
            host = PluginHost(LOOPBACK_DLL, lb_ini(server, extra=(
                "OnPause=1\r\nPrivateWords=lullaby\r\n")))
            self.addCleanup(host.close)
            host.player.add(windows_path(tagged), "Wrong - Title", 257)
            host.player.add("http://radio.example/stream", "Jay-Z & Co - Song - Live", 0)
            host.player.add("C:\\m\\sleep.ogg", "Mum - Lullaby", 100)
            host.player.check("play 0")
            first = next_lb(service, 1, "the playing-now of the tagged file")
            self.assertEqual(request("/1/submit-listens", host_header,
                                     playing_now(artist, title, album, 257)), raw_bytes(first))
            self.assertEqual(artist, service.lb_playing_now()["artist_name"])

            host.player.check("pause")  # OnPause: the clear
            self.assertEqual(request("/1/playing-now/delete", host_header, CLEAR),
                             raw_bytes(next_lb(service, 2, "the clear on pause")))
            host.player.check("play 1")  # a stream: its title split at the first " - "
            self.assertEqual(request("/1/submit-listens", host_header,
                                     playing_now("Jay-Z & Co", "Song - Live")),
                             raw_bytes(next_lb(service, 3, "the stream's playing-now")))
            host.player.check("play 2")  # private: cleared, and its name never sent
            next_lb(service, 4, "the clear for a private track")
            time.sleep(2)
            self.assertEqual(["now %s - %s" % (artist, title), "clear",
                              "now Jay-Z & Co - Song - Live", "clear"], lb_wire(service))
            self.assertNotIn(b"Lullaby", b"".join(raw_bytes(e) for e in service.log()))
            # Playing again, then quit at once: the clear waits out the second between two
            # requests, no more. The site, without credentials, never heard a word.
            host.player.check("play 0")
            next_lb(service, 5, "the playing-now before quit")
            host.quit()
            self.assertEqual("clear", lb_wire(service)[-1])
            self.assertEqual(6, len(lb_requests(service)))
            self.assertEqual([], [e for e in service.log() if not e["path"].startswith("/1/")])
            log = activity_log(host)
            self.assertIn("127.0.0.1: published: %s - %s" % (artist, title), log)
            self.assertIn("127.0.0.1: playing now cleared: paused", log)
            self.assertIn("127.0.0.1: playing now cleared: private track", log)
            self.assertNotIn(TOKEN, log)
            self.assertIn(b"ListenBrainzToken=" + TOKEN.encode(), host.ini_bytes())

    def test_replies_500_then_429_then_401(self):
        with Service() as service:
            service.lb_status(500)
            host = PluginHost(LOOPBACK_DLL, lb_ini("http://127.0.0.1:%d" % service.port))
            self.addCleanup(host.close)
            for n in range(4):
                host.player.add("C:\\m\\%d.ogg" % n, "Band - Song %d" % n, 100)
            host.player.check("play 0")
            # 500: no box, a log line, and the try again after 15 s gets it through.
            next_lb(service, 1, "the first playing-now")
            wait_until(lambda: service.lb_playing_now(), 25, "the try again after the 500")
            self.assertIsNone(host.message_box(0))
            self.assertIn("127.0.0.1: not published: the server failed with 500",
                          activity_log(host))
            self.assertIn("127.0.0.1: try 2, published: Band - Song 0", activity_log(host))

            # 429: nothing more until the wait the header gives has passed.
            service.lb_status(429, reset_in=20)
            host.player.check("play 1")
            refused = next_lb(service, 3, "the request refused with 429")
            retried = next_lb(service, 4, "the request after the wait", timeout=30)
            self.assertGreaterEqual(retried["time"] - refused["time"], 19.5)
            self.assertIn("too many requests, waiting 20 s", activity_log(host))

            # 401: one box, one line, then silence until the token changes.
            service.lb_status(401)
            host.player.check("play 2")
            box = host.message_box(10000)
            self.assertEqual(REJECTED, box and box["text"])
            host.dismiss(box)
            count = len(lb_requests(service))
            host.player.check("play 3")
            time.sleep(3)
            self.assertEqual(count, len(lb_requests(service)))
            self.assertIsNone(host.message_box(0))
            self.assertEqual(1, activity_log(host).count("the user token was not accepted"))
            host.quit()
            self.assertEqual(count, len(lb_requests(service)), "a request after the 401")

    def test_a_slow_site_holds_back_neither_listenbrainz_nor_the_last_of_a_burst(self):
        with Service(port=LOOPBACK_PORT) as service:
            host = self.with_site()
            for name in ("One", "Two", "Three", "Four"):
                host.player.add("C:\\m\\%s.ogg" % name, "A - " + name, 100)
            wait_until(lambda: statuses(service), 15, "the status at start")
            before = len(statuses(service))

            def burst(*entries):
                # The site's status for the first answers after 4 s; each change meanwhile
                # reaches ListenBrainz at once.
                service.mode(mode="delay", seconds=4, path="/profile.php", param="setactivity")
                for n in entries:
                    host.player.check("play %d" % n)
                    time.sleep(1.3)
                time.sleep(4)

            # The first and the last go to the site, not the one between.
            burst(0, 1, 2)
            self.assertEqual(["One", "Two", "Three"],
                             [lb_json(e)["payload"][0]["track_metadata"]["track_name"]
                              for e in lb_requests(service)])
            wait_until(lambda: len(statuses(service)) == before + 2, 10, "the last of the burst")
            # Back to what the site shows before its worker is free: nothing more goes.
            burst(3, 2, 3)
            self.assertEqual(["One playing", "Three playing", "Four playing"],
                             statuses(service)[before:])
            self.assertEqual(6, len(lb_requests(service)))
            host.quit()

    def test_the_security_code_window_holds_only_the_site(self):
        with Service(port=LOOPBACK_PORT, args=("--captcha", "1")) as service:
            host = PluginHost(LOOPBACK_DLL, lb_ini(
                "http://%s" % LOOPBACK_HOST, no_login=False,
                extra="AuthLogin=user@example.com\r\nAuthPass=secret\r\n"))
            self.addCleanup(host.close)
            host.player.add("C:\\m\\one.ogg", "A - One", 100)
            host.player.add("C:\\m\\two.ogg", "B - Two", 100)
            host.player.check("play 0")
            wait_until(lambda: security_code_window(host), 20, "the security-code window")
            host.player.check("play 1")
            wait_until(lambda: (service.lb_playing_now() or {}).get("track_name") == "Two", 10,
                       "ListenBrainz while the window waits")
            self.assertEqual([], statuses(service))
            answer_security_code(host, "4821")
            # The site's own order stays: the status it logged in for, then the change.
            wait_until(lambda: len(statuses(service)) == 2, 15, "the site after the code")
            self.assertEqual(["One playing", "Two playing"], statuses(service))
            host.quit()

    def test_switched_off_while_listenbrainz_is_slow(self):
        with Service(port=LOOPBACK_PORT) as service:
            host = self.with_site_and_two_tracks()
            host.player.check("play 0")
            wait_until(lambda: service.lb_playing_now() and statuses(service), 10, "both")
            service.mode(mode="delay", seconds=4, path="/1/submit-listens")
            host.player.check("play 1")
            wait_until(lambda: statuses(service)[-1:] == ["Two playing"], 3, "the site at once")
            host.player.check("menu pick Publish status")
            # The site clears at once; ListenBrainz once its playing-now is answered.
            wait_until(lambda: [e for e in service.log() if is_clear_activity(e)], 3,
                       "the site's clear")
            wait_until(lambda: [e for e in lb_requests(service) if is_lb_clear(e)], 10,
                       "ListenBrainz's clear")
            self.assertEqual(["One", "Two", None], [
                None if is_lb_clear(e) else lb_json(e)["payload"][0]["track_metadata"]["track_name"]
                for e in lb_requests(service)])
            host.quit()

    def test_site_and_listenbrainz_fail_apart_and_quit_while_both_hang(self):
        with Service(port=LOOPBACK_PORT) as service:
            service.lb_status(500, count=100)
            host = self.with_site_and_two_tracks()
            host.player.check("play 0")
            # ListenBrainz fails and waits for its try; the site publishes at once.
            wait_until(lambda: "One playing" in statuses(service), 10, "the site's status")
            self.assertIn("localhost: not published: the server failed with 500",
                          activity_log(host))
            service.control("clear-modes")
            service.mode(mode="reset", path="/profile.php", count=100)
            host.player.check("play 1")
            wait_until(lambda: (service.lb_playing_now() or {}).get("track_name") == "Two", 10,
                       "ListenBrainz while the site fails")
            site_lines = lambda: [l for l in activity_log(host).split("published: One playing")[-1]
                                  .splitlines() if "ListenBrainz" not in l]
            wait_until(lambda: any("not published" in l for l in site_lines()), 10,
                       "the site's failure")
            service.control("clear-modes")
            service.mode(mode="hang", count=100)
            self.assertLess(host.timed_quit(), 6000)
            host.assert_saved(self)
            self.assertEqual(["clear", "lb_clear"], sorted(kinds(service.log()[-2:])))


@needs(have_binaries(PLAYER_EXE, LOOPBACK_DLL), "built stand-in and DLL not given")
@needs(shutil.which("openssl"), "openssl not installed")
class ListenBrainzOverTls(unittest.TestCase):
    def test_direct_and_through_the_proxy(self):
        pki = TestPki()
        self.addCleanup(pki.close)
        trusted = pki.ca("trusted")
        server = pki.server(trusted, ["localhost"])
        for name, proxied in (("direct", False), ("proxy", True)):
            with self.subTest(name), Service(tls=server, tls_port=LOOPBACK_TLS_PORT) as service:
                host = PluginHost(LOOPBACK_DLL, lb_ini(
                    "https://localhost:%d" % LOOPBACK_TLS_PORT,
                    proxy=service.proxy if proxied else None),
                    options=["--trust-ca", windows_path(pki.ca_pem(trusted))])
                self.addCleanup(host.close)
                host.player.add("C:\\m\\one.ogg", "A - One", 100)
                host.player.check("play 0")
                entry = next_lb(service, 1, "the playing-now over TLS", timeout=20)
                self.assertEqual((True, "localhost"), (entry.get("tls"), entry.get("sni")))
                self.assertEqual("localhost:%d" % LOOPBACK_TLS_PORT if proxied else None,
                                 entry.get("tunnel"))
                self.assertEqual(request("/1/submit-listens", "localhost:%d" % LOOPBACK_TLS_PORT,
                                         playing_now("A", "One", seconds=100)), raw_bytes(entry))
                host.close()


def queued(host):
    return queued_lines(host.folder)


def titles(listens):
    return [(l["listen_type"], l["track_metadata"]["track_name"]) for l in listens]


def seeded(service, titles_waiting, extra="", read_only=False):
    """A Winamp started over a queue file that an earlier run left with `titles_waiting`."""
    name = "nimbo-listens.txt"
    return PluginHost(LOOPBACK_DLL, lb_ini("http://127.0.0.1:%d" % service.port, extra=extra),
                      files={name: queue_file(titles_waiting)},
                      read_only=[name] if read_only else [])


def assert_spaced(test, service):
    """No two ListenBrainz requests start less than a second apart (the stand-in's clock
    sees them up to the exchange's slack early)."""
    times = [e["time"] for e in service.log() if e["path"].startswith("/1/")]
    gaps = [round(b - a, 2) for a, b in zip(times, times[1:])]
    test.assertEqual([], [g for g in gaps if g < 0.7], "requests closer than a second")


@needs(have_binaries(PLAYER_EXE, LOOPBACK_DLL), "built stand-in and DLL not given")
class Listens(unittest.TestCase):
    def test_what_counts_and_a_time_offline(self):
        with Service() as service:
            service.configure(lb_refuse="BAD")
            host = PluginHost(LOOPBACK_DLL, lb_ini("http://127.0.0.1:%d" % service.port,
                                                   extra="PrivateWords=lullaby\r\n"))
            self.addCleanup(host.close)
            for path, title, seconds in (("a", "Band - Forty", 40), ("b", "Band - Paused", 40),
                                         ("c", "Mum - Lullaby", 40), ("d", "Band - Off 1", 30),
                                         ("e", "Band - Off 2 BAD", 30), ("f", "Band - Off 3", 30),
                                         ("g", "Band - Back", 100)):
                host.player.add("C:\\m\\%s.ogg" % path, title, seconds)
            started = time.time()
            host.player.check("play 0")
            listen = wait_until(service.lb_listens, 30, "the listen of the 40 s track")[0]
            self.assertGreaterEqual(time.time() - started, 19.5, "counted before half of it")
            self.assertEqual("single", listen["listen_type"])
            self.assertLessEqual(abs(listen["listened_at"] - started), 2)
            now = json.loads(raw_bytes(lb_requests(service)[0]).split(b"\r\n\r\n", 1)[1])
            self.assertEqual(now["payload"][0]["track_metadata"], listen["track_metadata"])

            # Paused past its half, then on: 6 s of play do not count; nor does a private
            # track played past its half, which leaves no trace anywhere.
            host.player.check("play 1")
            time.sleep(5)
            host.player.check("pause")
            time.sleep(17)
            host.player.check("pause")
            time.sleep(1)
            host.player.check("play 2")
            time.sleep(22)
            self.assertEqual(1, len(service.lb_listens()))
            self.assertNotIn(b"Lullaby", b"".join(raw_bytes(e) for e in service.log()))
            self.assertNotIn("Lullaby", activity_log(host))
            self.assertEqual([], queued(host))

            # The service down for three tracks, one of them a listen it will refuse:
            # back up, the good ones arrive in order as imports, the bad one is dropped.
            service.lb_status(500, count=-1)
            for n in (3, 4, 5):
                host.player.check("play %d" % n)
                wait_until(lambda: len(queued(host)) == n - 2, 25, "listen %d queued" % n)
            service.control("clear-modes")
            host.player.check("play 6")
            wait_until(lambda: len(service.lb_listens()) == 3 and not queued(host), 20,
                       "the listens that waited")
            self.assertEqual([("import", "Off 1"), ("import", "Off 3")],
                             titles(service.lb_listens()[1:]))
            self.assertIn("127.0.0.1: listen refused and dropped: Band - Off 2 BAD",
                          activity_log(host))
            self.assertEqual(1, activity_log(host).count("refused and dropped"))
            host.quit()

    def test_a_front_server_a_refusing_server_and_a_file_that_stays(self):
        five = ["One", "Two", "Three", "Four", "Five"]
        with Service() as service:
            # A playing-now's try again that gets through lets the listens go: in the
            # next tick, a second after it, not in the same one.
            service.lb_status(500, count=2)
            host = seeded(service, five)
            self.addCleanup(host.close)
            host.player.add("C:\\m\\p.ogg", "Band - Playing", 300)
            host.player.check("play 0")
            wait_until(lambda: len(service.lb_listens()) == 5 and service.lb_playing_now(), 25,
                       "the playing-now and the listens after the 500s")
            assert_spaced(self, service)
            host.quit()

            # HTML 400s to everything: nothing is dropped, and the log quotes the page.
            service.mode(mode="page", count=-1)
            host = seeded(service, five, "OnPause=1\r\n")
            self.addCleanup(host.close)
            host.player.add("C:\\m\\p.ogg", "Band - Playing", 300)
            host.player.check("play 0")
            time.sleep(25)
            self.assertEqual(5, len(queued(host)), "a listen was dropped")
            self.assertIn("127.0.0.1: listens not sent: the server answered 400 with no error "
                          "of ListenBrainz's: \"400 The plain HTTP request was sent to HTTPS port\"",
                          activity_log(host))
            self.assertNotIn("dropped", activity_log(host))

            # A server without the playing-now clear: said once, then no clear goes to it.
            service.control("clear-modes")
            service.mode(mode="page", path="/1/playing-now/delete", code=404, title="Not Found",
                         count=-1)
            mark = len(service.log())
            host.player.check("pause")
            wait_until(lambda: "has no playing-now clear" in activity_log(host), 20, "the 404")
            host.player.check("pause")
            # The playing-now's success lets the listens go at once, in one import.
            wait_until(lambda: not queued(host), 20, "the listens after the 400s")
            self.assertEqual(five, [t for _, t in titles(service.lb_listens()[5:])])
            host.player.check("pause")
            time.sleep(2)
            host.quit()
            self.assertEqual(1, len([e for e in service.log()[mark:] if is_lb_clear(e)]),
                             "a clear after the server's 404")
            self.assertEqual(1, activity_log(host).count("has no playing-now clear"))

            # ListenBrainz refusing every single: with no listen taken there is no evidence
            # against any, so none is dropped; one line, and the lane backs off.
            service.control("clear-modes")
            service.lb_status(400, count=-1, error="refused by this server")
            host = seeded(service, ["A", "B", "C", "D", "E"])
            self.addCleanup(host.close)
            wait_until(lambda: "refused one by one" in activity_log(host), 20, "the refusals")
            time.sleep(3)
            self.assertIn("127.0.0.1: 3 listens refused one by one and none taken: none is "
                          "dropped while the server takes none, and they are tried again later",
                          activity_log(host))
            self.assertNotIn("dropped:", activity_log(host))
            self.assertEqual(5, len(queued(host)))
            host.quit()

            # A 200 that is not ListenBrainz's own "ok" (a captive portal's page): none leaves.
            service.control("clear-modes")
            service.mode(mode="page", code=200, title="Welcome to the hotel", count=-1)
            host = seeded(service, ["P", "Q"])
            self.addCleanup(host.close)
            wait_until(lambda: "answered 200" in activity_log(host), 20, "the page's 200")
            self.assertIn("127.0.0.1: listens not sent: the server answered 200 without "
                          "ListenBrainz's \"ok\": \"Welcome to the hotel\"", activity_log(host))
            self.assertEqual(2, len(queued(host)))
            host.quit()

            # A queue file that cannot be rewritten: what the service took goes once.
            service.control("clear-modes")
            host = seeded(service, ["X", "Y", "Z"], read_only=True)
            self.addCleanup(host.close)
            wait_until(lambda: len(service.lb_listens()) == 13, 10, "the listens of the file")
            time.sleep(12)
            self.assertEqual(13, len(service.lb_listens()), "a listen sent twice")
            self.assertEqual(1, activity_log(host).count("could not be rewritten"))
            os.chmod(os.path.join(host.folder, "nimbo-listens.txt"), 0o644)
            wait_until(lambda: not queued(host), 25, "the file rewritten after the back-off")
            self.assertIn("the listen queue could be rewritten again: 3 listens sent left it",
                          activity_log(host))
            self.assertEqual(13, len(service.lb_listens()))
            host.quit()

    def test_ids_from_the_tags_go_out_and_survive_a_restart(self):
        mbid = "%08x-5d4e-4f3a-9b2c-1d0e9f8a7b6c".__mod__
        ids = {"recording_mbid": mbid(1), "release_mbid": mbid(2),
               "artist_mbids": [mbid(3), mbid(4)], "release_group_mbid": mbid(5),
               "track_mbid": mbid(6), "work_mbids": [mbid(7)],
               "isrc": "GBAYE0601477", "tracknumber": 3, "discnumber": 1}
        user_texts = {"Album": mbid(2), "Artist": mbid(3) + "\0" + mbid(4),
                      "Release Group": mbid(5), "Release Track": mbid(6), "Work": mbid(7)}
        music = tempfile.mkdtemp(prefix="nimbo-e2e-")
        self.addCleanup(shutil.rmtree, music, True)
        path = os.path.join(music, "picard.mp3")
        with open(path, "wb") as f:  # as MusicBrainz's tagger writes ID3v2.4
            f.write(id3v2([("TPE1", 3, "Band"), ("TIT2", 3, "Tagged"), ("TALB", 3, "Record"),
                           ("TRCK", 3, "3/12"), ("TPOS", 3, "1/2"), ("TSRC", 3, ids["isrc"]),
                           Raw("UFID", b"http://musicbrainz.org\0" + mbid(1).encode())] +
                          [Raw("TXXX", ("\3MusicBrainz %s Id\0%s" % item).encode())
                           for item in user_texts.items()], version=4) + b"\xff\xfb" * 200)
        with Service() as service:
            host = PluginHost(LOOPBACK_DLL, lb_ini("http://127.0.0.1:%d" % service.port))
            self.addCleanup(host.close)
            host.player.check("version 5092")
            host.player.add(windows_path(path), "Wrong - Title", 30)
            host.player.check("play 0")
            expected = playing_now("Band", "Tagged", "Record", 30)
            info = {"media_player": "Winamp", "media_player_version": "5.9.2"}
            info.update(expected["payload"][0]["track_metadata"]["additional_info"])
            info.update(ids)
            expected["payload"][0]["track_metadata"]["additional_info"] = info
            self.assertEqual(request("/1/submit-listens", "127.0.0.1:%d" % service.port, expected),
                             raw_bytes(next_lb(service, 1, "the tagged file's playing-now")))

            # The listen waits in the file while the service is down, and after a restart
            # goes out with the very data it was counted with.
            service.lb_status(500, count=-1)
            wait_until(lambda: len(queued(host)) == 1, 25, "the listen queued")
            self.assertTrue(queued(host)[0].startswith("v2\t"), queued(host)[0])
            host.quit()
            service.control("clear-modes")
            host.start_again()
            listen = wait_until(service.lb_listens, 20, "the listen after the restart")[0]
            self.assertEqual(("import", expected["payload"][0]["track_metadata"]),
                             (listen["listen_type"], listen["track_metadata"]))
            host.quit()

    def test_quit_and_a_kill_while_offline_lose_nothing(self):
        with Service() as service:
            service.lb_status(500, count=-1)
            host = PluginHost(LOOPBACK_DLL, lb_ini("http://127.0.0.1:%d" % service.port))
            self.addCleanup(host.close)
            host.player.add("C:\\m\\q.ogg", "Band - Before quit", 30)
            host.player.check("play 0")
            wait_until(lambda: len(queued(host)) == 1, 25, "the first listen queued")
            self.assertLess(host.timed_quit(), 6000)

            host.start_again()
            host.player.add("C:\\m\\k.ogg", "Band - Before kill", 30)
            host.player.check("play 0")
            wait_until(lambda: len(queued(host)) == 2, 25, "the second listen queued")
            self.assertEqual(9, host.terminate())
            lines = queued(host)
            sys.stderr.write("[queue after the kill:\n%s\n] " % "\n".join(lines))
            self.assertEqual(2, len(lines))

            service.control("clear-modes")
            host.start_again()
            wait_until(lambda: len(service.lb_listens()) == 2 and not queued(host), 20,
                       "the listens of the earlier runs")
            self.assertEqual([("import", "Before quit"), ("import", "Before kill")],
                             titles(service.lb_listens()))
            self.assertEqual(1, len([e for e in service.log() if is_lb_listens(e)
                                     and e.get("lb_code") == 200]), "not in one request")
            host.quit()


if __name__ == "__main__":
    unittest.main(verbosity=2)
