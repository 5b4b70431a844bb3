#!/usr/bin/env python3
"""Last.fm and the servers that speak its interface, end to end: the playing-now and
the scrobbles signed as the service checks them, scrobbles that waited offline going as
one batch, an ignored one, the session the service no longer accepts, a box of one
target that holds neither the count nor the others, Libre.fm through the proxy's tunnel,
quit with three targets hanging and a box up, an account added in the options window and
connected there scrobbling at once, and a removed account's scrobbles kept on No."""

import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_support import (LOOPBACK_DLL, LOOPBACK_HOST, PLAYER_EXE, PluginHost,  # noqa: E402
                         Service, activity_log, have_binaries, ini, needs, wait_until)
from harness.ini import ini_values  # noqa: E402
from harness.player import top_window  # noqa: E402
from harness import controls  # noqa: E402
from harness.certs import TestPki  # noqa: E402
from harness.ini import SERVICE_COOKIE  # noqa: E402
from harness.player import windows_path  # noqa: E402
from harness.queue import queue_file, queued as queued_lines  # noqa: E402
from harness.service import param, raw_bytes  # noqa: E402

KEY = "0123456789abcdef0123456789abcdef"  # the stand-in's test account
SECRET = "fedcba9876543210fedcba9876543210"
SESSION = "nimbo-session-key-0123456789abcd"
LOOPBACK_TLS_PORT = int(os.environ.get("NIMBO_LOOPBACK_SECURE_PORT", "18443"))


def lfm_ini(server, extra="", **kw):
    """Last.fm on with the stand-in's account and session; the site without a cookie
    unless one is given."""
    kw.setdefault("cookie", None)
    return ini(extra=(
        "LastFm=1\r\nLastFmServer=%s\r\nLastFmKey=%s\r\nLastFmSecret=%s\r\n"
        "LastFmSession=%s\r\nLastFmUser=nimbo-scrobbler\r\n%s"
        % (server, KEY, SECRET, SESSION, extra)), **kw)


def scrobbled(service):
    return [s["track"] for s in service.lfm_scrobbles()]


def queued(host):
    return queued_lines(host.folder, "nimbo-scrobbles.txt")


def open_options(p):
    """The settings window, then More...: a function giving the options window's controls."""
    p.check("config")
    more = top_window(p.windows(), "Nimbo")[1][controls.get("kMoreButton")]
    p.check("click %s" % more["hwnd"])
    options = lambda: top_window(p.windows(), "Nimbo options")[1]
    wait_until(options, 10, "the options window")
    return options


def ok_in_both_windows(p):
    p.check("click %s" % top_window(p.windows(), "Nimbo options")[1][
        controls.get("kOptionsOkButton")]["hwnd"])
    p.check("sleep 500")
    p.check("click %s" % top_window(p.windows(), "Nimbo")[1][controls.get("kOkButton")]["hwnd"])
    p.check("sleep 500")


@needs(have_binaries(PLAYER_EXE, LOOPBACK_DLL), "built stand-in and DLL not given")
class LastFm(unittest.TestCase):
    def test_playing_now_scrobbles_a_time_offline_and_the_errors(self):
        with Service() as service:
            server = "http://127.0.0.1:%d/2.0/" % service.port
            # Down at the start, behind something that answers 503 with JSON of its own:
            # that is no account of the batch, so the three that waited stay, then go as one.
            service.lb_status(503, count=-1, path="/2.0/", error="down for maintenance")
            service.configure(lfm_ignore="Ignored:1")
            host = PluginHost(LOOPBACK_DLL, lfm_ini(server), files={
                "nimbo-scrobbles.txt": queue_file(["One", "Ignored", "Three"])})
            self.addCleanup(host.close)
            wait_until(lambda: "scrobbles not sent: the server answered 503" in activity_log(host),
                       10, "the failed batch")
            self.assertIn("127.0.0.1: scrobbles not sent: the server answered 503 without "
                          "127.0.0.1's answer: \"{\"code\":503,\"error\":\"down for maintenance\"}\"",
                          activity_log(host))
            self.assertNotIn("scrobbles sent", activity_log(host))
            self.assertEqual(3, len(queued(host)))
            service.control("clear-modes")
            host.player.add("C:\\m\\a.ogg", "Band - Thirty", 30)
            host.player.check("play 0")
            now = wait_until(service.lfm_now_playing, 10, "the playing-now")
            self.assertEqual(("Band", "Thirty", "30"), (now["artist"], now["track"],
                                                        now["duration"]))
            # The playing-now's success lets the waiting ones go at once, in one request.
            wait_until(lambda: not queued(host), 10, "the batch that waited")
            self.assertEqual(["One", "Three"], scrobbled(service))
            batches = [e for e in service.log() if e.get("lfm_method") == "track.scrobble"
                       and e.get("lfm_code") == 0]
            self.assertEqual([3], [e.get("lfm_count") for e in batches])
            log = activity_log(host)
            self.assertIn("127.0.0.1: scrobble ignored: Band - Ignored (listened at 1796716860): "
                          "artist ignored", log)
            self.assertIn("127.0.0.1: 3 scrobbles sent", log)
            # Half of the 30 s track: one scrobble of its own, dated when it began.
            wait_until(lambda: len(scrobbled(service)) == 3, 25, "the track's scrobble")
            self.assertEqual("Thirty", scrobbled(service)[-1])

            # The session no longer valid: one box, the queue stays, nothing more goes.
            service.lfm_error(9, count=-1)
            host.player.add("C:\\m\\b.ogg", "Band - After", 30)
            host.player.check("play 1")
            box = host.message_box(10000)
            self.assertEqual("Nimbo : 127.0.0.1 no longer accepts the connection; connect "
                             "again in the options", box and box["text"])
            host.dismiss(box)
            wait_until(lambda: len(queued(host)) == 1, 25, "the scrobble kept")
            count = len(service.log())
            time.sleep(3)
            self.assertEqual(count, len(service.log()), "a request after error 9")
            self.assertIsNone(host.message_box(0))
            host.quit()

    def test_a_box_up_holds_neither_the_count_nor_listenbrainz(self):
        with Service() as service:
            server = "http://127.0.0.1:%d/2.0/" % service.port
            service.lfm_error(9, count=-1, path="/2.0/")
            host = PluginHost(LOOPBACK_DLL, lfm_ini(server, extra=(
                "ListenBrainz=1\r\nListenBrainzToken=lb-test-token\r\n"
                "ListenBrainzServer=http://127.0.0.1:%d\r\n" % service.port)))
            self.addCleanup(host.close)
            host.player.add("C:\\m\\a.ogg", "Band - Thirty", 30)
            host.player.check("play 0")
            box = host.message_box(10000)
            self.assertEqual("Nimbo : 127.0.0.1 no longer accepts the connection; connect "
                             "again in the options", box and box["text"])
            # Half of the 30 s track plays while nobody answers the box: the count goes
            # on, ListenBrainz gets its listen, Last.fm's waits in its file.
            listens = wait_until(service.lb_listens, 30, "ListenBrainz's listen")
            self.assertEqual(["Thirty"], [l["track_metadata"]["track_name"] for l in listens])
            self.assertEqual(1, len(queued(host)))
            self.assertIn("\tBand\tThirty\t", queued(host)[0])
            self.assertEqual(box["hwnd"], (host.message_box(0) or {}).get("hwnd"))
            self.assertEqual([], scrobbled(service))
            host.dismiss(box)
            self.assertIsNone(host.message_box(1000))
            host.quit()

    def test_connect_through_the_browser_flow(self):
        with Service() as service:
            service.configure(lfm_auth_delay="4")
            server = "http://127.0.0.1:%d/2.0/" % service.port
            host = PluginHost(LOOPBACK_DLL, lfm_ini(server).replace(
                b"LastFmSession=" + SESSION.encode(), b"LastFmSession="))
            self.addCleanup(host.close)
            p = host.player
            p.check("config")
            more = top_window(p.windows(), "Nimbo")[1][controls.get("kMoreButton")]
            p.check("click %s" % more["hwnd"])
            options = lambda: top_window(p.windows(), "Nimbo options")[1]
            wait_until(lambda: options(), 10, "the options window")
            # The stand-in's address is plain http: the window says so.
            self.assertEqual("not encrypted", options()[controls.get("kLastFmPlainLabel")]["text"])
            p.check("click %s" % options()[controls.get("kConnectButton")]["hwnd"])
            label = lambda: options()[controls.get("kConnectStatusLabel")]["text"]

            def ok_in_both_windows():
                p.check("click %s" % options()[controls.get("kOptionsOkButton")]["hwnd"])
                p.check("sleep 500")
                p.check("click %s" % top_window(p.windows(), "Nimbo")[1][
                    controls.get("kOkButton")]["hwnd"])

            wait_until(lambda: "Waiting for you to allow Nimbo in the browser" in label(), 10,
                       "the wait for the browser")
            # The stand-in allows the token after 4 s; the session is asked every 3 s.
            wait_until(lambda: label() == "Connected as nimbo-scrobbler", 20, "the session")
            methods = [e.get("lfm_method") for e in service.log()]
            self.assertEqual("auth.getToken", methods[0])
            self.assertIn("auth.getSession", methods)
            ok_in_both_windows()
            # The new session publishes at once.
            host.player.add("C:\\m\\a.ogg", "Band - Connected", 30)
            host.player.check("play 0")
            wait_until(service.lfm_now_playing, 10, "the playing-now with the new session")
            session = [param(e, "sk") for e in service.log()
                       if e.get("lfm_method") == "track.updateNowPlaying"][0]

            # Another server typed and Ok: the session was granted for the first one, so
            # no request carries it any more (this one reaches the same stand-in).
            p.check("config")
            p.check("click %s" % top_window(p.windows(), "Nimbo")[1][
                controls.get("kMoreButton")]["hwnd"])
            wait_until(lambda: options(), 10, "the options window again")
            self.assertEqual("Connected as nimbo-scrobbler", label())
            p.check("settext %s %s" % (options()[controls.get("kLastFmServerEdit")]["hwnd"],
                                       server.replace("127.0.0.1", "localhost")))
            self.assertEqual("Not connected", label())
            before = len(service.log())
            ok_in_both_windows()
            host.player.add("C:\\m\\b.ogg", "Band - Elsewhere", 30)
            host.player.check("play 1")
            time.sleep(5)
            sent = [raw_bytes(e) for e in service.log()[before:]]
            self.assertFalse([r for r in sent if session.encode() in r], "the old session went")
            host.quit()
            values = ini_values(host.ini_bytes(), "Gen_Nimbo")
            self.assertEqual(b"nimbo-scrobbler", values["LastFmUser"])
            self.assertEqual(server.encode(), values["LastFmSessionServer"])
            self.assertEqual(KEY.encode(), values["LastFmSessionApiKey"])
            self.assertNotIn(b"LastFmSession=\r\n", host.ini_bytes())
            self.assertNotIn("nimbo-session", activity_log(host))

    def test_two_last_fm_style_accounts_and_listenbrainz_at_once(self):
        with Service() as service:
            first = "http://127.0.0.1:%d/2.0/" % service.port
            second = "http://127.0.0.1:%d/libre/2.0/" % service.port
            # The second account's server is down; the first and ListenBrainz's
            # second account (the first is off) are not.
            service.lb_status(503, count=-1, path="/libre/2.0/", error="down")
            host = PluginHost(LOOPBACK_DLL, lfm_ini(first, extra=(
                "LastFm2=1\r\nLastFm2Server=%s\r\nLastFm2Key=%s\r\nLastFm2Secret=%s\r\n"
                "LastFm2Session=%s\r\nLastFm2User=libre-user\r\nLastFm2SessionServer=%s\r\n"
                "LastFm2SessionApiKey=%s\r\nListenBrainz2=1\r\nListenBrainz2Token=lb-test-token\r\n"
                "ListenBrainz2Server=http://127.0.0.1:%d\r\n"
                % (second, KEY, SECRET, SESSION, second, KEY, service.port))))
            self.addCleanup(host.close)
            host.player.add("C:\\m\\a.ogg", "Band - Thirty", 30)
            host.player.check("play 0")
            wait_until(lambda: service.lfm_scrobbles_at("/2.0/"), 25, "the first's scrobble")
            listens = wait_until(service.lb_listens, 10, "ListenBrainz's listen")
            self.assertEqual(["Thirty"], [t["track"] for t in service.lfm_scrobbles_at("/2.0/")])
            self.assertEqual(["Thirty"], [x["track_metadata"]["track_name"] for x in listens])
            # Its own file each: the listen that waits, waits for the account that is down.
            wait_until(lambda: len(queued_lines(host.folder, "nimbo-scrobbles-2.txt")) == 1, 10,
                       "the second's scrobble kept")
            for name in ("nimbo-scrobbles.txt", "nimbo-listens.txt", "nimbo-listens-2.txt"):
                self.assertEqual([], queued_lines(host.folder, name), name)
            log = activity_log(host)
            # Two accounts on one host: each named with its user.
            self.assertIn("127.0.0.1 (nimbo-scrobbler): published: Band - Thirty", log)
            self.assertIn("127.0.0.1 (libre-user): not published: the server answered 503", log)
            self.assertIn("127.0.0.1 (libre-user): scrobbles not sent: the server answered 503",
                          log)

            # Back up: the next playing-now gets through and lets the kept one go.
            service.control("clear-modes")
            host.player.add("C:\\m\\b.ogg", "Band - Next", 30)
            host.player.check("play 1")
            wait_until(lambda: service.lfm_scrobbles_at("/libre/2.0/"), 15, "the kept scrobble")
            wait_until(lambda: not queued_lines(host.folder, "nimbo-scrobbles-2.txt"), 10,
                       "the second's file emptied")
            for root in ("/2.0/", "/libre/2.0/"):
                self.assertEqual(["Thirty"], [t["track"] for t in service.lfm_scrobbles_at(root)])
            self.assertEqual(1, len(service.lb_listens()))
            host.quit()

    def test_an_account_added_in_the_options_window_scrobbles_at_once(self):
        with Service() as service:
            service.configure(lfm_auth_delay="2")
            first = "http://127.0.0.1:%d/2.0/" % service.port
            second = "http://127.0.0.1:%d/libre/2.0/" % service.port
            host = PluginHost(LOOPBACK_DLL, lfm_ini(first))
            self.addCleanup(host.close)
            p = host.player
            options = open_options(p)
            control = lambda name: options()[controls.get(name)]
            p.check("click %s" % control("kAddButton")["hwnd"])
            # ListenBrainz's while it has room; the other interface is the next button.
            self.assertEqual("1", control("kListenBrainzKindRadio")["check"])
            p.check("click %s" % control("kLastFmKindRadio")["hwnd"])
            for name, text in (("kLastFmServerEdit", second), ("kLastFmKeyEdit", KEY),
                               ("kLastFmSecretEdit", SECRET)):
                p.check("settext %s %s" % (control(name)["hwnd"], text))
            p.check("click %s" % control("kConnectButton")["hwnd"])
            wait_until(lambda: control("kConnectStatusLabel")["text"]
                       == "Connected as nimbo-scrobbler", 20, "the new account's session")
            ok_in_both_windows(p)
            # The next play scrobbles to both accounts, each at its own server.
            host.player.add("C:\\m\\a.ogg", "Band - Thirty", 30)
            host.player.check("play 0")
            wait_until(lambda: service.lfm_scrobbles_at("/libre/2.0/"), 25, "the new one's")
            wait_until(lambda: service.lfm_scrobbles_at("/2.0/"), 10, "the first one's")
            host.quit()
            values = ini_values(host.ini_bytes(), "Gen_Nimbo")
            self.assertEqual((b"1", second.encode(), second.encode(), first.encode()),
                             (values["LastFm2"], values["LastFm2Server"],
                              values["LastFm2SessionServer"], values["LastFmServer"]))

    def test_removing_an_account_asks_and_no_keeps_its_scrobbles(self):
        with Service() as service:
            second = "http://127.0.0.1:%d/libre/2.0/" % service.port
            # Not connected yet: its three scrobbles wait in its file.
            host = PluginHost(LOOPBACK_DLL, ini(cookie=None, extra=(
                "LastFm2=1\r\nLastFm2Server=%s\r\nLastFm2Key=%s\r\nLastFm2Secret=%s\r\n"
                % (second, KEY, SECRET))), files={
                "nimbo-scrobbles-2.txt": queue_file(["One", "Two", "Three"])})
            self.addCleanup(host.close)
            p = host.player
            for answer in (7, 6):  # No, then Yes
                options = open_options(p)
                control = lambda name: options()[controls.get(name)]
                wait_until(lambda: control("kScrobblesWaitingLabel")["text"]
                           == "Scrobbles waiting: 3", 10, "the count")
                p.check("click %s" % control("kRemoveButton")["hwnd"])
                box = host.message_box(10000)
                self.assertEqual("3 scrobbles wait for 127.0.0.1. Remove them too?",
                                 box and box["text"])
                p.check("click %s" % [w for w in p.windows() if w.get("parent") == box["hwnd"]
                                      and int(w.get("id", 0)) == answer][0]["hwnd"])
                wait_until(lambda: host.message_box(0) is None, 10, "the question answered")
                ok_in_both_windows(p)
                kept = queued_lines(host.folder, "nimbo-scrobbles-2.txt")
                if answer == 7:
                    self.assertEqual(3, len(kept), "No lost the waiting scrobbles")
            wait_until(lambda: not os.path.exists(os.path.join(host.folder,
                                                               "nimbo-scrobbles-2.txt")),
                       10, "the queue file removed with its account")
            host.quit()
            values = ini_values(host.ini_bytes(), "Gen_Nimbo")
            # Emptied, not gone: an earlier version reads the account as never set.
            self.assertEqual((b"0", b"", b""), (values["LastFm2"], values["LastFm2Server"],
                                                values["LastFm2Key"]))
            self.assertEqual([], service.lfm_scrobbles())

    def test_last_fm_libre_fm_and_listenbrainz_lose_nothing_through_a_fall_and_a_refusal(self):
        # The three by their real names through the proxy, the stand-in behind each host.
        lfm = "http://ws.audioscrobbler.com/2.0/"
        libre = "http://libre.fm/2.0/"
        accounts = "".join(
            "LastFm%s=1\r\nLastFm%sServer=%s\r\nLastFm%sKey=%s\r\nLastFm%sSecret=%s\r\n"
            "LastFm%sSession=%s\r\nLastFm%sUser=%s\r\nLastFm%sSessionServer=%s\r\n"
            "LastFm%sSessionApiKey=%s\r\n" % (n, n, server, n, KEY, n, SECRET, n, SESSION, n,
                                             user, n, server, n, KEY)
            for n, server, user in (("", lfm, "nimbo-scrobbler"), ("2", libre, "anna")))
        accounts += ("ListenBrainz=1\r\nListenBrainzToken=lb-test-token\r\n"
                     "ListenBrainzServer=http://api.listenbrainz.org\r\n")
        files = {"Last.fm": "nimbo-scrobbles.txt", "Libre.fm": "nimbo-scrobbles-2.txt",
                 "ListenBrainz": "nimbo-listens.txt"}
        with Service() as service:
            received = {
                "Last.fm": lambda: [t["track"] for t in
                                    service.lfm_scrobbles_to("ws.audioscrobbler.com")],
                "Libre.fm": lambda: [t["track"] for t in service.lfm_scrobbles_to("libre.fm")],
                "ListenBrainz": lambda: [l["track_metadata"]["track_name"]
                                         for l in service.lb_listens()]}
            tracks = lambda name: received[name]()
            waiting = lambda name: len(queued_lines(host.folder, files[name]))
            service.mode(mode="refuse", count=-1, host="libre.fm")  # Libre.fm is down
            host = PluginHost(LOOPBACK_DLL, ini(proxy=service.proxy, cookie=None,
                                                extra=accounts))
            self.addCleanup(host.close)
            for n, title in enumerate(("One", "Two", "Three")):
                host.player.add("C:\\m\\%d.ogg" % n, "Band - " + title, 30)
            host.player.check("play 0")
            wait_until(lambda: tracks("Last.fm") == ["One"] and tracks("ListenBrainz") == ["One"],
                       30, "One at Last.fm and ListenBrainz")
            wait_until(lambda: waiting("Libre.fm") == 1, 10, "One kept for Libre.fm")
            self.assertIn("Libre.fm: scrobbles not sent", activity_log(host))

            # Last.fm refuses the session while Libre.fm is still down: its box alone.
            service.lfm_error(9, count=-1, host="ws.audioscrobbler.com")
            host.player.check("play 1")
            box = host.message_box(10000)
            self.assertEqual("Nimbo : Last.fm no longer accepts the connection; connect again "
                             "in the options", box and box["text"])
            wait_until(lambda: tracks("ListenBrainz") == ["One", "Two"], 30, "Two at ListenBrainz")
            wait_until(lambda: waiting("Last.fm") == 1 and waiting("Libre.fm") == 2, 10,
                       "Two kept for Last.fm and Libre.fm")
            # Libre.fm back with the box still up: the next playing-now lets its two go.
            service.control("clear-modes")
            service.lfm_error(9, count=-1, host="ws.audioscrobbler.com")
            host.player.check("play 2")
            wait_until(lambda: tracks("Libre.fm") == ["One", "Two"], 20, "Libre.fm's two")
            wait_until(lambda: tracks("ListenBrainz") == ["One", "Two", "Three"], 30,
                       "Three at ListenBrainz")
            wait_until(lambda: tracks("Libre.fm") == ["One", "Two", "Three"], 10,
                       "Three at Libre.fm")
            self.assertEqual(box["hwnd"], (host.message_box(0) or {}).get("hwnd"))
            wait_until(lambda: waiting("Last.fm") == 2, 10, "Three kept for Last.fm")
            refused = [e for e in service.log() if e.get("lfm_code") == 9]
            self.assertEqual(1, len(refused), "Last.fm asked again after its refusal")
            host.dismiss(box)
            host.player.check("stop")

            # Connected again (a new start with the session the service takes again):
            # the two that waited go; nothing went twice, nothing is left anywhere.
            service.control("clear-modes")
            host.quit()
            host.start_again()
            wait_until(lambda: not waiting("Last.fm"), 20, "Last.fm's file emptied")
            for name in files:
                self.assertEqual(["One", "Two", "Three"], tracks(name), name)
                self.assertEqual(0, waiting(name), name)
            self.assertIsNone(host.message_box(0))
            host.quit()

    def test_libre_fm_through_the_proxy_and_quit_with_three_targets_hanging(self):
        pki = TestPki()
        self.addCleanup(pki.close)
        trusted = pki.ca("trusted")
        with Service(tls=pki.server(trusted, ["libre.fm"]), tls_port=LOOPBACK_TLS_PORT) as service:
            host = PluginHost(LOOPBACK_DLL, lfm_ini(
                "https://libre.fm/2.0/", proxy=service.proxy, cookie=SERVICE_COOKIE,
                extra="ListenBrainz=1\r\nListenBrainzToken=lb-test-token\r\n"
                "ListenBrainzServer=http://%s\r\n" % LOOPBACK_HOST),
                options=["--trust-ca", windows_path(pki.ca_pem(trusted))])
            self.addCleanup(host.close)
            host.player.add("C:\\m\\one.ogg", "A - One", 100)
            host.player.check("play 0")
            entry = wait_until(lambda: [e for e in service.log()
                                        if e.get("lfm_method") == "track.updateNowPlaying"], 20,
                               "the playing-now through the tunnel")[0]
            self.assertEqual(("libre.fm:443", "libre.fm"), (entry.get("tunnel"), entry.get("sni")))
            self.assertIn("Libre.fm: published: A - One", activity_log(host))
            # Each target stuck: ListenBrainz and the site on a server that never answers,
            # Last.fm in its box, which the others' waits do not hold back.
            service.mode(mode="hang", count=-1, path="/1/submit-listens")
            service.mode(mode="hang", count=-1, path="/profile.php")
            service.lfm_error(9, count=-1, path="/2.0/")
            host.player.add("C:\\m\\two.ogg", "A - Two", 100)
            host.player.check("play 1")
            box = host.message_box(3000)
            self.assertEqual("Nimbo : Libre.fm no longer accepts the connection; connect "
                             "again in the options", box and box["text"])
            wait_until(lambda: {"/1/submit-listens", "/profile.php"} <= {
                e.get("path") for e in service.log()[-6:]}, 10, "the requests left hanging")
            self.assertLess(host.timed_quit(), 6500)
            self.assertIsNone(host.message_box(0))


if __name__ == "__main__":
    unittest.main(verbosity=2)
