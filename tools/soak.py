#!/usr/bin/env python3
"""Soak run: the shipped DLL in the player stand-in, against a service stand-in that
misbehaves at random, for a given time.

    PYTHONPATH=tools python3 tools/soak.py --seconds 600 [--seed N]

Thousands of track and state changes; the settings window opened through config
and closed (Cancel, or new values and Ok) and the security-code window brought up
by login mode and closed (empty or wrong code, or config while it shows), hundreds
of times each; message boxes dismissed as a user would. Three listening accounts
(ListenBrainz, and Last.fm and Libre.fm at two API roots of the stand-in) take every
listen through faults of their own; at the end each holds every listen, taken or
waiting in its own queue file. Throughout, the player must
keep answering at once. The player's private memory, handles, GDI and USER objects
and windows are printed at intervals and must stay flat; after quit no message box
is left and winamp.ini holds what was set last. Exit code 0 when all of that holds.

Needs NIMBO_PLAYER_EXE and NIMBO_PLUGIN_DLL (the Windows build) and a Wine session
(NIMBO_WINE_SESSION_FILE, or wine-run.sh makes one); finds the settings window's
controls by the ids of ui/control_ids.h. Python 3 standard library only.
"""

import argparse
import os
import random
import sys
import time

from harness import controls
from harness.host import PluginHost
from harness.ini import SERVICE_COOKIE, ini, ini_values
from harness.paths import PLAYER_EXE, PLUGIN_DLL
from harness.player import PlayerError, parse_window, top_window
from harness.queue import queue_file
from harness.service import Service

EMAIL, PASSWORD = "user@example.com", "secret"

# One misbehaviour for the next matching request; "close" is the stand-in's refuse.
FAULTS = [
    ("hang", {}),
    ("refuse", {}),
    ("reset", {}),
    ("garbage", {}),
    ("delay", {"seconds": "2"}),
    ("huge", {"size": str(3 * 1024 * 1024)}),
    ("empty", {}),
]
FAULT_PATHS = ["/profile.php", "/login.php", "/captcha.php", "/1/submit-listens",
               "/1/playing-now/delete", "/2.0/", "/libre/2.0/"]
# Each listening service's own refusals, for its own path: a server busy or offline.
SERVICE_FAULTS = [
    ("lb_status", {"code": "503", "error": "down"}, "/1/submit-listens"),
    ("lb_status", {"code": "429", "reset_in": "2"}, "/1/submit-listens"),
    ("lfm_error", {"code": "16"}, "/2.0/"),
    ("lfm_error", {"code": "11"}, "/2.0/"),
    ("lfm_error", {"code": "16"}, "/libre/2.0/"),
    ("lfm_error", {"code": "11"}, "/libre/2.0/"),
]

# Three accounts beside the site, each with the stand-in's own credentials: ListenBrainz,
# and Last.fm and Libre.fm as two Last.fm-style accounts at two API roots of the
# stand-in. Every listen goes to all three, so at the end each holds the same ones,
# sent or waiting in its own file.
LFM_ACCOUNT = ("LastFm{n}=1\r\nLastFm{n}Server={root}\r\n"
               "LastFm{n}Key=0123456789abcdef0123456789abcdef\r\n"
               "LastFm{n}Secret=fedcba9876543210fedcba9876543210\r\n"
               "LastFm{n}Session=nimbo-session-key-0123456789abcd\r\nLastFm{n}User={user}\r\n"
               "LastFm{n}SessionServer={root}\r\n"
               "LastFm{n}SessionApiKey=0123456789abcdef0123456789abcdef\r\n")
ACCOUNTS = [  # name, where the stand-in keeps what it took, the account's queue file
    ("ListenBrainz", None, "nimbo-listens.txt"),
    ("Last.fm", "/2.0/", "nimbo-scrobbles.txt"),
    ("Libre.fm", "/libre/2.0/", "nimbo-scrobbles-2.txt"),
]


def listening(server):
    return ("ListenBrainz=1\r\nListenBrainzToken=lb-test-token\r\nListenBrainzServer=%s\r\n"
            % server + LFM_ACCOUNT.format(n="", root=server + "/2.0/", user="nimbo-scrobbler")
            + LFM_ACCOUNT.format(n="2", root=server + "/libre/2.0/", user="libre-user"))

# The playlist's 30 s entry, played past its half once a minute (the rest of the run's
# changes come too fast for any listen).
LISTEN_ENTRY = 6
LISTEN_HOLD_S = 17
LISTEN_EVERY_S = 60

# A command answered later than this means the player's window stopped answering.
# Under Wine without a window manager a visible window takes about 2 s to go away,
# and the player's UI thread waits for that.
ANSWER_LIMIT_S = 5.0


class SoakFailed(Exception):
    pass


class Soak:
    def __init__(self, host, service, rng, report_every, ids):
        self.ids = ids  # the settings window's control ids, by name
        self.host = host
        self.player = host.player
        self.service = service
        self.rng = rng
        self.report_every = report_every
        self.counts = {"changes": 0, "settings windows": 0, "options windows": 0,
                       "menu switches": 0, "security-code windows": 0, "message boxes": 0,
                       "faults": 0, "service faults": 0, "listens played": 0}
        self.slowest = 0.0
        self.samples = []
        # What the settings window set last: what winamp.ini must hold after quit.
        self.expected = {"Enabled": b"1", "NoLogin": b"0", "AuthLogin": EMAIL.encode(),
                         "AuthPass": PASSWORD.encode(), "Cookie": b"",
                         "StatusMask": b"%artist% - %title%"}
        self.masks = 0
        self.trace = False  # print each step's actions whenever the GDI count moves
        self.actions = []
        self.last_gdi = None

    def command(self, line, timeout=20):
        started = time.monotonic()
        try:
            lines, ok = self.player.command(line, timeout=timeout)
        except PlayerError as e:
            raise SoakFailed("the player did not answer %r: %s" % (line, e))
        took = time.monotonic() - started
        self.slowest = max(self.slowest, took)
        if took > ANSWER_LIMIT_S and not line.startswith(("dismiss", "msgbox")):
            raise SoakFailed("the player took %.1f s to answer %r" % (took, line))
        return lines, ok

    def check(self, line):
        if self.trace and not line.startswith(("windows", "resources", "sleep")):
            self.actions.append(line.split(" 0x")[0])
        lines, ok = self.command(line)
        if not ok:
            raise SoakFailed("%s: %s" % (line, self.player.last_error))
        return lines

    def resources(self):
        words = self.check("resources")[0].split()
        return dict(zip(words[1::2], (int(v) for v in words[2::2])))

    def sample(self, elapsed):
        values = self.resources()
        self.samples.append((elapsed, values))
        print("  %6.0f s  private %7.1f MB  handles %4d  gdi %4d  user %4d  windows %3d  "
              "changes %5d  settings %4d  security-code %4d  boxes %4d"
              % (elapsed, values["private"] / 1048576.0, values["handles"], values["gdi"],
                 values["user"], values["windows"], self.counts["changes"],
                 self.counts["settings windows"], self.counts["security-code windows"],
                 self.counts["message boxes"]), flush=True)

    # ------------------------------------------------------------- the windows

    def windows(self):
        # Through check(), so that a slow answer counts against the limit.
        lines = self.check("windows")
        return [parse_window(l) for l in lines if l.startswith("window\t")]

    def find_top(self, windows, text):
        return top_window(windows, text)

    def wait_gone(self, window, timeout=10):
        """Waits until that window is gone or hidden (a new one may have come since)."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not any(w["hwnd"] == window["hwnd"] and w.get("visible") == "1"
                       for w in self.windows()):
                return
            self.command("sleep 50")
        raise SoakFailed("the %r window did not close" % window["text"])

    def options_window(self, settings_controls):
        """More... and back, with Ok or Cancel; its values stay as they were."""
        self.check("click %s" % settings_controls[self.ids["kMoreButton"]]["hwnd"])
        deadline = time.monotonic() + 10
        window = None
        while window is None:
            window, controls = self.find_top(self.windows(), "Nimbo options")
            if window is None:
                if time.monotonic() > deadline:
                    raise SoakFailed("More... showed no options window")
                self.command("sleep 50")
        self.counts["options windows"] += 1
        button = "kOptionsOkButton" if self.rng.random() < 0.5 else "kOptionsCancelButton"
        self.check("click %s" % controls[self.ids[button]]["hwnd"])
        self.wait_gone(window)

    def menu_switch(self):
        """The menu item twice: publishing off (the status is cleared) and on again."""
        for _ in range(2):
            self.check("menu pick Publish status")
            self.counts["menu switches"] += 1
            self.command("sleep %d" % self.rng.choice([0, 300, 1200]))

    def settings_window(self):
        self.check("config")
        window, controls = self.find_top(self.windows(), "Nimbo")
        if window is None:
            raise SoakFailed("config showed no settings window")
        self.counts["settings windows"] += 1
        if self.rng.random() < 0.3:
            self.options_window(controls)
        if self.rng.random() < 0.5:
            self.check("click %s" % controls[self.ids["kCancelButton"]]["hwnd"])
        else:
            self.masks += 1
            mask = "soak %d %%title%% %%curstate%%" % self.masks
            # Mostly login mode (the security-code window needs it), sometimes cookies.
            cookie_mode = self.rng.random() < 0.15
            radio = self.ids["kCookieRadio" if cookie_mode else "kLoginRadio"]
            self.check("click %s" % controls[radio]["hwnd"])
            cookie = SERVICE_COOKIE if cookie_mode else ""
            for name, text in (("kLoginEdit", EMAIL), ("kPasswordEdit", PASSWORD),
                               ("kCookieEdit", cookie), ("kMaskEdit", mask)):
                self.check("settext %s %s" % (controls[self.ids[name]]["hwnd"], text))
            self.check("click %s" % controls[self.ids["kOkButton"]]["hwnd"])
            self.expected.update({"NoLogin": b"1" if cookie_mode else b"0",
                                  "AuthLogin": EMAIL.encode(), "AuthPass": PASSWORD.encode(),
                                  "Cookie": cookie.encode(), "StatusMask": mask.encode()})
        self.wait_gone(window)

    def answer_security_code(self, window, controls):
        """Closes the window without a right code, so login mode stays and the next
        change brings it back."""
        self.counts["security-code windows"] += 1
        edit = next(c for c in controls.values() if c["class"].lower() == "edit")
        ok = next(c for c in controls.values() if c["text"] == "Ok")
        choice = self.rng.random()
        if choice < 0.2:
            # config while the window shows asks it to close.
            self.settings_window()
        else:
            if choice < 0.6:
                self.check("settext %s 0000" % edit["hwnd"])
            self.check("click %s" % ok["hwnd"])
        self.wait_gone(window)

    # ------------------------------------------------------------- the rest

    def dismiss_boxes(self):
        while True:
            lines, ok = self.command("dismiss")
            if not ok:
                return
            if self.trace:
                self.actions.append("dismiss %s" % " ".join(lines)[:60])
            self.counts["message boxes"] += 1

    def change(self):
        entries = 6
        action = self.rng.choice(["next", "prev", "play", "pause", "stop", "play"])
        line = "play %d" % self.rng.randrange(entries) if action == "play" else action
        # A pause while stopped is refused, like the real button: no change then.
        if self.command(line)[1]:
            self.counts["changes"] += 1

    def fault(self):
        mode, options = self.rng.choice(FAULTS)
        # One pending misbehaviour at a time: rules for paths the plugin does not ask
        # for in its current mode would pile up and then hit it all at once.
        self.service.control("clear-modes")
        path = self.rng.choice(FAULT_PATHS)
        if self.rng.random() < 0.4:
            mode, options, path = self.rng.choice(SERVICE_FAULTS)
            self.counts["service faults"] += 1
        self.service.mode(mode=mode, path=path, **options)
        if self.trace:
            self.actions.append("fault %s %s" % (mode, path))
        self.counts["faults"] += 1

    def wait_for_security_code(self, timeout=15):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self.dismiss_boxes()
            window, controls = self.find_top(self.windows(), "Security code")
            if window is not None:
                return window, controls
            self.command("sleep 200")
        raise SoakFailed("login mode brought no security-code window")

    def warm_up(self):
        """Shows every kind of window and box, alone and together as the run brings them,
        twice: the first of each (and of each combination) costs objects that Wine keeps
        cached for the process, so the samples that follow can show a leak."""
        for _ in range(2):
            # The security-code window: a wrong code, no code, and config while it shows
            # (settings window, options window over it, both cancelled).
            # (Only in login mode: a settings window of the first round may have
            # chosen cookies.)
            for answer in ("wrong", "empty", "config") if self.expected["NoLogin"] == b"0" else ():
                self.check("next")
                window, controls = self.wait_for_security_code()
                self.counts["security-code windows"] += 1
                if answer == "config":
                    self.check("config")
                    settings, settings_controls = self.find_top(self.windows(), "Nimbo")
                    self.options_window(settings_controls)
                    self.check("click %s" % settings_controls[self.ids["kCancelButton"]]["hwnd"])
                    self.wait_gone(settings)
                else:
                    edit = next(c for c in controls.values() if c["class"].lower() == "edit")
                    ok = next(c for c in controls.values() if c["text"] == "Ok")
                    if answer == "wrong":
                        self.check("settext %s 0000" % edit["hwnd"])
                    self.check("click %s" % ok["hwnd"])
                self.wait_gone(window)
                self.settle()
            # Each kind of message box the faults bring.
            for mode in ("refuse", "garbage", "empty"):
                self.service.control("clear-modes")
                self.service.mode(mode=mode, path="/login.php")
                self.check("next")
                self.player.message_box(15000)
                self.settle()
            self.service.control("clear-modes")
            self.settings_window()
            self.settings_window()
            self.menu_switch()
            self.settle()

    def settle(self):
        """Closes whatever the last changes brought up until two ticks pass quietly."""
        quiet_since = time.monotonic()
        while time.monotonic() - quiet_since < 2.5:
            self.command("sleep 300")
            window, controls = self.find_top(self.windows(), "Security code")
            if window is not None:
                self.answer_security_code(window, controls)
                quiet_since = time.monotonic()
            if self.player.message_box(0) is not None:
                self.dismiss_boxes()
                quiet_since = time.monotonic()

    def listen(self):
        """A 30 s track played past its half, with one account's service refusing
        meanwhile: a new listen for each account, the refused one's through its file."""
        self.service.control("clear-modes")
        mode, options, path = self.rng.choice(SERVICE_FAULTS)
        self.service.mode(mode=mode, path=path, count=self.rng.choice([1, 3]), **options)
        self.counts["service faults"] += 1
        self.check("play %d" % LISTEN_ENTRY)
        self.counts["listens played"] += 1
        deadline = time.monotonic() + LISTEN_HOLD_S
        while time.monotonic() < deadline:
            self.command("sleep 300")
            window, controls = self.find_top(self.windows(), "Security code")
            if window is not None:
                self.answer_security_code(window, controls)
            self.dismiss_boxes()

    def run(self, seconds):
        for i in range(6):
            self.check("add C:\\music\\Artist %d - Track %d.mp3|Artist %d - Track %d|%d"
                       % (i, i, i, i, 100 + i))
        self.check("add C:\\music\\Listened.mp3|Band - Listened|30")
        self.check("play 0")
        self.warm_up()
        started = time.monotonic()
        next_report, next_listen = 0.0, min(10.0, seconds / 4)
        while True:
            elapsed = time.monotonic() - started
            if elapsed >= seconds:
                # The last sample with nothing on screen: a window the tick has just
                # brought up is no leak.
                self.settle()
                self.sample(time.monotonic() - started)
                break
            if elapsed >= next_report:
                self.sample(elapsed)
                next_report += self.report_every
            if elapsed >= next_listen:
                self.listen()
                next_listen += LISTEN_EVERY_S
            # A burst of changes: the tick sees the last of them.
            for _ in range(self.rng.randint(2, 12)):
                self.change()
            if self.rng.random() < 0.4:
                self.fault()
            if self.rng.random() < 0.4:
                self.settings_window()
            if self.rng.random() < 0.1:
                self.menu_switch()
            # In login mode the next tick brings the security-code window (unless a
            # fault ends the login first): give it that tick.
            deadline = time.monotonic() + (1.5 if self.expected["NoLogin"] == b"0" else 0)
            while True:
                self.dismiss_boxes()
                window, controls = self.find_top(self.windows(), "Security code")
                if window is not None:
                    self.answer_security_code(window, controls)
                    break
                if time.monotonic() >= deadline:
                    break
                self.command("sleep 200")
            self.command("sleep %d" % self.rng.choice([0, 100, 400]))
            if self.trace:
                self.trace_gdi(elapsed)

    def trace_gdi(self, elapsed):
        gdi = self.resources()["gdi"]
        if gdi != self.last_gdi:
            print("  trace %6.0f s  gdi %4d after: %s" % (elapsed, gdi, ", ".join(self.actions)),
                  flush=True)
            self.last_gdi = gdi
        self.actions = []

    def finish(self):
        self.service.control("clear-modes")
        # Under Wine without a window manager a window takes 2 s to go away; quit
        # would have to wait for that, which says nothing about the plugin.
        self.settle()
        quit_ms = self.host.timed_quit()
        if self.player.message_box(0) is not None:
            raise SoakFailed("a message box is still open after quit")
        values = ini_values(self.host.ini_bytes(), "Gen_Nimbo")
        wrong = {k: (values.get(k), v) for k, v in self.expected.items() if values.get(k) != v}
        if wrong:
            raise SoakFailed("winamp.ini after quit differs (found, set): %r" % wrong)
        self.nothing_lost()
        return quit_ms

    def waiting(self, name):
        """The listens a queue file holds, as (listened at, title)."""
        try:
            with open(os.path.join(self.host.folder, name), "rb") as f:
                lines = f.read().decode("utf-8", "replace").splitlines()
        except FileNotFoundError:
            return set()
        return {(int(p[1]), p[4]) for p in (l.split("\t") for l in lines) if len(p) == 7}

    def received(self, root):
        """What the stand-in took for an account, as (listened at, title)."""
        if root is None:
            return {(l["listened_at"], l["track_metadata"]["track_name"])
                    for l in self.service.lb_listens()}
        return {(int(s["timestamp"]), s["track"]) for s in self.service.lfm_scrobbles_at(root)}

    def nothing_lost(self):
        """Each listen reached every account or waits in that account's queue file; and
        each account took some (one stuck for the whole run is no soak of it)."""
        held = {}
        for name, root, queue in ACCOUNTS:
            sent, waiting = self.received(root), self.waiting(queue)
            held[name] = sent | waiting
            self.counts[name] = "%d sent, %d waiting" % (len(sent), len(waiting - sent))
            if not sent:
                raise SoakFailed("%s took nothing in the whole run" % name)
        first = held[ACCOUNTS[0][0]]
        played = len([1 for _, title in first if title == "Listened"])
        if len(first) < 20 or played < self.counts["listens played"]:
            raise SoakFailed("only %d listens in all, %d of the %d played"
                             % (len(first), played, self.counts["listens played"]))
        for name in held:
            if held[name] != first:
                raise SoakFailed("listens lost: %s lacks %r, %s lacks %r"
                                 % (name, sorted(first - held[name]), ACCOUNTS[0][0],
                                    sorted(held[name] - first)))
        self.counts["listens"] = len(first)


def flat(samples, limits):
    """Whether the second half of the run stayed within the first half's peak (each
    kind of window and box costs the process some objects the first time it shows;
    a leak keeps growing). Returns the first sample, that peak, the last sample and
    the complaints."""
    half = [values for elapsed, values in samples if elapsed <= samples[-1][0] / 2]
    peak = {key: max(values[key] for values in half) for key in limits}
    end = samples[-1][1]
    complaints = ["%s grew from %d (first half's peak) to %d" % (key, peak[key], end[key])
                  for key, limit in limits.items() if end[key] - peak[key] > limit]
    return samples[0][1], peak, end, complaints


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--seconds", type=float, default=600)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--trace", action="store_true",
                        help="print the actions of each step after which the GDI count moved")
    parser.add_argument("--report-every", type=float, default=None,
                        help="seconds between resource lines (default: a tenth of the run)")
    args = parser.parse_args(argv)
    if not (PLAYER_EXE and PLUGIN_DLL):
        sys.stderr.write("soak: set NIMBO_PLAYER_EXE and NIMBO_PLUGIN_DLL\n")
        return 2
    try:
        ids = controls.ids()
    except controls.ControlIdsError as e:
        sys.stderr.write("soak: %s\n" % e)
        return 2
    seed = args.seed if args.seed is not None else int(time.time())
    report_every = args.report_every or max(5.0, args.seconds / 10)
    print("soak: %d s, seed %d" % (args.seconds, seed), flush=True)
    rng = random.Random(seed)
    with Service(args=["--captcha", "1", "--hang-limit", "8"]) as service:
        settings = ini(no_login=False, cookie=None, status_mask="%artist% - %title%",
                       proxy=service.proxy, show_errors=True, auth_login=EMAIL,
                       auth_pass=PASSWORD)
        server = "http://127.0.0.1:%d" % service.port
        settings += listening(server).encode("ascii")
        # Listens an earlier run left waiting for each: they go out through the faults.
        waiting = queue_file(["Waiting %d" % n for n in range(20)])
        with PluginHost(PLUGIN_DLL, settings,
                        files={queue: waiting for _, _, queue in ACCOUNTS}) as host:
            soak = Soak(host, service, rng, report_every, ids)
            soak.trace = args.trace
            try:
                soak.run(args.seconds)
                quit_ms = soak.finish()
            except SoakFailed as e:
                print("soak: FAILED: %s" % e, flush=True)
                return 1
    start, peak, end, complaints = flat(soak.samples, {
        "private": 8 * 1024 * 1024, "handles": 20, "gdi": 40, "user": 20, "windows": 2})
    print("soak: %s" % ", ".join("%s %s" % kv for kv in soak.counts.items()))
    print("soak: slowest answer %.2f s, quit took %d ms" % (soak.slowest, quit_ms))
    print("soak: %-8s %10s %10s %10s" % ("", "start", "1st-half", "end"))
    for key in ("private", "handles", "gdi", "user", "windows"):
        print("soak: %-8s %10d %10d %10d" % (key, start[key], peak[key], end[key]))
    if complaints:
        print("soak: FAILED: %s" % "; ".join(complaints))
        return 1
    print("soak: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main())
