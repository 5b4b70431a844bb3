#!/usr/bin/env python3
"""Pictures of the plugin's windows for the documentation: the settings window in
both sign-in modes, the security-code window, the options window with a ListenBrainz
and a Last.fm-style account selected, the plugin's item in Winamp's main menu and the
setup's folder page, each saved as a PNG.

    PYTHONPATH=tools python3 tools/screenshots.py [--build build/win32] [--out docs/images]

Starts its own Wine session on a virtual screen, a service stand-in that asks for a
security code, and the player stand-in with the shipped plugin; captures each window
from the screen with ImageMagick's `import`. The demo calls `take_pictures` with its
own session; the setup's page is taken here only. Python 3 standard library only.
"""

import argparse
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from harness import session
from harness.id3 import silent_mpeg_frames
from harness.ini import ini
from harness.paths import ROOT, WINE_RUN
from harness.player import Player, make_host_folder, windows_path
from harness.service import Service

PICTURES = ("settings-login.png", "settings-cookie.png", "security-code.png", "options.png",
            "menu.png", "options-lastfm.png")
EMAIL = "user@example.com"
PASSWORD = "secret"
COOKIE = "d3m0c00k1e"


def wait_for_window(player, text, timeout=30):
    window = session.wait_until(lambda: player.top_window(text)[0], timeout,
                                'the window "%s"' % text, 0.2, session.Failed)
    # Give the window a moment to paint all of its controls.
    player.check("sleep 500")
    return window


def capture(display, window, path):
    left, top, right, bottom = window["rect"]
    geometry = "%dx%d+%d+%d" % (right - left, bottom - top, left, top)
    subprocess.run(["import", "-display", display, "-window", "root", "-crop", geometry,
                    "+repage", path], check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)


def popup_menu(player):
    """The visible popup menu window ("#32768") of the player, or None."""
    return next((w for w in player.windows() if w["class"] == "#32768"
                 and w.get("visible") == "1"), None)


def child(player, dialog, text):
    return next(w for w in player.windows() if w.get("parent") == dialog["hwnd"]
                and w["text"] == text)


def take_pictures(build, session_file, out_dir, work):
    """Captures the three windows into `out_dir`; returns the paths written."""
    dll = os.path.join(build, "gen_nimbo.dll")
    exe = os.path.join(build, "tools", "player", "nimbo_player.exe")
    display = session.display_of(session_file)
    os.makedirs(out_dir, exist_ok=True)
    service = Service(args=["--cookie", COOKIE, "--captcha", "1", "--email", EMAIL,
                            "--password", PASSWORD],
                      log_path=os.path.join(work, "pictures-requests.jsonl"))
    player = None
    try:
        # Login mode with an e-mail and password: the first track makes the plugin log
        # in, and the service answers with a security-code picture.
        settings = ini(proxy=service.proxy, show_errors=True, no_login=False,
                       auth_login=EMAIL, auth_pass=PASSWORD, cookie="remixsid=" + COOKIE,
                       extra="PrivateWords=Audiobooks{NextString}Podcast\r\nOnPause=1\r\n"
                       "ListenBrainz=1\r\nListenBrainzToken=lb-test-token\r\n"
                       "ListenBrainzServer=http://127.0.0.1:%d\r\n"
                       # A Last.fm session allowed before; Last.fm itself stays off so the
                       # stand-in's site side alone answers the first track.
                       "LastFmServer=https://libre.fm/2.0/\r\nLastFmKey=demo-key\r\n"
                       "LastFmSecret=demo-secret\r\nLastFmSession=demo-session\r\n"
                       "LastFmUser=nimbo-demo\r\n"
                       # And Last.fm itself as a second account, not connected yet.
                       "LastFm2Key=demo-key-2\r\n" % service.port)
        host = os.path.join(work, "pictures-host")
        os.makedirs(host, exist_ok=True)
        make_host_folder(exe, plugin_dll=dll, ini_text=settings, folder=host)
        track = os.path.join(work, "pictures-track.mp3")
        with open(track, "wb") as f:
            f.write(silent_mpeg_frames(1))
        player = Player(host, env={"NIMBO_WINE_SESSION_FILE": session_file})
        ready = player.wait_ready(timeout=90)
        if not ready.startswith("init="):
            raise session.Failed("the player could not load the plugin: ready " + ready)
        player.add(windows_path(track), "Artist - Title", 60)
        player.check("play 0")
        paths = [os.path.join(out_dir, name) for name in PICTURES]

        capture(display, wait_for_window(player, "Security code"), paths[2])
        # Opening the settings closes the security-code window, as in Winamp.
        player.check("config")
        dialog = wait_for_window(player, "Nimbo")
        capture(display, dialog, paths[0])
        player.check("click %s" % child(player, dialog, "Cookie")["hwnd"])
        player.check("sleep 500")
        capture(display, player.top_window("Nimbo")[0], paths[1])
        player.check("click %s" % child(player, dialog, "More...")["hwnd"])
        options = wait_for_window(player, "Nimbo options")
        # The token checked against the stand-in's ListenBrainz side, answer shown.
        player.check("click %s" % child(player, options, "Check")["hwnd"])
        session.wait_until(lambda: any(w["text"].startswith("Valid: ") for w in player.windows()
                                       if w.get("parent") == options["hwnd"]),
                           20, "the token check's answer", 0.2, session.Failed)
        capture(display, options, paths[3])
        # The account list's second row, Libre.fm's, by the keyboard; switched on in the
        # window only: "Cancel" below drops it.
        account_list = next(w for w in player.windows() if w.get("parent") == options["hwnd"]
                            and w["class"].lower() == "listbox")
        player.check("click %s" % account_list["hwnd"])
        for key in ("up", "up", "up", "down"):
            player.check("key " + key)
        publish = [w for w in player.windows() if w.get("parent") == options["hwnd"]
                   and w["text"] == "Publish to this account" and w.get("visible") == "1"][0]
        player.check("click %s" % publish["hwnd"])
        player.check("sleep 300")
        capture(display, options, paths[5])
        player.check("click %s" % child(player, options, "Cancel")["hwnd"])
        player.check("sleep 300")
        player.check("click %s" % child(player, dialog, "Cancel")["hwnd"])
        player.check("sleep 300")
        # The main popup menu, as the host shows it, with the plugin's item checked.
        player.check("menu show")
        menu = session.wait_until(lambda: popup_menu(player), 20, "the popup menu", 0.2,
                                  session.Failed)
        player.check("sleep 500")
        capture(display, popup_menu(player) or menu, paths[4])
        player.check("menu close")
        player.check("quit", timeout=30)
        player.check("exit", timeout=30)
        return paths
    finally:
        if player:
            player.close(timeout=10)
        service.stop()


def take_setup_picture(build, session_file, out_dir):
    """The setup's first page (the Winamp folder) as it opens: with no Winamp
    recorded in the prefix it proposes the usual place. Returns the path written."""
    setups = glob.glob(os.path.join(build, "dist", "nimbo-*-setup.exe"))
    if len(setups) != 1:
        raise session.Failed("want one setup in %s/dist, found %s" % (build, setups))
    with open(os.path.join(ROOT, "common", "version.h")) as f:
        version = re.search(r'#define NIMBO_VERSION "(.*)"', f.read()).group(1)
    title = "Nimbo %s Setup: Installation Folder" % version
    path = os.path.join(out_dir, "setup.png")
    proc = subprocess.Popen([WINE_RUN, setups[0]], start_new_session=True,
                            env=dict(os.environ, NIMBO_WINE_SESSION_FILE=session_file),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        # The setup is another process: its window is found by title on the X screen
        # (xwininfo fails while there is none; import would wait for a mouse click).
        display = session.display_of(session_file)
        find = ["xwininfo", "-display", display, "-name", title]
        session.wait_until(lambda: proc.poll() is not None or subprocess.run(
            find, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0,
            60, 'the window "%s"' % title, 0.5, session.Failed)
        if proc.poll() is not None:
            raise session.Failed("the setup ended with %d before its window showed" % proc.returncode)
        window = re.search(r"Window id: (0x[0-9a-f]+)", subprocess.run(
            find, check=True, stdout=subprocess.PIPE).stdout.decode()).group(1)
        time.sleep(1)  # every control painted
        subprocess.run(["import", "-display", display, "-window", window, path], check=True,
                       stderr=subprocess.PIPE)
        return path
    finally:
        os.killpg(proc.pid, signal.SIGKILL)
        proc.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32"))
    parser.add_argument("--out", default=os.path.join(ROOT, "docs", "images"))
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="nimbo-pictures-")
    session_file = os.path.join(work, "wine-session.path")
    try:
        session.start(session_file)
        build, out = os.path.abspath(args.build), os.path.abspath(args.out)
        for path in take_pictures(build, session_file, out, work) + [
                take_setup_picture(build, session_file, out)]:
            print("saved " + os.path.relpath(path))
        return 0
    except (session.Failed, subprocess.CalledProcessError) as e:
        print("PICTURES FAILED: %s" % e)
        return 1
    finally:
        session.stop(session_file)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
