#!/usr/bin/env python3
"""What an idle tick costs under Wine: CPU of the player stand-in and wineserver.

    idle_tick.py PLAYER_EXE PLUGIN_DLL [--seconds N] [--rounds R]

Runs the player stand-in playing one track in four set-ups, in turn, R rounds:
"off" (--no-plugin), "disabled" (plugin loaded, Enabled=0: the timer runs, the tick
returns at its guard), "idle" (Enabled=1, cookie mode with no cookie: after the
first tick every tick finds the same file and state, so it only probes and compares)
and "idle-lb" (as "idle" with ListenBrainz on, its server a service stand-in on
loopback started here: the first tick's playing-now reaches it, measuring starts only
after that, and no request may arrive while measuring), and "idle-all" (as "idle-lb"
with Last.fm on too, the same stand-in's Last.fm side: both count listens, and Winamp
must be asked no more a tick than with one) and "idle-8" (every account on: four
ListenBrainz ones and four Last.fm-style ones at four API roots, all valid, nothing
due: it must cost what one account costs, and ask Winamp the same).
For each it measures N seconds of CPU time (ns, from /proc/PID/task/*/schedstat) of
the player process and of the session's wineserver, and the queries the player
answered. Prints medians per set-up and the differences per tick; figures only.

Needs a Wine session (NIMBO_WINE_SESSION_FILE, as tests/win32/wine-session.sh makes)
and /proc. Python 3 standard library only.
"""

import argparse
import os
import statistics
import sys
import tempfile
import time
import shutil
import subprocess

from harness import player as player_driver

HERE = os.path.dirname(os.path.abspath(__file__))

INI = {
    "disabled": "[Gen_Nimbo]\r\nEnabled=0\r\n",
    # No cookie: a change is remembered and nothing is sent, so no request leaves.
    "idle": "[Gen_Nimbo]\r\nEnabled=1\r\nNoLogin=1\r\nCookie=\r\n",
    # The same with ListenBrainz on (the stand-in's default token); {server} is filled in.
    "idle-lb": "[Gen_Nimbo]\r\nEnabled=1\r\nNoLogin=1\r\nCookie=\r\nListenBrainz=1\r\n"
               "ListenBrainzToken=lb-test-token\r\nListenBrainzServer={server}\r\n",
    # Every target on: Last.fm with the stand-in's test account and session as well.
    "idle-all": "[Gen_Nimbo]\r\nEnabled=1\r\nNoLogin=1\r\nCookie=\r\nListenBrainz=1\r\n"
                "ListenBrainzToken=lb-test-token\r\nListenBrainzServer={server}\r\n"
                "LastFm=1\r\nLastFmServer={server}/2.0/\r\n"
                "LastFmKey=0123456789abcdef0123456789abcdef\r\n"
                "LastFmSecret=fedcba9876543210fedcba9876543210\r\n"
                "LastFmSession=nimbo-session-key-0123456789abcd\r\n",
}


def eight_accounts():
    """Four ListenBrainz accounts and four Last.fm-style ones on the stand-in, each
    Last.fm one at an API root of its own with a session granted there."""
    text = "[Gen_Nimbo]\r\nEnabled=1\r\nNoLogin=1\r\nCookie=\r\n"
    for n in ("", "2", "3", "4"):
        root = "{server}/%s2.0/" % (n + "/" if n else "")
        text += ("ListenBrainz%s=1\r\nListenBrainz%sToken=lb-test-token\r\n"
                 "ListenBrainz%sServer={server}\r\n" % (n, n, n))
        text += "".join("LastFm%s%s=%s\r\n" % (n, key, value) for key, value in (
            ("", "1"), ("Server", root), ("Key", "0123456789abcdef0123456789abcdef"),
            ("Secret", "fedcba9876543210fedcba9876543210"),
            ("Session", "nimbo-session-key-0123456789abcd"), ("User", "user" + (n or "1")),
            ("SessionServer", root), ("SessionApiKey", "0123456789abcdef0123456789abcdef")))
    return text


INI["idle-8"] = eight_accounts()
# The playing-nows each set-up sends on its first tick, before the idle ones.
PLAYING_NOWS = {"idle-lb": 1, "idle-all": 2, "idle-8": 8}


class ListenBrainzServer:
    """The service stand-in on a free loopback port, logging each request to a file."""

    def __init__(self, folder):
        self.log = os.path.join(folder, "requests.jsonl")
        script = os.path.join(HERE, "..", "service", "service_standin.py")
        self.process = subprocess.Popen(
            [sys.executable, script, "--port", "0", "--log", self.log],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline().strip()
        if not line.startswith("listening 127.0.0.1:"):
            self.close()
            raise player_driver.PlayerError("the service stand-in did not start: %r" % line)
        self.url = "http://" + line.split(" ", 1)[1]

    def requests(self):
        """How many requests it has logged so far."""
        try:
            with open(self.log, "rb") as f:
                return sum(1 for _ in f)
        except FileNotFoundError:
            return 0

    def close(self):
        self.process.terminate()
        self.process.wait()
        self.process.stdout.close()


def session_prefix():
    path = os.environ.get("NIMBO_WINE_SESSION_FILE", "")
    if not path or not os.path.isfile(path):
        sys.exit("idle_tick: set NIMBO_WINE_SESSION_FILE to a running Wine session")
    with open(path) as f:
        return os.path.join(f.read().strip(), "prefix")


def processes_of(prefix):
    """{pid: comm} of the processes whose WINEPREFIX is `prefix`."""
    wanted = b"WINEPREFIX=" + prefix.encode()
    found = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if wanted not in f.read().split(b"\0"):
                    continue
            with open("/proc/%s/comm" % name) as f:
                found[int(name)] = f.read().strip()
        except OSError:
            continue
    return found


def cpu_ns(pid):
    """Run time of every thread of a process so far, in ns (0 once it is gone)."""
    total = 0
    try:
        for tid in os.listdir("/proc/%d/task" % pid):
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                    total += int(f.read().split()[0])
            except OSError:
                pass
    except OSError:
        pass
    return total


def measure(setup, exe, dll, prefix, seconds, server):
    """One run of a set-up: (player ns, wineserver ns, queries) over `seconds`."""
    folder = tempfile.mkdtemp(prefix="nimbo-idle-")
    sent_before = server.requests()
    try:
        ini_text = INI.get(setup, "").replace("{server}", server.url)
        player_driver.make_host_folder(exe, plugin_dll=None if setup == "off" else dll,
                                       ini_text=ini_text, folder=folder)
        options = ["--no-plugin"] if setup == "off" else []
        with player_driver.Player(folder, options=options) as player:
            ready = player.wait_ready()
            if ready != ("no-plugin" if setup == "off" else "init=0"):
                raise player_driver.PlayerError("unexpected start: " + ready)
            player.add("C:\\music\\idle.mp3", "Artist - Title", 245)
            player.check("play 0")
            time.sleep(2.5)  # the first tick sees the change; later ones are idle
            if setup in PLAYING_NOWS:
                # Its playing-nows go out on the first tick and must be over (an answer
                # and the one-second spacing after it) before measuring.
                wanted = sent_before + PLAYING_NOWS[setup]
                deadline = time.monotonic() + 10
                while server.requests() < wanted and time.monotonic() < deadline:
                    time.sleep(0.2)
                if server.requests() < wanted:
                    raise player_driver.PlayerError("%s: a playing-now did not reach the server"
                                                    % setup)
                time.sleep(1.5)
            requests_before = server.requests()
            procs = processes_of(prefix)
            players = [p for p, c in procs.items() if c.startswith("nimbo_player")]
            servers = [p for p, c in procs.items() if c.startswith("wineserver")]
            if len(players) != 1 or len(servers) != 1:
                raise player_driver.PlayerError("cannot tell the processes apart: %r" % procs)
            before_queries = player.queries()
            p0, s0 = cpu_ns(players[0]), cpu_ns(servers[0])
            time.sleep(seconds)
            p1, s1 = cpu_ns(players[0]), cpu_ns(servers[0])
            queries = player.queries() - before_queries
            if server.requests() != requests_before:
                raise player_driver.PlayerError("%s: a request went out while idle" % setup)
            return p1 - p0, s1 - s0, queries
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("player_exe")
    parser.add_argument("plugin_dll")
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    prefix = session_prefix()

    setups = ("off", "disabled", "idle", "idle-lb", "idle-all", "idle-8")
    runs = {s: [] for s in setups}
    folder = tempfile.mkdtemp(prefix="nimbo-idle-lb-")
    standin = ListenBrainzServer(folder)
    try:
        for _ in range(args.rounds):
            for setup in setups:
                runs[setup].append(measure(setup, args.player_exe, args.plugin_dll, prefix,
                                           args.seconds, standin))
    finally:
        standin.close()
        shutil.rmtree(folder, ignore_errors=True)

    ticks = args.seconds  # one tick a second
    per_tick = {}
    for setup in setups:
        player = statistics.median(r[0] for r in runs[setup]) / ticks / 1000.0
        server = statistics.median(r[1] for r in runs[setup]) / ticks / 1000.0
        queries = statistics.median(r[2] for r in runs[setup]) / ticks
        per_tick[setup] = player + server
        print("idle_%s_us_per_second player %.1f wineserver %.1f total %.1f queries %.1f"
              % (setup.replace("-", "_"), player, server, player + server, queries))
    print("idle_tick_us_over_off %.1f" % (per_tick["idle"] - per_tick["off"]))
    print("idle_tick_us_over_disabled %.1f" % (per_tick["idle"] - per_tick["disabled"]))
    print("idle_tick_lb_us_over_idle %.1f" % (per_tick["idle-lb"] - per_tick["idle"]))
    print("idle_tick_all_us_over_lb %.1f" % (per_tick["idle-all"] - per_tick["idle-lb"]))
    print("idle_tick_8_us_over_lb %.1f" % (per_tick["idle-8"] - per_tick["idle-lb"]))
    print("idle_rounds %d seconds %.1f (medians of the rounds)" % (args.rounds, args.seconds))
    # Sane: the tick ran and asked the player (three queries a tick today).
    idle_queries = min(statistics.median(r[2] for r in runs[s]) for s in ("idle", "idle-lb"))
    return 0 if idle_queries > 0 else 1


if __name__ == "__main__":
    try:
        sys.exit(main())
    except player_driver.PlayerError as e:
        sys.exit("idle_tick: %s" % e)
