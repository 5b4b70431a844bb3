#!/usr/bin/env python3
"""The user's controls around publishing, through the shipped DLL in the player
stand-in: the "Publish status" item in Winamp's main menu (its place, its check mark,
the clear and the publish it brings, the window procedure given back at quit, a host
without the menu), and the options window opened from the settings window."""

import os
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from e2e_support import (PLAYER_EXE, PLUGIN_DLL, PluginHost, Service, clear_activity_query,  # noqa: E402
                         have_binaries, ini, ini_values, is_clear_activity, is_set_activity,
                         kinds, needs, raw_bytes, set_activity_query, shipped, wait_until)
from harness import controls  # noqa: E402
from harness.player import top_window, unescape_field  # noqa: E402

ITEM = "Publish status"
# The stand-in's menu: its Options submenu stands at this place before any plugin.
OPTIONS_POS = 8


def menu(player):
    """The stand-in's main popup menu as it would show: [(place, kind, id, checked,
    text)], and where the host believes its Options menu stands."""
    items, options = [], None
    for line in player.check("menu"):
        words = line.split(" ")
        if words[0] == "options-pos":
            options = int(words[1])
        elif words[2] == "id":
            text = unescape_field(line.split(" text ", 1)[1])
            items.append((words[1], "item", int(words[3]), words[4] == "checked", text))
        else:
            text = line.split(" text ", 1)[1] if " text " in line else None
            items.append((words[1], words[2], None, False, text and unescape_field(text)))
    return items, options


def our_item(player):
    items, _ = menu(player)
    found = [i for i in items if i[4] == ITEM]
    return found[0] if found else None


def wndproc(player):
    """("own" | "plugin" | "foreign", the playback state a query through the chain got)."""
    words = player.check("wndproc")[0].split(" ")
    return words[1], int(words[3])


def control(player, caption, name):
    """A control of the open window with this caption, by its name in ui/control_ids.h."""
    return top_window(player.windows(), caption)[1].get(controls.get(name))


SETTINGS_PIXELS = {
    "kTitleLabel": (8, 5, 150, 13), "kModeLabel": (8, 48, 353, 13),
    "kPasswordLabel": (8, 88, 353, 13), "kMaskLabel": (8, 141, 353, 13),
    "kVersionLabel": (220, 5, 353, 14), "kAuthorLabel": (230, 17, 353, 14),
    "kLink": (195, 30, 353, 14), "kLoginRadio": (8, 24, 80, 17), "kCookieRadio": (100, 24, 80, 17),
    "kLoginEdit": (8, 64, 233, 21), "kPasswordEdit": (8, 104, 233, 21),
    "kMaskEdit": (8, 160, 353, 73), "kCookieEdit": (8, 64, 353, 73), "kOkButton": (208, 240, 75, 25),
    "kCancelButton": (288, 240, 75, 25), "kEnabledCheck": (8, 240, 97, 17),
    "kShowErrorsCheck": (100, 240, 97, 17), "kLastResultLabel": (8, 272, 353, 14),
    "kMoreButton": (288, 292, 75, 25),
}


@needs(have_binaries(PLAYER_EXE, PLUGIN_DLL), "built stand-in and DLL not given")
class MenuItem(unittest.TestCase):
    def test_item_switches_publishing_with_a_clear_and_a_publish(self):
        with Service() as service, PluginHost(
                PLUGIN_DLL, ini(proxy=service.proxy, status_mask="%artist% - %title%")) as host:
            p = host.player
            items, options = menu(p)
            place, _, command, checked, _ = our_item(p)
            # Just above Winamp's Options menu, which the host now expects one lower.
            self.assertEqual(str(OPTIONS_POS), place)
            self.assertEqual(OPTIONS_POS + 1, options)
            by_place = {i[0]: i for i in items}
            self.assertEqual(("submenu", "Options"), by_place[str(OPTIONS_POS + 1)][1::3])
            self.assertTrue(checked)

            p.add("C:\\m\\one.mp3", "First - One", 100)
            p.add("C:\\m\\two.mp3", "Second - Two", 100)
            p.check("play 0")
            wait_until(lambda: service.status()["status"] == "First - One", 10, "the first status")

            # Off: the status is cleared at once, with the request quit would send.
            before = len(service.log())
            p.check("menu pick " + ITEM)
            entry = wait_until(lambda: [e for e in service.log()[before:]
                                        if is_clear_activity(e)], 10, "a clear request")[0]
            self.assertEqual(shipped(clear_activity_query()), raw_bytes(entry))
            self.assertIsNone(service.status()["status"])
            self.assertFalse(our_item(p)[3], "the item is still checked")

            # Nothing goes out while off, whatever plays.
            before = len(service.log())
            p.check("play 1")
            time.sleep(2.5)
            self.assertEqual([], kinds(service.log()[before:]))

            # On: the current track at once, without waiting for a change.
            p.check("menu pick %d" % command)
            entry = wait_until(lambda: [e for e in service.log()[before:] if is_set_activity(e)],
                               10, "a set request")[0]
            self.assertEqual(shipped(set_activity_query("Second - Two")), raw_bytes(entry))
            self.assertTrue(our_item(p)[3])

            host.quit()
            self.assertEqual(b"1", ini_values(host.ini_bytes(), "Gen_Nimbo")["Enabled"])
            self.assertIsNone(our_item(p), "quit left the item in the menu")
            self.assertEqual([], [l for l in p.stderr_lines if l.startswith("crash")])

    def test_open_settings_window_shows_the_switch_and_ok_keeps_it(self):
        with PluginHost(PLUGIN_DLL, ini(enabled=True)) as host:
            p = host.player
            p.check("config")
            # The settings window's exact pixels, the one place they are written out:
            # outer size, then each control's left, top, width and height in the client.
            window, children = top_window(p.windows(), "Nimbo")
            left, top, right, bottom = window["rect"]
            self.assertEqual((378, 350), (right - left, bottom - top))
            for name, want in SETTINGS_PIXELS.items():
                x0, y0, x1, y1 = children[controls.get(name)]["rel"]
                self.assertEqual(want, (x0, y0, x1 - x0, y1 - y0), name)
            enabled = control(p, "Nimbo", "kEnabledCheck")
            self.assertEqual("1", enabled["check"])
            p.check("menu pick " + ITEM)
            p.check("sleep 200")
            self.assertEqual("0", control(p, "Nimbo", "kEnabledCheck")["check"])
            p.check("click %s" % control(p, "Nimbo", "kOkButton")["hwnd"])  # "Ok"
            p.check("sleep 300")
            self.assertFalse(our_item(p)[3])
            host.quit()
            self.assertEqual(b"0", ini_values(host.ini_bytes(), "Gen_Nimbo")["Enabled"])


if __name__ == "__main__":
    unittest.main()
