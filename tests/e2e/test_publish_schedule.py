#!/usr/bin/env python3
"""When the plugin publishes and what it leaves behind, through the shipped DLL in the
player stand-in: the activity log beside winamp.ini, tries again after the site could
not be reached, at most one status per MinInterval, private tracks, and a pause or a
stop that clears the status."""

import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_support import (ERROR_PREFIX, PLAYER_EXE, PLUGIN_DLL, SERVICE_HASH, PluginHost,  # noqa: E402
                         Service, activity_log, clear_activity_query, closed_port, have_binaries, ini,
                         is_clear_activity, is_set_activity, kinds, needs, raw_bytes, shipped,
                         statuses, wait_until)

MASK = "%title% %curstate%"
PASSWORD = "pa55-w0rd"
STAMP = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (.*)$")


def log_lines(host):
    """The activity log's events (the time stamp checked and cut off)."""
    text = activity_log(host)
    if not text:
        return []
    lines = text.split("\r\n")
    assert lines[-1] == "", "the log does not end with a line break: %r" % text[-40:]
    out = []
    for line in lines[:-1]:
        match = STAMP.match(line)
        assert match, "a log line without its time: %r" % line
        out.append(match.group(1))
    return out


def wire(service):
    """What reached the service: "set <status>" or the kind of request."""
    return ["set " + e.get("status_text") if is_set_activity(e) else k
            for e, k in zip(service.log(), kinds(service.log()))]


@needs(have_binaries(PLAYER_EXE, PLUGIN_DLL), "built stand-in and DLL not given")
class ActivityLog(unittest.TestCase):
    def assert_no_secret(self, host, *secrets):
        for secret in secrets:
            self.assertNotIn(secret, activity_log(host), "the log holds a secret")

    def test_refused_connection(self):
        with PluginHost(PLUGIN_DLL, ini(proxy="127.0.0.1:%d" % closed_port(),
                                        status_mask=MASK)) as host:
            box = host.message_box(10000)
            self.assertEqual(ERROR_PREFIX + "No connection", box["text"])
            host.dismiss(box)
            host.quit()
            self.assertEqual(["not published: the site could not be reached (connect)",
                              "status not cleared at quit: the site could not be reached (connect)"],
                             log_lines(host))

    def test_logged_out_page_then_published_then_cleared_at_quit(self):
        # A cookie the site does not know yet: its profile page shows nobody logged in.
        with Service() as service, PluginHost(PLUGIN_DLL, ini(
                proxy=service.proxy, cookie="remixsid=c00k1e5ecret", status_mask=MASK)) as host:
            box = host.message_box(10000)
            self.assertEqual(ERROR_PREFIX + "Incorrect login data", box["text"])
            service.configure(cookie="c00k1e5ecret")
            host.dismiss(box)
            host.player.add("C:\\m\\one.ogg", "A - One", 100)
            host.player.check("play 0")
            wait_until(lambda: "One playing" in statuses(service), 15, "the status")
            host.quit()
            events = log_lines(host)
            self.assertEqual("not published: the profile page shows nobody logged in "
                             "(the cookie is wrong or expired)", events[0])
            self.assertIn("published: One playing", events)
            self.assertEqual("status cleared at quit", events[-1])
            self.assert_no_secret(host, "c00k1e5ecret", SERVICE_HASH)

    def test_cancelled_security_code_and_no_password(self):
        credentials = "AuthLogin=user@example.com\r\nAuthPass=%s\r\n" % PASSWORD
        with Service(args=("--captcha", "1", "--password", PASSWORD)) as service, \
                PluginHost(PLUGIN_DLL, ini(no_login=False, cookie=None, status_mask=MASK,
                                           proxy=service.proxy, extra=credentials)) as host:
            # The first tick logs in, for the empty playlist.
            def dialog():
                found = [w for w in host.player.windows()
                         if w["text"] == "Security code" and w.get("visible") == "1"]
                return found[0] if found else None

            window = wait_until(dialog, 20, "the security-code window")
            ok = next(w for w in host.player.windows()
                      if w.get("parent") == window["hwnd"] and w["text"] == "Ok")
            host.player.check("click %s" % ok["hwnd"])
            wait_until(lambda: "security code cancelled" in log_lines(host), 10,
                       "the cancelled code in the log")
            self.assertIsNone(host.message_box(0))
            host.quit()
            self.assertEqual(["/login.php", "/captcha.php", "clear"], kinds(service.log()))
            self.assert_no_secret(host, PASSWORD)


@needs(have_binaries(PLAYER_EXE, PLUGIN_DLL), "built stand-in and DLL not given")
class Schedule(unittest.TestCase):
    def test_refused_connections_are_tried_again_without_a_change(self):
        # The login is refused, then the profile page: the tries after 15 s and 30 s
        # bring the login and then the status with no change of track, and only the
        # first failure has a box.
        credentials = "AuthLogin=user@example.com\r\nAuthPass=%s\r\n" % PASSWORD
        with Service(args=["--password", PASSWORD, "--mode", "mode=refuse&path=/login.php",
                           "--mode", "mode=refuse&path=/profile.php"]) as service, \
                PluginHost(PLUGIN_DLL, ini(no_login=False, cookie=None, status_mask=MASK,
                                           proxy=service.proxy, extra=credentials)) as host:
            # A connection closed at once fails the send or cuts the reply short,
            # whichever the timing gives: either way the site could not be reached.
            box = host.message_box(10000)
            self.assertEqual(ERROR_PREFIX + "No connection", box["text"])
            host.dismiss(box)
            entry = service.wait_for_requests(is_set_activity, 1, timeout=60)[0]
            self.assertIsNone(host.message_box(0))
            self.assertEqual(["/login.php", "/login.php", "page", "page", "set"],
                             kinds(service.log()))
            self.assertEqual(["refuse", None, "refuse", None, None],
                             [e.get("mode") for e in service.log()])
            events = log_lines(host)
            sys.stderr.write("\n[log of the run]\n  " + "\n  ".join(events) + "\n")
            self.assertTrue(events[0].startswith("login failed: the site"), events)
            self.assertEqual("logged in", events[1])
            self.assertTrue(events[2].startswith("try 2, not published: "), events)
            self.assertEqual("try 3, published: " + entry.get("status_text"), events[3])
            host.quit()

    def test_a_burst_of_skips_sends_the_first_and_the_last(self):
        with Service() as service, PluginHost(PLUGIN_DLL, ini(
                proxy=service.proxy, status_mask=MASK, min_interval=None)) as host:
            for name in ("One", "Two", "Three", "Four"):
                host.player.add("C:\\m\\%s.ogg" % name, "A - " + name, 100)
            # The start's own status, then a quiet interval.
            wait_until(lambda: statuses(service), 15, "the status at start")
            time.sleep(5.5)
            before = len(service.log())
            host.player.check("play 0")
            wait_until(lambda: len(service.log()) > before, 10, "the first status of the burst")
            started = time.monotonic()
            for n in (1, 2, 3):
                host.player.check("play %d" % n)
                time.sleep(0.4)
            self.assertLess(time.monotonic() - started, 2)
            wait_until(lambda: len(service.log()) > before + 1, 10, "the last status")
            time.sleep(6)  # room for a third, unwanted one
            burst = service.log()[before:]
            sys.stderr.write("\n[wire of the burst]\n  " + "\n  ".join(
                e["raw"].split("\r\n")[0] for e in burst) + "\n")
            self.assertEqual(["set", "set"], kinds(burst))
            self.assertEqual(["One playing", "Four playing"],
                             [e.get("status_text") for e in burst])
            host.quit()

    def test_private_tracks_clear_and_the_next_publishes(self):
        words = "PrivateWords=c:\\private{NextString} lullaby \r\n"
        with Service() as service, PluginHost(PLUGIN_DLL, ini(
                proxy=service.proxy, status_mask=MASK, extra=words)) as host:
            host.player.add("C:\\m\\one.ogg", "A - One", 100)
            host.player.add("C:\\Private\\two.ogg", "B - Two", 100)   # by its path
            host.player.add("C:\\m\\three.ogg", "C - LULLABY", 100)   # by its title
            host.player.add("C:\\m\\four.ogg", "D - Four", 100)
            wait_until(lambda: statuses(service), 15, "the status at start")
            for n in range(4):
                host.player.check("play %d" % n)
                time.sleep(2.5)
            sent = wire(service)
            # One: published; Two: cleared; Three: private too, nothing left to clear;
            # Four: published again.
            self.assertEqual(["set One playing", "clear", "set Four playing"], sent[-3:])
            self.assertEqual(1, sent.count("clear"))
            self.assertIn("status cleared: private track", log_lines(host))
            self.assertIn("not published: private track", log_lines(host))
            self.assertNotIn("Two", " ".join(log_lines(host)))
            # Neither on the wire: the clear is the plain clear request.
            self.assertFalse([e for e in service.log() if b"Two" in raw_bytes(e)])
            clear = [e for e in service.log() if is_clear_activity(e)][-1]
            self.assertEqual(shipped(clear_activity_query()), raw_bytes(clear))
            host.quit()

    def test_pause_and_stop_clear_when_asked(self):
        with Service() as service, PluginHost(PLUGIN_DLL, ini(
                proxy=service.proxy, status_mask=MASK,
                extra="OnPause=1\r\nOnStop=1\r\n")) as host:
            host.player.add("C:\\m\\one.ogg", "A - One", 100)
            host.player.check("play 0")
            wait_until(lambda: "One playing" in statuses(service), 15, "the status")
            for command, expected in (("pause", "clear"), ("pause", "set One playing"),
                                      ("stop", "clear"), ("play 0", "set One playing")):
                before = len(service.log())
                host.player.check(command)
                wait_until(lambda: len(service.log()) > before, 10, "a request after " + command)
                time.sleep(1.5)
                self.assertEqual([expected], wire(service)[before:], command)
            self.assertIn("status cleared: paused", log_lines(host))
            self.assertIn("status cleared: stopped", log_lines(host))
            host.quit()


if __name__ == "__main__":
    unittest.main(verbosity=2)
