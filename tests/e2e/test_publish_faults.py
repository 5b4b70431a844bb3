#!/usr/bin/env python3
"""The publisher's message boxes and the service's misbehaviour, through the shipped
DLL in the player stand-in. Whatever the service does, Winamp keeps running and
answering, the plugin stays loaded, and quit still writes the settings."""

import shutil
import time
import unittest

from e2e_support import (ERROR_PREFIX, PLAYER_EXE, PLUGIN_DLL, SERVICE_HASH, SHIPPED_HOST,
                         WAIT_MS, Player, PlayerError, PluginHost, Service, UnreachablePort,
                         closed_port, expected_request, have_binaries, ini, is_clear_activity,
                         is_profile_page, is_set_activity, kinds, make_host_folder, needs, param,
                         raw_bytes, shipped, statuses, wait_until)

MASK = "%title% %curstate%"


@needs(have_binaries(PLAYER_EXE, PLUGIN_DLL), "built stand-in and DLL not given")
class MessageBoxes(unittest.TestCase):
    def take_box(self, host, text):
        """The next message box: the publisher's text, OK only; then dismissed."""
        box = host.message_box(10000)
        self.assertIsNotNone(box, "no message box for %r" % text)
        self.assertEqual(ERROR_PREFIX + text, box["text"])
        self.assertEqual([(1, "OK")], box["buttons"])
        host.dismiss(box)
        self.assertIsNone(host.message_box(0))

    def test_no_connection(self):
        # The proxy port is closed: every connection is refused.
        with PluginHost(PLUGIN_DLL, ini(proxy="127.0.0.1:%d" % closed_port(),
                                        status_mask=MASK)) as host:
            self.take_box(host, "No connection")
            # No retry for the same track and state; the next change tries again.
            time.sleep(2)
            self.assertIsNone(host.message_box(0))
            # One change: an entry appears at the current position (a new file name).
            host.player.add("C:\\m\\one.ogg", "A - One", 100)
            box = host.message_box(10000)
            self.assertEqual(ERROR_PREFIX + "No connection", box["text"])
            # The box blocks the tick, not Winamp; and quit does not wait for the user.
            host.assert_alive(self)
            started = time.monotonic()
            host.quit()
            self.assertLess(time.monotonic() - started, 15)
            self.assertIsNone(host.message_box(0))
            host.assert_saved(self)

    def test_incorrect_login_data(self):
        with Service() as service, PluginHost(
                PLUGIN_DLL, ini(proxy=service.proxy, cookie="remixsid=wrong",
                                status_mask=MASK)) as host:
            self.take_box(host, "Incorrect login data")
            self.assertEqual(["page"], kinds(service.log()))
            self.assertEqual(shipped("/profile.php", cookie="remixsid=wrong"),
                             raw_bytes(service.log()[0]))
            host.assert_alive(self)
            host.quit()
            host.assert_saved(self)

    def test_cant_parse_and_the_clear_request_with_an_empty_hash(self):
        # A profile page without the activityhash input.
        with Service(args=["--profile-hash", "0"]) as service, PluginHost(
                PLUGIN_DLL, ini(proxy=service.proxy, status_mask=MASK)) as host:
            self.take_box(host, "Can't parse")
            self.assertEqual(["page"], kinds(service.log()))
            host.quit()
            # Winamp destroys its window before it calls quit, and a tick in between
            # sees the window gone (a change) and may try once more; the clear
            # request comes last all the same.
            log = service.log()
            self.assertEqual("clear", kinds(log)[-1])
            self.assertEqual(1, kinds(log).count("clear"))
            self.assertEqual(shipped("/profile.php?clearactivity=1&activityhash="),
                             raw_bytes(log[-1]))
            host.assert_saved(self)


@needs(have_binaries(PLAYER_EXE, PLUGIN_DLL), "built stand-in and DLL not given")
class ServiceFaults(unittest.TestCase):
    def start(self, service):
        host = PluginHost(PLUGIN_DLL, ini(proxy=service.proxy, status_mask=MASK))
        self.addCleanup(host.close)
        return host

    def play_one(self, host, service):
        """Starts a track and waits for its publish. The tick may see the new entry
        before "play" too, so the number of set requests on the way may vary."""
        host.player.add("C:\\m\\one.ogg", "A - One", 100)
        host.player.check("play 0")
        wait_until(lambda: "One playing" in statuses(service), 15, "the publish of a track")

    def finish(self, host):
        host.assert_alive(self)
        host.quit()
        host.assert_saved(self)

    def test_service_that_never_answers(self):
        with Service(args=["--mode", "mode=hang&path=/profile.php&param=setactivity"]) as service:
            host = self.start(service)
            service.wait_for_requests(is_set_activity, 1)
            # While the tick waits for the reply, Winamp is not held up.
            host.assert_alive(self)
            # Each wait ends after 5 s; a silent reply reads as CR LF: no "err", no
            # box, no renewal, and the next change publishes normally.
            self.play_one(host, service)
            self.assertEqual(["page", "set", "set"], kinds(service.log())[:3])
            self.assertEqual(1, kinds(service.log()).count("page"))
            self.assertIsNone(host.message_box(0))

            # Quit while a set-activity hangs: quit abandons that tick at once, saves,
            # and the clear request, answered at once, holds Winamp's exit no longer.
            service.mode(mode="hang", path="/profile.php", param="setactivity")
            before = len(service.log())
            host.player.check("pause")
            wait_until(lambda: len(service.log()) > before, 10, "the hanging request")
            host.assert_alive(self)
            # Not the hanging reply's wait: that alone would be one whole wait.
            self.assertLess(host.timed_quit(), WAIT_MS)
            host.assert_saved(self)
            self.assertTrue(is_clear_activity(service.log()[-1]))
            self.assertIsNone(service.status()["status"])

    def test_quit_is_held_at_most_one_wait(self):
        # The tick is in a request when quit begins, and the clear request meets the
        # same service: quit gives that whole exchange one 5 s limit, and no more.
        cases = [
            ("hang", {"mode": "hang"}),
            ("trickle", {"mode": "trickle", "seconds": 3}),
        ]
        for name, rule in cases:
            with self.subTest(service=name), Service() as service:
                host = self.start(service)
                self.play_one(host, service)
                service.mode(path="/profile.php", count=-1, **rule)
                before = len(service.log())
                host.player.check("pause")
                wait_until(lambda: len(service.log()) > before, 10, "the held request")
                quit_ms = host.timed_quit()
                self.assertGreaterEqual(quit_ms, 4500, "the clear request got its chance")
                self.assertLess(quit_ms, 6000)
                host.assert_saved(self)
                self.assertTrue(is_clear_activity(service.log()[-1]))
                self.assertEqual(name, service.log()[-1]["mode"])
                self.assertIsNone(host.message_box(0))

    def test_quit_with_a_connect_that_never_completes(self):
        with UnreachablePort() as unreachable:
            host = PluginHost(PLUGIN_DLL, ini(proxy="127.0.0.1:%d" % unreachable.port,
                                              status_mask=MASK))
            self.addCleanup(host.close)
            # The first tick (a second after init) is in its connect by now.
            time.sleep(2.5)
            self.assertIsNone(host.message_box(0))
            quit_ms = host.timed_quit()
            self.assertGreaterEqual(quit_ms, 4500, "the clear request got its chance")
            self.assertLess(quit_ms, 6000)
            self.assertIsNone(host.message_box(0))
            host.assert_saved(self)

    def test_a_hung_winamp_of_another_process(self):
        # Another program shows a "Winamp v1.x" window that stops answering, on top of
        # ours: the plugin asks only the Winamp that loaded it, and quit is not held.
        with Service() as service:
            host = self.start(service)
            folder = make_host_folder(PLAYER_EXE)
            self.addCleanup(shutil.rmtree, folder, True)
            other = Player(folder, options=["--no-plugin"])
            self.addCleanup(other.close, 5)
            other.wait_ready()
            other.add("C:\\m\\theirs.ogg", "B - Theirs", 100)
            other.check("play 0")
            try:
                other.command("hang 30000", timeout=0.5)
            except PlayerError:
                pass  # it hangs: no answer, as meant
            self.play_one(host, service)
            self.assertNotIn("Theirs playing", statuses(service))
            self.assertLess(host.timed_quit(), 6000)
            host.assert_saved(self)

    def test_reset_in_the_middle_of_the_profile_page(self):
        with Service(args=["--mode", "mode=reset&path=/profile.php&bytes=40"]) as service:
            host = self.start(service)
            box = host.message_box(10000)
            self.assertEqual(ERROR_PREFIX + "Incorrect login data", box["text"])
            host.dismiss(box)
            # The hash stayed empty, so the next change fetches the page again.
            self.play_one(host, service)
            self.assertEqual(["page", "page", "set"], kinds(service.log())[:3])
            self.assertEqual(2, kinds(service.log()).count("page"))
            self.finish(host)

    def test_reply_without_status_line(self):
        with Service(args=["--mode", "mode=garbage&path=/profile.php&param=setactivity"]) \
                as service:
            host = self.start(service)
            service.wait_for_requests(is_set_activity, 1)
            self.play_one(host, service)
            # The garbage counted as a reply: no box, no renewal, the hash kept.
            self.assertEqual(["page", "set", "set"], kinds(service.log())[:3])
            self.assertEqual(1, kinds(service.log()).count("page"))
            self.assertEqual("garbage", service.log()[1]["mode"])
            self.assertIsNone(host.message_box(0))
            self.finish(host)

    def test_huge_profile_page(self):
        # 20 MiB of page: the read stops at the plugin's bound, and the hash near the
        # top of the page is still found.
        with Service(args=["--mode", "mode=huge&path=/profile.php&count=1"]) as service:
            host = self.start(service)
            entry = service.wait_for_requests(is_set_activity, 1, timeout=30)[0]
            self.assertEqual(SERVICE_HASH, param(entry, "activityhash"))
            self.assertTrue(is_profile_page(service.log()[0]))
            self.assertEqual("huge", service.log()[0]["mode"])
            self.assertIsNone(host.message_box(0))
            self.finish(host)


if __name__ == "__main__":
    unittest.main(verbosity=2)
