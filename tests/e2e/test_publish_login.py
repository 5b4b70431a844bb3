#!/usr/bin/env python3
"""Login mode through the shipped DLL in the player stand-in: the e-mail and
password are traded for the service's cookie in the tick that sees the first change,
a security code is answered in the plugin's dialog, and quit stores the cookie and
forgets the credentials."""

import unittest

from e2e_support import (PLAYER_EXE, PLUGIN_DLL, SERVICE_COOKIE, PluginHost, Service,
                         have_binaries, ini, ini_values, is_set_activity, kinds, needs, param,
                         raw_bytes, shipped, url_encode, wait_until)

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

            def dialog():
                windows = host.player.windows()
                found = [w for w in windows if w["text"] == "Security code"
                         and w.get("visible") == "1"]
                return (found[0], [w for w in windows if w.get("parent") == found[0]["hwnd"]]
                        ) if found else None

            window, controls = wait_until(dialog, 20, "the security-code window")
            self.assertEqual(201, window["rect"][2] - window["rect"][0])
            self.assertEqual(175, window["rect"][3] - window["rect"][1])
            edit = next(c for c in controls if c["class"].lower() == "edit")
            ok = next(c for c in controls if c["text"] == "Ok")
            host.player.check("settext %s 4821" % edit["hwnd"])
            host.player.check("click %s" % ok["hwnd"])

            wait_until(lambda: [e for e in service.log() if is_set_activity(e)], 20,
                       "a set-activity after the security code")
            log = service.log()
            self.assertEqual(["/login.php", "/captcha.php", "/login.php", "page", "set"],
                             kinds(log))
            self.assertEqual("4821", param(log[2], "ccode"))
            self.assertEqual("1", param(log[2], "try_to_login"))
            self.assertIsNone(dialog())
            self.assert_logged_in_at_quit(host)


if __name__ == "__main__":
    unittest.main()
