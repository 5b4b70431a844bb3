#!/usr/bin/env python3
"""How long a long backlog of listens takes to reach each service after a start.

    listen_catchup.py PLAYER_EXE PLUGIN_DLL [--listens N] [--only listenbrainz|lastfm]

For ListenBrainz, then Last.fm: writes N listens (10,000 by default, the queue's bound)
into that target's queue file of a fresh host folder, starts the player stand-in there
with only that target on against a service stand-in on a free loopback port, and times
from the plugin's start ("ready") until the service holds all N and the queue file is
empty. Prints the time, the requests it took and the listens a second of each; figures
only ("catchup_..." for ListenBrainz, "catchup_lastfm_..." for Last.fm).

Needs a Wine session (NIMBO_WINE_SESSION_FILE, as tests/win32/wine-session.sh makes).
"""

import argparse
import os
import shutil
import sys
import time

from harness import player as player_driver
from harness.service import Service, is_lb_listens

INI = "[Gen_Nimbo]\r\nEnabled=1\r\nNoLogin=1\r\nCookie=\r\n"


def lb_requests(service):
    return len([e for e in service.log() if is_lb_listens(e)])


def lfm_requests(service):
    return len([e for e in service.log() if e.get("lfm_method") == "track.scrobble"])


# Each target: its figures' prefix, its queue file, its settings ({server} filled in),
# what arrived (the listens' times, in order) and the requests that carried them.
TARGETS = {
    "listenbrainz": {
        "prefix": "catchup_",
        "queue": "nimbo-listens.txt",
        "ini": "ListenBrainz=1\r\nListenBrainzToken=lb-test-token\r\n"
               "ListenBrainzServer={server}\r\n",
        "arrived": lambda s: [l["listened_at"] for l in s.lb_listens()],
        "requests": lb_requests,
    },
    "lastfm": {
        "prefix": "catchup_lastfm_",
        "queue": "nimbo-scrobbles.txt",
        # The stand-in's test account with a session already granted, as the Last.fm
        # end-to-end tests store it.
        "ini": "LastFm=1\r\nLastFmServer={server}/2.0/\r\n"
               "LastFmKey=0123456789abcdef0123456789abcdef\r\n"
               "LastFmSecret=fedcba9876543210fedcba9876543210\r\n"
               "LastFmSession=nimbo-session-key-0123456789abcd\r\n"
               "LastFmUser=nimbo-scrobbler\r\n",
        "arrived": lambda s: [int(x["timestamp"]) for x in s.lfm_scrobbles()],
        "requests": lfm_requests,
    },
}


def fnv1a(data):
    value = 2166136261
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return value


def queue_line(at, seconds, artist, title, album):
    """One line as the plugin writes it (plain ASCII texts need no escapes)."""
    body = "v1\t%d\t%d\t%s\t%s\t%s" % (at, seconds, artist, title, album)
    return "%s\t%08x\n" % (body, fnv1a(body.encode("utf-8")))


def write_queue(path, count):
    start = 1700000000
    with open(path, "w", newline="\n") as f:
        for n in range(count):
            f.write(queue_line(start + 240 * n, 200, "Band %d" % (n % 50), "Song %d" % n,
                               "Album %d" % (n // 12)))


def catch_up(args, target):
    """(seconds, requests, lines left in the queue) of one target's catch-up."""
    folder = player_driver.make_host_folder(args.player, args.dll)
    try:
        queue = os.path.join(folder, target["queue"])
        write_queue(queue, args.listens)
        with Service() as service:
            with open(os.path.join(folder, "winamp.ini"), "w", newline="") as f:
                f.write(INI + target["ini"].format(server="http://127.0.0.1:%d" % service.port))
            with player_driver.Player(folder) as player:
                ready = player.wait_ready()
                began = time.monotonic()
                if ready != "init=0":
                    raise SystemExit("the plugin did not start: %s" % ready)
                deadline = began + 60 + args.listens / 20
                while len(target["arrived"](service)) < args.listens:
                    if time.monotonic() > deadline:
                        raise SystemExit("only %d of %d listens arrived"
                                         % (len(target["arrived"](service)), args.listens))
                    time.sleep(0.2)
                took = time.monotonic() - began
                requests = target["requests"](service)
                arrived = target["arrived"](service)
                # The removal of the last batch follows its answer: wait for it.
                while time.monotonic() < deadline:
                    with open(queue, "rb") as f:
                        left = f.read().count(b"\n")
                    if left == 0:
                        break
                    time.sleep(0.2)
                player.check("quit", timeout=40)
        if arrived != sorted(arrived) or len(set(arrived)) != args.listens:
            raise SystemExit("the listens did not arrive once each, oldest first")
        return took, requests, left
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("player")
    parser.add_argument("dll")
    parser.add_argument("--listens", type=int, default=10000)
    parser.add_argument("--only", choices=sorted(TARGETS))
    args = parser.parse_args()
    for name in ("listenbrainz", "lastfm"):
        if args.only and name != args.only:
            continue
        target = TARGETS[name]
        took, requests, left = catch_up(args, target)
        prefix = target["prefix"]
        print("%slistens %d" % (prefix, args.listens))
        print("%sseconds %.1f" % (prefix, took))
        print("%srequests %d" % (prefix, requests))
        print("%slistens_per_second %.1f" % (prefix, args.listens / took))
        print("%sleft_in_queue %d" % (prefix, left))
        sys.stdout.flush()


if __name__ == "__main__":
    sys.exit(main())
