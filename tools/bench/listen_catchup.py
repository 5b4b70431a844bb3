#!/usr/bin/env python3
"""How long a long backlog of listens takes to reach the service after a start.

    listen_catchup.py PLAYER_EXE PLUGIN_DLL [--listens N]

Writes N listens (10,000 by default, the queue's bound) into the queue file of a host
folder, starts the player stand-in there with ListenBrainz on against a service
stand-in on loopback, and times from the plugin's start ("ready") until the service
holds all N and the queue file is empty. Prints the time, the requests it took and the
listens a second; figures only.

Needs a Wine session (NIMBO_WINE_SESSION_FILE, as tests/win32/wine-session.sh makes).
"""

import argparse
import os
import shutil
import sys
import time

from harness import player as player_driver
from harness.service import Service, is_lb_listens

INI = ("[Gen_Nimbo]\r\nEnabled=1\r\nNoLogin=1\r\nCookie=\r\nListenBrainz=1\r\n"
       "ListenBrainzToken=lb-test-token\r\nListenBrainzServer={server}\r\n")


def fnv1a(data):
    value = 2166136261
    for byte in data:
        value = ((value ^ byte) * 16777619) & 0xFFFFFFFF
    return value


def queue_line(at, seconds, artist, title, album):
    """One line as the plugin writes it (plain ASCII texts need no escapes)."""
    body = "v1\t%d\t%d\t%s\t%s\t%s" % (at, seconds, artist, title, album)
    return "%s\t%08x\n" % (body, fnv1a(body.encode("utf-8")))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("player")
    parser.add_argument("dll")
    parser.add_argument("--listens", type=int, default=10000)
    args = parser.parse_args()

    folder = player_driver.make_host_folder(args.player, args.dll)
    try:
        start = 1700000000
        with open(os.path.join(folder, "nimbo-listens.txt"), "w", newline="\n") as f:
            for n in range(args.listens):
                f.write(queue_line(start + 240 * n, 200, "Band %d" % (n % 50),
                                   "Song %d" % n, "Album %d" % (n // 12)))
        with Service() as service:
            with open(os.path.join(folder, "winamp.ini"), "w", newline="") as f:
                f.write(INI.format(server="http://127.0.0.1:%d" % service.port))
            with player_driver.Player(folder) as player:
                ready = player.wait_ready()
                began = time.monotonic()
                if ready != "init=0":
                    raise SystemExit("the plugin did not start: %s" % ready)
                deadline = began + 60 + args.listens / 20
                while len(service.lb_listens()) < args.listens:
                    if time.monotonic() > deadline:
                        raise SystemExit("only %d of %d listens arrived"
                                         % (len(service.lb_listens()), args.listens))
                    time.sleep(0.2)
                took = time.monotonic() - began
                requests = len([e for e in service.log() if is_lb_listens(e)])
                with open(os.path.join(folder, "nimbo-listens.txt"), "rb") as f:
                    left = f.read().count(b"\n")
                arrived = [l["listened_at"] for l in service.lb_listens()]
                player.check("quit", timeout=40)
        if arrived != sorted(arrived) or len(set(arrived)) != args.listens:
            raise SystemExit("the listens did not arrive once each, oldest first")
        print("catchup_listens %d" % args.listens)
        print("catchup_seconds %.1f" % took)
        print("catchup_requests %d" % requests)
        print("catchup_listens_per_second %.1f" % (args.listens / took))
        print("catchup_left_in_queue %d" % left)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
