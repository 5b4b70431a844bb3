#!/usr/bin/env python3
"""Shows the plugin doing its job: a player plays three tracks and the plugin
publishes each change as the user's status on a local stand-in for the service, and
each track as "playing now" to three listening accounts (ListenBrainz, and Last.fm
and Libre.fm, two accounts of Last.fm's interface), which the stand-in answers too;
a fourth play long enough to count gives each account one listen.

    PYTHONPATH=tools python3 tools/demo.py [--build build/win32] [--out build/demo]

Needs the Windows build (gen_nimbo.dll and nimbo_player.exe), Wine and Xvfb. It
starts a Wine session of its own, unless NIMBO_WINE_SESSION_FILE names one (a test's,
as ctest's e2e_demo does), which it then uses and leaves running.
Everything runs in a temporary folder that is removed at the end, also after a
failure or Ctrl-C; only the pictures of the plugin's windows stay, in the output
folder (--out). What it prints shows no secret: the session key, the signature, the
token and the shared secret are masked. Exit code 0 when every step happened, 1 when
one did not. Python 3 standard library only.
"""

import argparse
import json
import os
import re
import shutil
import signal
import sys
import tempfile
import time
import traceback
import urllib.parse

import screenshots
from harness import session
from harness.id3 import id3v1, id3v2, silent_mpeg_frames
from harness.ini import ini
from harness.paths import ROOT
from harness.player import Player, PlayerError, make_host_folder, windows_path
from harness.service import Service, ServiceError, body, is_lb_clear, lb_json

COOKIE = "d3m0c00k1e"
SECONDS = 3  # length of each generated track
# The status template between "mask{" and "}", and the user's own words for the
# playback states; "{NextString}" is how winamp.ini stores a line break.
STATUS_MASK = ("mask{%curstate% %artist% - %title% (%length%)}{NextString}"
               "$playing=listening to;$paused=taking a break from;$stopped=done with;")
WORDS = {"play": "listening to", "pause": "taking a break from", "stop": "done with"}


DemoFailed = session.Failed


class Interrupted(Exception):
    pass


# The service stand-in's Last.fm test account and a session it accepts.
LASTFM_KEY = "0123456789abcdef0123456789abcdef"
LASTFM_SECRET = "fedcba9876543210fedcba9876543210"
LASTFM_SESSION = "nimbo-session-key-0123456789abcd"

# The listening accounts, by their real servers: the player's proxy setting brings
# their requests to the stand-in as well. (name, host, winamp.ini's lines)
LASTFM_ACCOUNT = ("LastFm{n}=1\r\nLastFm{n}Server=http://{host}/2.0/\r\nLastFm{n}Key=%s\r\n"
                  "LastFm{n}Secret=%s\r\nLastFm{n}Session=%s\r\nLastFm{n}User={user}\r\n"
                  "LastFm{n}SessionServer=http://{host}/2.0/\r\nLastFm{n}SessionApiKey=%s\r\n"
                  % (LASTFM_KEY, LASTFM_SECRET, LASTFM_SESSION, LASTFM_KEY))
ACCOUNTS = [
    ("ListenBrainz", "api.listenbrainz.org",
     "ListenBrainz=1\r\nListenBrainzToken=lb-test-token\r\n"
     "ListenBrainzServer=http://api.listenbrainz.org\r\n"),
    ("Last.fm", "ws.audioscrobbler.com",
     LASTFM_ACCOUNT.format(n="", host="ws.audioscrobbler.com", user="demo-listener")),
    ("Libre.fm", "libre.fm", LASTFM_ACCOUNT.format(n="2", host="libre.fm", user="demo-listener")),
]
LISTEN_SECONDS = 30  # the length the fourth play's playlist entry gives: its half counts

# What the demo never prints as it is: the request fields and winamp.ini keys that hold
# a secret or are made from one (Last.fm's signature is the shared secret's hash), of
# every account.
SECRET_FIELDS = ("sk", "api_sig", "token", "password")
SECRET_KEYS = re.compile(r"^(ListenBrainz\d?Token|LastFm\d?Secret|LastFm\d?Session|AuthPass)$")


def say(text=""):
    print(text, flush=True)


def step(number, total, text):
    say("\n[%d/%d] %s" % (number, total, text))


# ---------------------------------------------------------------- audio files

def make_tracks(folder):
    """Writes three small MP3 files; returns their playlist entries and the status each
    should produce while playing."""
    os.makedirs(folder)
    audio = silent_mpeg_frames(SECONDS)
    tracks = [
        ("track01.mp3", "track01", "ID3v2.3 tag (TPE1/TIT2)",
         id3v2([("TPE1", "The Demo Band"), ("TIT2", "Caf\u00e9 Morning")], padding=64) + audio,
         "The Demo Band", "Caf\u00e9 Morning"),
        ("track02.mp3", "track02", "ID3v1 tag only",
         audio + id3v1("Tagged The Old Way", "Old Format Artist"),
         "Old Format Artist", "Tagged The Old Way"),
        ("Quiet Quartet - Untagged Tune.mp3", "Quiet Quartet - Untagged Tune", "no tag at all",
         audio, "Quiet Quartet", "Untagged Tune"),
    ]
    entries = []
    for name, playlist_title, kind, data, artist, title in tracks:
        path = os.path.join(folder, name)
        with open(path, "wb") as f:
            f.write(data)
        entries.append({"path": path, "name": name, "playlist_title": playlist_title,
                        "kind": kind, "artist": artist, "title": title, "bytes": len(data)})
    return entries


def expected_status(state, entry):
    return "%s %s - %s (00:%02d)" % (WORDS[state], entry["artist"], entry["title"], SECONDS)


def wait_for_history(service, since, wanted, timeout, what):
    """Waits until an entry after index `since` of the status history matches `wanted`
    (a function); returns (index, entry). Fails with what arrived instead."""
    deadline = time.monotonic() + timeout
    while True:
        history = service.history()
        for i in range(since, len(history)):
            if wanted(history[i]):
                return i, history[i]
        if time.monotonic() >= deadline:
            got = [h["text"] if h["action"] == "set" else "(cleared)" for h in history[since:]]
            raise DemoFailed("%s: nothing matching arrived within %d s; the service got %s"
                             % (what, timeout, got or "nothing"))
        time.sleep(0.2)


def masked(value):
    return "(masked, %d characters)" % len(value)


def masked_line(line):
    """A request line with the secret fields of its query masked."""
    return re.sub(r"([?&](?:%s)=)[^&\s]*" % "|".join(SECRET_FIELDS), r"\1(masked)", line)


def ini_lines(data):
    """winamp.ini's lines, the values of the secret keys masked."""
    out = []
    for line in data.decode("utf-8", "replace").splitlines():
        key, sep, value = line.partition("=")
        out.append(key + sep + masked(value) if sep and value and SECRET_KEYS.match(key)
                   else line)
    return out


def body_lines(entry):
    """A POST's body in its own form: ListenBrainz's JSON, or Last.fm's form decoded
    field by field with the secret fields masked."""
    content_type = next((v for k, v in entry["headers"] if k.lower() == "content-type"), "")
    content_type = content_type.split(";")[0].strip().lower()
    data = body(entry)
    if content_type == "application/x-www-form-urlencoded":
        fields = urllib.parse.parse_qsl(data.decode("latin-1"), keep_blank_values=True,
                                        encoding="utf-8", errors="replace")
        return ["form, decoded:"] + ["  %-10s %s" % (name, masked(value) if name in SECRET_FIELDS
                                                     else value) for name, value in fields]
    try:
        return ["JSON: %s" % json.dumps(lb_json(entry), ensure_ascii=False)[:160]]
    except ValueError:
        return ["%d bytes of %s" % (len(data), content_type or "no stated type")]


def receiver(entry):
    """The account a logged request went to, by its host; None for the site."""
    host = (entry.get("host") or "").rsplit(":", 1)[0].lower()
    return next((name for name, account_host, _ in ACCOUNTS if host == account_host), None)


def form_fields(entry):
    return dict(urllib.parse.parse_qsl(body(entry).decode("latin-1"), keep_blank_values=True,
                                       encoding="utf-8", errors="replace"))


def playing_now(service, name):
    """(artist, title) of what an account took as playing now last, or None."""
    if name == "ListenBrainz":
        now = service.lb_playing_now() or {}
        return (now.get("artist_name"), now.get("track_name")) if now else None
    taken = [form_fields(e) for e in service.log() if receiver(e) == name
             and e.get("lfm_method") == "track.updateNowPlaying" and e.get("lfm_code") == 0]
    return (taken[-1].get("artist"), taken[-1].get("track")) if taken else None


def listens_taken(service, name, host):
    """(artist, title, listened at) of each listen an account took."""
    if name == "ListenBrainz":
        return [(l["track_metadata"]["artist_name"], l["track_metadata"]["track_name"],
                 l["listened_at"]) for l in service.lb_listens()]
    return [(s["artist"], s["track"], int(s["timestamp"])) for s in service.lfm_scrobbles_to(host)]


def say_request(entry):
    """One request as its receiver reads it: the request line (long ones cut), a POST's
    body in its own form, the site's status text decoded."""
    line = masked_line(entry["raw"].split("\r\n", 1)[0])
    if line.startswith("POST "):
        say("        " + line)
        for text in body_lines(entry):
            say("            " + text)
        return
    say("        " + (line if len(line) <= 100 else line[:90] + "... (%d bytes)" % len(line)))
    for key, value in entry["params"]:
        if key == "setactivity":
            # The log holds the decoded bytes as latin-1 text; they are UTF-8.
            text = value.encode("latin-1").decode("utf-8", "replace")
            say("            setactivity, percent-decoded: " + text)


def say_wire(log):
    """Every request, by who received it: the site, then each account."""
    for name, host in [("The site", None)] + [(n, h) for n, h, _ in ACCOUNTS]:
        mine = [e for e in log if receiver(e) == (host and name)]
        say("      %s%s, %d requests:" % (name, " (%s)" % host if host else "", len(mine)))
        for entry in mine:
            say_request(entry)
    clear = [e for e in log if any(k == "clearactivity" for k, _ in e["params"])]
    if not clear:
        raise DemoFailed("no clearactivity request in the service's log")
    say("      The site's clear request in full:")
    for line in clear[-1]["raw"].split("\r\n"):
        if line:
            say("        | " + masked_line(line))


def play_a_listen(service, player, entry):
    """The fourth play, past the half of its 30 s: one listen for every account."""
    say("      > play 3 Track 1 again, its playlist entry %d s long: played past its half it "
        "is a listen, and each account gets it" % LISTEN_SECONDS)
    player.check("play 3")
    for name, host, _ in ACCOUNTS:
        taken = session.wait_until(lambda: listens_taken(service, name, host), 40,
                                   "%s's listen" % name, 0.5, DemoFailed)
        if [t[:2] for t in taken] != [(entry["artist"], entry["title"])]:
            raise DemoFailed("%s took %r" % (name, taken))
        say("        %s received a listen: %s - %s, listened at %d (Unix time)"
            % ((name,) + taken[0]))


def describe_box(player):
    """The text of a message box the plugin may be showing, for a failure report."""
    try:
        box = player.message_box(300)
    except PlayerError:
        return ""
    return " (the plugin shows a message box: %r)" % box["text"] if box else ""


# ---------------------------------------------------------------- the demo

def settings_dialog(player, required=True):
    """The visible settings window and its controls, from the stand-in's window list."""
    windows = player.windows()
    dialog = next((w for w in windows if w["text"] == "Nimbo" and w.get("visible") == "1"
                   and w.get("parent") == "0x0"), None)
    if dialog is None:
        if required:
            raise DemoFailed("the settings window did not appear after config")
        return None, []
    return dialog, [w for w in windows if w.get("parent") == dialog["hwnd"]]


def demo(build, work, state, pictures):
    """Runs the steps; records what it starts in `state` for the clean-up."""
    total = 11
    dll = os.path.join(build, "gen_nimbo.dll")
    exe = os.path.join(build, "tools", "player", "nimbo_player.exe")
    for path in (dll, exe):
        if not os.path.isfile(path):
            raise DemoFailed("%s is missing: build the Windows tree first (bash tools/demo.sh)"
                             % path)

    session_file = os.environ.get("NIMBO_WINE_SESSION_FILE")
    if session_file:
        step(1, total, "Wine: the session %s names, on its virtual screen" % session_file)
    else:
        step(1, total, "Starting Wine (a private Windows environment in %s) on a virtual screen"
             % work)
        session_file = os.path.join(work, "wine-session.path")
        state["session_file"] = session_file  # ours: the clean-up stops it
        say("      " + session.start(session_file))

    step(2, total, "Starting the service stand-in: a local web server that answers like the "
         "social network's site and logs every request")
    try:
        service = Service(args=["--cookie", COOKIE],
                          log_path=os.path.join(work, "requests.jsonl"))
    except ServiceError as e:
        raise DemoFailed(str(e))
    state["service"] = service
    say("      listening on 127.0.0.1:%d; it accepts the login cookie remixsid=%s"
        % (service.port, COOKIE))

    step(3, total, "Making three small MP3 files (3 s of silence each) and a player folder")
    entries = make_tracks(os.path.join(work, "music"))
    for e in entries:
        say("      %-36s %6d bytes, %s" % (e["name"], e["bytes"], e["kind"]))
    settings = ini(proxy=service.proxy, show_errors=True, cookie="remixsid=" + COOKIE,
                   status_mask=STATUS_MASK, extra="".join(a[2] for a in ACCOUNTS))
    host = os.path.join(work, "host")
    os.makedirs(host)
    make_host_folder(exe, plugin_dll=dll, ini_text=settings, folder=host)
    say("      %s: nimbo_player.exe, Plugins\\gen_nimbo.dll (the shipped plugin, unchanged) "
        "and winamp.ini:" % host)
    for line in ini_lines(settings):
        say("        " + line)
    say("      The plugin reaches the service through the player's proxy setting, so the "
        "stand-in sees every request, also those to the three listening accounts: "
        + ", ".join("%s at %s" % (name, host) for name, host, _ in ACCOUNTS) + ".")

    step(4, total, "Starting the player stand-in; it loads the plugin as the media player would")
    env = {"NIMBO_WINE_SESSION_FILE": session_file}
    player = Player(host, env=env, locale="en_US.UTF-8")
    state["player"] = player
    try:
        ready = player.wait_ready(timeout=90)
    except PlayerError as e:
        raise DemoFailed("the player did not start: %s %s" % (e, player.stderr_lines[-5:]))
    if not ready.startswith("init="):
        raise DemoFailed("the player could not load the plugin: ready " + ready)
    say("      player ready, plugin loaded: %s" % player.check("plugin")[-1])
    for e in entries:
        player.add(windows_path(e["path"]), e["playlist_title"], SECONDS, 128, 44, 2)
    player.add(windows_path(entries[0]["path"]), entries[0]["playlist_title"], LISTEN_SECONDS,
               128, 44, 2)
    say("      playlist: " + "; ".join(e["playlist_title"] for e in entries))
    say("      (playlist titles carry no artist for the tagged files: what the status shows "
        "comes from their tags)")

    # Each change the plugin sees within a second; publishing takes a request or two.
    actions = [
        ("play 0", "play", 0, "Playing track 1: the plugin reads the ID3v2 tag"),
        ("next", "play", 1, "Next track: only an ID3v1 tag at the end of the file"),
        ("next", "play", 2, "Next track: no tag, so the name \"Artist - Title\" is used"),
        ("pause", "pause", 2, "Pause: same file, new state, so a new status"),
        ("stop", "stop", 2, "Stop"),
    ]
    step(5, total, "Playing through the playlist; after each change we wait for the plugin's "
         "status to reach the service")
    since = len(service.history())
    first_play = None
    for command, word, index, text in actions:
        say("      > %-6s %s" % (command, text))
        player.check(command)
        want = expected_status(word, entries[index])
        try:
            since, entry = wait_for_history(
                service, since, lambda h, w=want: h["action"] == "set" and h["text"] == w,
                timeout=20, what="the status for '%s'" % command)
        except DemoFailed as e:
            raise DemoFailed(str(e) + describe_box(player))
        first_play = since if first_play is None else first_play
        since += 1
        say("        service received: %s" % entry["text"])
        if word == "play":
            # The accounts take the fields, not the sentence, and only while it plays.
            wanted = (entries[index]["artist"], entries[index]["title"])
            for name, _, _ in ACCOUNTS:
                session.wait_until(lambda: playing_now(service, name) == wanted, 20,
                                   "%s's playing now" % name, 0.2, DemoFailed)
                say("        %s received playing now%s: %s - %s"
                    % ((name, "" if name == "ListenBrainz" else " (signed)") + wanted))
    play_a_listen(service, player, entries[0])

    step(6, total, "Opening the plugin's settings, as Winamp's Configure button does (config)")
    player.check("config")
    dialog, controls = settings_dialog(player)
    say("      a window \"%s\" of %dx%d pixels with %d controls:"
        % (dialog["text"], dialog["rect"][2] - dialog["rect"][0],
           dialog["rect"][3] - dialog["rect"][1], len(controls)))
    for c in controls:
        if c.get("visible") == "1" and c["text"]:
            text = c["text"].replace("\r\n", " / ")
            say("        %-8s %-22s at %s" % (c["class"], '"%s"' % text, c["rel"][:2]))
    cancel = next(c for c in controls if c["text"] == "Cancel")
    player.check("click %s" % cancel["hwnd"])
    session.wait_until(lambda: settings_dialog(player, required=False)[0] is None, 10,
                       "the settings window to close after Cancel", 0.2, DemoFailed)
    say("      > Cancel: the window closes and the settings stay as they were")

    step(7, total, "Quitting the player: the plugin clears the status on its way out")
    for line in player.check("quit", timeout=30):
        say("      " + line)
    wait_for_history(service, since, lambda h: h["action"] == "clear", timeout=15,
                     what="the clear request at quit")
    session.wait_until(lambda: any(is_lb_clear(e) for e in service.log()), 15,
                       "ListenBrainz's clear at quit", 0.2, DemoFailed)
    say("      ListenBrainz's playing now cleared too")
    player.check("exit", timeout=30)
    player.exit_code(timeout=30)
    say("      player has exited")

    step(8, total, "Every status text the service received, in order (decoded from UTF-8)")
    for i, h in enumerate(service.history()):
        say("      " + ("set   %s" % h["text"] if h["action"] == "set" else "clear"))
        if i < first_play:
            say("            (sent when the plugin started: it reports the empty, stopped "
                "player as a change too)")

    step(9, total, "What each one received on the wire (absolute form, since it all goes "
         "through the proxy), each body in its receiver's own form, secrets masked")
    say_wire(service.log())

    step(10, total, "winamp.ini after quit (the plugin writes its settings back)")
    with open(os.path.join(host, "winamp.ini"), "rb") as f:
        for line in ini_lines(f.read()):
            say("        " + line)

    step(11, total, "Pictures of the plugin's windows: the settings in both sign-in modes and "
         "the security-code window (a second player signs in with e-mail and password)")
    for path in screenshots.take_pictures(build, session_file, pictures, work):
        say("      saved " + path)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "win32"),
                        help="the Windows build folder (default build/win32)")
    parser.add_argument("--out", default=os.path.join(ROOT, "build", "demo"),
                        help="where the window pictures go (default build/demo)")
    args = parser.parse_args()

    def on_term(*_):
        raise Interrupted()
    signal.signal(signal.SIGTERM, on_term)

    started = time.monotonic()
    work = tempfile.mkdtemp(prefix="nimbo-demo-")
    state = {}
    status = 0
    try:
        demo(os.path.abspath(args.build), work, state, os.path.abspath(args.out))
    except (DemoFailed, PlayerError) as e:
        say("\nDEMO FAILED: %s" % e)
        status = 1
    except (KeyboardInterrupt, Interrupted):
        say("\ninterrupted; cleaning up")
        status = 130
    except Exception:  # a fault of the demo itself: still clean up, and show it
        traceback.print_exc()
        say("\nDEMO FAILED: unexpected error (above)")
        status = 1
    finally:
        cleanup(state, work)
    if status == 0:
        say("\nDemo finished in %.0f s: every step happened." % (time.monotonic() - started))
    return status


def cleanup(state, work):
    """Stops whatever was started, last first; each part on its own so one stuck piece
    does not keep the others alive."""
    # Stopping the Wine session ends every Windows process in it, so a player stuck
    # behind a message box cannot hold the clean-up up.
    if state.get("session_file"):
        try:
            session.stop(state["session_file"])
        except KeyboardInterrupt:
            pass
    if state.get("player"):
        try:
            state["player"].close(timeout=5)
        except (PlayerError, OSError):
            pass
    if state.get("service"):
        state["service"].stop()
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
