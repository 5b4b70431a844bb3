#!/usr/bin/env python3
"""The setup (tools/installer/nimbo.nsi) in a scratch Wine prefix, step after step: refusing,
waiting for Winamp, installing, the installed plugin publishing, uninstalling."""

import os
import pathlib
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
    """Every folder (as "name/") and every file's bytes below `folder`."""
    return {p.relative_to(folder).as_posix() + "/" * p.is_dir(): None if p.is_dir()
            else p.read_bytes() for p in pathlib.Path(folder).rglob("*")}


class Setup(unittest.TestCase):
    def wine(self, *argv):
        out = subprocess.run([WINE_RUN, *argv], env=self.env, capture_output=True, timeout=120)
        return out.returncode, out.stdout.decode("utf-8", "replace")

    def entry(self):
        code, out = self.wine("reg", "query", ENTRY)
        return dict(re.findall(r"^\s+(\w+)\s+REG_\w+\s+(.*?)\r?$", out, re.M)) if code == 0 else None

    def test_install_publish_uninstall(self):
        # A missing setup is a build fault, not a reason to skip.
        self.assertTrue(os.path.isfile(SETUP), "no setup built: NIMBO_SETUP_EXE=%r" % SETUP)
        work = tempfile.mkdtemp(prefix="nimbo-setup-")
        self.addCleanup(shutil.rmtree, work, True)
        session_file = os.path.join(work, "wine-session.path")
        self.addCleanup(session.stop, session_file)
        session.start(session_file)
        self.env = dict(os.environ, NIMBO_WINE_SESSION_FILE=session_file)
        service = Service()
        self.addCleanup(service.stop)
        winamp = os.path.join(work, "Winamp")
        os.makedirs(os.path.join(winamp, "Plugins"))
        make_host_folder(PLAYER_EXE, ini_text=ini(proxy=service.proxy), folder=winamp)
        shutil.copy(PLAYER_EXE, os.path.join(winamp, "winamp.exe"))
        shutil.copy(PLAYER_EXE, os.path.join(winamp, "Plugins", "gen_other.dll"))
        self.wine("reg", "add", r"HKCU\Software\Winamp", "/ve", "/d", windows_path(winamp), "/f")
        before = snapshot(winamp)

        other = tempfile.mkdtemp(dir=work)
        self.assertEqual(3, self.wine(SETUP, "/S", "/D=" + windows_path(other))[0])
        self.assertEqual(({}, None), (snapshot(other), self.entry()))

        # Winamp running: the silent setup waits 30 s for it to close, then gives up.
        player = Player(winamp, options=["--no-plugin"], env=self.env)
        self.addCleanup(player.close)
        self.assertEqual("no-plugin", player.wait_ready(90))
        start = time.monotonic()
        self.assertEqual(4, self.wine(SETUP, "/S")[0])
        self.assertGreaterEqual(time.monotonic() - start, 30)
        self.assertEqual((before, None), (snapshot(winamp), self.entry()))
        # Winamp closing while the setup waits: it goes on and installs.
        setup = subprocess.Popen([WINE_RUN, SETUP, "/S"], env=self.env)
        time.sleep(5)
        player.close()
        self.assertEqual(0, setup.wait(timeout=60))
        after = snapshot(winamp)
        self.assertEqual(set(before) | INSTALLED, set(after))
        self.assertEqual(pathlib.Path(PLUGIN_DLL).read_bytes(), after["Plugins/gen_nimbo.dll"])
        version = re.search(r'VERSION "(.*)"', open(ROOT + "/common/version.h").read()).group(1)
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

        # Silent uninstall: the installed files and the entry go, winamp.ini stays as it is.
        kept = snapshot(winamp)
        self.assertEqual(0, self.wine(uninstaller, "/S")[0])
        # It works from a temporary copy so it can delete itself: wait for that copy.
        prefix = os.path.join(pathlib.Path(session_file).read_text().strip(), "prefix")
        subprocess.run(["wineserver", "-w"], env=dict(self.env, WINEPREFIX=prefix), timeout=120)
        self.assertEqual({k: v for k, v in kept.items() if k not in INSTALLED}, snapshot(winamp))
        self.assertIsNone(self.entry())


if __name__ == "__main__":
    unittest.main()
