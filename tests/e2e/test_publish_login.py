#!/usr/bin/env python3
"""Login mode through the shipped DLL in the player stand-in: the e-mail and
password are traded for the service's cookie in the tick that sees the first change,
a security code is answered in the plugin's dialog, and quit stores the cookie and
forgets the credentials."""

import unittest

from e2e_support import (PLAYER_EXE, PLUGIN_DLL, SERVICE_COOKIE, SHIPPED_HOST, PluginHost,
                         Service, answer_security_code, expected_request, have_binaries, ini,
                         ini_values, is_clear_activity, is_set_activity, kinds, needs, param,
                         raw_bytes, security_code_window, shipped, url_encode, wait_until)
from harness import controls
from harness.player import top_window

EMAIL = "user@example.com"
PASSWORD = "secret"
CREDENTIALS = "AuthLogin=%s\r\nAuthPass=%s\r\n" % (EMAIL, PASSWORD)
MASK = "%artist% - %title%"


def login_ini(service):
    return ini(no_login=False, cookie=None, status_mask=MASK, proxy=service.proxy,
               extra=CREDENTIALS)


def first_login_target():
    return "/login.php?email=%s&pass=%s" % (url_encode(EMAIL), url_encode(PASSWORD))


@needs(have_binaries(PLAYER_EXE, PLUGIN_DLL), "built stand-in and DLL not given")
class LoginMode(unittest.TestCase):
    def play_and_wait_for_status(self, host, service, timeout=20):
        host.player.add("C:\\music\\Band - Song.ogg", "Band - Song", 200, 128, 44, 2)
        host.player.check("play 0")
        return wait_until(
            lambda: [e for e in service.log() if is_set_activity(e)], timeout,
            "a set-activity after the login")[0]

    def assert_logged_in_at_quit(self, host):
        host.quit()
        values = ini_values(host.ini_bytes(), "Gen_Nimbo")
        self.assertEqual(SERVICE_COOKIE.encode(), values["Cookie"])
        self.assertEqual(b"", values["AuthLogin"])
        self.assertEqual(b"", values["AuthPass"])
        self.assertEqual(b"1", values["NoLogin"])

    def test_login_then_publish_in_the_same_tick(self):
        with Service() as service, PluginHost(PLUGIN_DLL, login_ini(service)) as host:
            entry = self.play_and_wait_for_status(host, service)
            log = service.log()
            self.assertEqual(["/login.php", "page", "set"], kinds(log))
            # The login carries no cookie; what follows carries the new one.
            self.assertEqual(shipped(first_login_target(), cookie=None), raw_bytes(log[0]))
            self.assertIn(b"Cookie: %s; remixlang=0\r\n" % SERVICE_COOKIE.encode(),
                          raw_bytes(entry))
            self.assertEqual("Band - Song", service.status()["status"])
            self.assert_logged_in_at_quit(host)

    def test_security_code_answered_in_the_dialog(self):
        with Service(args=("--captcha", "1")) as service, \
                PluginHost(PLUGIN_DLL, login_ini(service)) as host:
            host.player.add("C:\\music\\Band - Song.ogg", "Band - Song", 200, 128, 44, 2)
            host.player.check("play 0")
            window = answer_security_code(host, "4821")
            self.assertEqual(201, window["rect"][2] - window["rect"][0])
            self.assertEqual(175, window["rect"][3] - window["rect"][1])

            wait_until(lambda: [e for e in service.log() if is_set_activity(e)], 20,
                       "a set-activity after the security code")
            log = service.log()
            self.assertEqual(["/login.php", "/captcha.php", "/login.php", "page", "set"],
                             kinds(log))
            self.assertEqual("4821", param(log[2], "ccode"))
            self.assertEqual("1", param(log[2], "try_to_login"))
            self.assertIsNone(security_code_window(host))
            self.assert_logged_in_at_quit(host)

    def toggle_enabled_with_ok(self, host, service, wanted, what):
        """Flips "Enabled" in the settings window and presses "Ok": `wanted` follows at once."""
        host.player.check("config")
        window = top_window(host.player.windows(), "Nimbo")[1]
        before = len(service.log())
        for name in ("kEnabledCheck", "kOkButton"):
            host.player.check("click %s" % window[controls.get(name)]["hwnd"])
        wait_until(lambda: [e for e in service.log()[before:] if wanted(e)], 10, what)

    def test_switch_in_the_settings_window_then_both_cookie_shapes(self):
        # "bare": the remixsid line has no ";" and another Set-Cookie line follows;
        # "renewed": an expired remixsid line comes before the new one.
        for shape in ("bare", "renewed"):
            with self.subTest(shape), Service(args=("--cookie-shape", shape)) as service, \
                    PluginHost(PLUGIN_DLL, login_ini(service)) as host:
                entry = self.play_and_wait_for_status(host, service)
                self.assertIn(b"\r\nCookie: %s; remixlang=0\r\n" % SERVICE_COOKIE.encode(),
                              raw_bytes(entry))
                if shape == "bare":
                    # Off in the settings window clears, as the menu item does; on
                    # publishes the same track at once.
                    self.toggle_enabled_with_ok(host, service, is_clear_activity, "a clear")
                    self.assertIsNone(service.status()["status"])
                    self.toggle_enabled_with_ok(host, service, is_set_activity, "a publish")
                    self.assertEqual("Band - Song", service.status()["status"])
                self.assert_logged_in_at_quit(host)


if __name__ == "__main__":
    unittest.main()
