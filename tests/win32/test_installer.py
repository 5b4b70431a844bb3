#!/usr/bin/env python3
"""The setup (tools/installer/nimbo.nsi) under Wine, in a scratch prefix of its own:
refusing a folder without winamp.exe, waiting for a running Winamp, the silent install
into the folder HKCU\\Software\\Winamp names, the installed plugin publishing in the
player stand-in, and the silent uninstall. Each step builds on the one before."""

import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import session
from harness.ini import ini
from harness.paths import PLAYER_EXE, PLUGIN_DLL, ROOT, WINE_RUN
from harness.player import Player, make_host_folder, windows_path
from harness.service import Service, is_set_activity, kinds

SETUP = os.environ.get("NIMBO_SETUP_EXE", "")
ENTRY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Nimbo"
INSTALLED = {"Plugins/Nimbo/", "Plugins/gen_nimbo.dll", "Plugins/Nimbo/uninstall.exe",
             "Plugins/Nimbo/nimbo-preview.exe", "Plugins/Nimbo/USER-GUIDE.txt"}


def snapshot(folder):
    """Every folder (with a trailing "/") and every file's bytes below `folder`."""
    found = {}
    for here, dirs, files in os.walk(folder):
        rel = os.path.relpath(here, folder).replace(os.sep, "/")
        prefix = "" if rel == "." else rel + "/"
        found.update({prefix + d + "/": None for d in dirs})
        for f in files:
            with open(os.path.join(here, f), "rb") as data:
                found[prefix + f] = data.read()
    return found


class Setup(unittest.TestCase):
    def setUp(self):
        # A missing setup is a build fault, not a reason to skip.
        self.assertTrue(os.path.isfile(SETUP), "no setup built: NIMBO_SETUP_EXE=%r" % SETUP)
        self.work = tempfile.mkdtemp(prefix="nimbo-setup-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.session_file = os.path.join(self.work, "wine-session.path")
        self.addCleanup(session.stop, self.session_file)
        session.start(self.session_file)
        self.env = dict(os.environ, NIMBO_WINE_SESSION_FILE=self.session_file)

    def wine(self, *argv, timeout=120):
        """Runs a Windows program in the scratch prefix; returns (exit code, seconds)."""
        start = time.monotonic()
        code = subprocess.run([WINE_RUN, *argv], env=self.env, timeout=timeout,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT).returncode
        return code, time.monotonic() - start

    def entry(self):
        """The uninstall entry's values as {name: text}, or None without one."""
        out = subprocess.run([WINE_RUN, "reg", "query", ENTRY], env=self.env, timeout=60,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        if out.returncode != 0:
            return None
        found = re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\r?$", out.stdout.decode(), re.M)
        return dict(found)

    def test_install_publish_uninstall(self):
        with open(os.path.join(ROOT, "common", "version.h")) as f:
            version = re.search(r'#define NIMBO_VERSION "(.*)"', f.read()).group(1)
        service = Service()
        self.addCleanup(service.stop)
        winamp = os.path.join(self.work, "Winamp")
        os.makedirs(os.path.join(winamp, "Plugins"))
        make_host_folder(PLAYER_EXE, ini_text=ini(proxy=service.proxy), folder=winamp)
        shutil.copy(PLAYER_EXE, os.path.join(winamp, "winamp.exe"))
        with open(os.path.join(winamp, "Plugins", "gen_other.dll"), "wb") as f:
            f.write(b"another plugin")
        self.assertEqual(0, self.wine("reg", "add", r"HKCU\Software\Winamp", "/ve", "/d",
                                      windows_path(winamp), "/f")[0])
        before = snapshot(winamp)

        # A folder without winamp.exe: refused, nothing written there or anywhere.
        other = tempfile.mkdtemp(dir=self.work)
        self.assertEqual(3, self.wine(SETUP, "/S", "/D=" + windows_path(other))[0])
        self.assertEqual({}, snapshot(other))
        self.assertIsNone(self.entry())

        # Winamp running: the silent setup waits 30 s for it to close, then gives up.
        player = Player(winamp, options=["--no-plugin"], env=self.env)
        self.addCleanup(player.close)
        self.assertEqual("no-plugin", player.wait_ready(90))
        code, seconds = self.wine(SETUP, "/S")
        self.assertEqual((4, True), (code, seconds >= 30), "after %.1f s" % seconds)
        self.assertEqual(before, snapshot(winamp))
        self.assertIsNone(self.entry())

        # Winamp closing while the setup waits: it goes on and installs.
        setup = subprocess.Popen([WINE_RUN, SETUP, "/S"], env=self.env)
        time.sleep(5)
        player.close()
        self.assertEqual(0, setup.wait(timeout=60))
        after = snapshot(winamp)
        self.assertEqual(set(before) | INSTALLED, set(after))
        with open(PLUGIN_DLL, "rb") as f:
            self.assertEqual(f.read(), after["Plugins/gen_nimbo.dll"], "not the DLL just built")
        uninstaller = windows_path(os.path.join(winamp, "Plugins", "Nimbo", "uninstall.exe"))
        entry = self.entry()
        self.assertGreater(int(entry.pop("EstimatedSize"), 16), 500)  # KiB
        self.assertEqual({"DisplayName": "Nimbo (Winamp plugin)", "DisplayVersion": version,
                          "Publisher": "The Nimbo project",
                          "UninstallString": '"%s"' % uninstaller}, entry)

        # Winamp loads the installed plugin, which publishes the track once.
        player = Player(winamp, env=self.env)
        self.addCleanup(player.close)
        self.assertEqual("init=0", player.wait_ready(90))
        player.add("C:\\music\\Band - Song.mp3", "Band - Song", 200)
        player.check("play 0")
        service.wait_for_requests(is_set_activity, 1)
        self.assertEqual(["page", "set"], kinds(service.wait_quiet()))
        player.check("quit", timeout=40)
        player.close()

        # Silent uninstall: the installed files and the entry go, the settings stay.
        kept = snapshot(winamp)
        self.assertEqual(0, self.wine(uninstaller, "/S")[0])
        # It runs from a temporary copy so it can delete itself: wait for that copy.
        with open(self.session_file) as f:
            prefix = os.path.join(f.read().strip(), "prefix")
        subprocess.run(["wineserver", "-w"], env=dict(self.env, WINEPREFIX=prefix), timeout=120)
        self.assertEqual({k: v for k, v in kept.items() if k not in INSTALLED}, snapshot(winamp))
        self.assertIsNone(self.entry())


if __name__ == "__main__":
    unittest.main()
