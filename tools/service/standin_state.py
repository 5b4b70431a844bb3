"""The stand-in's mutable state: configuration, misbehaviour rules, the
request log and the published status. One lock guards all of it, because
every connection runs on its own thread."""

import base64
import json
import secrets
import threading
import time

CAPTCHA_SIZES = ("130x50", "200x70", "100x30")

MODES = {
    "refuse": "close the connection without answering (before reading when no path/param filter)",
    "hang": "read the request, never answer; hold until the client closes (or --hang-limit)",
    "reset": "send the headers and part of the body, then RST (bytes=N, pause=SECONDS)",
    "garbage": "send bytes without any status line, then close",
    "chunked": "answer normally but with a chunked body (chunks=3,2 cycles the sizes)",
    "zero_length": "answer 200 with \"Content-Length: 0\" and no body, endpoint not run",
    "empty": "answer 200 with an empty body, endpoint not run (a stale-hash reply)",
    "huge": "answer normally, body padded to size=BYTES (default 20 MiB)",
    "delay": "wait seconds=S before answering normally",
    "trickle": "answer normally, one byte every seconds=S (default 3) until the client closes",
    "status": "answer normally but with status code code=NNN",
    "lb_status": "ListenBrainz's error shape instead of the endpoint: code=NNN (default 500),"
                 " error=TEXT, reset_in=S (429's X-RateLimit-Reset-In; empty: none)",
    "page": "a front server's HTML page instead of the endpoint: code=NNN (default 400),"
            " title=TEXT (nginx's words for plain HTTP sent to an HTTPS port by default)",
    "lfm_error": "a Last.fm error instead of the method, JSON or XML as the request's format"
                 " asks: code=N (default 16), error=TEXT (default: the service's words)",
    "paced": "TLS port only, taken as the connection is accepted (no path/param): answer"
             " normally, the reply in one TLS record whose encrypted bytes go out one every"
             " seconds=S (default 0.2) until the client closes",
}

RULE_OPTIONS = {
    "seconds": float,
    "size": int,
    "bytes": int,
    "pause": float,
    "code": int,
    "chunks": lambda v: [int(x) for x in v.split(",") if x.strip()],
    "error": str,
    "reset_in": str,
    "title": str,
}


class ConfigError(ValueError):
    pass


def _flag(value):
    text = str(value).strip().lower()
    if text in ("1", "true", "yes", "on"):
        return True
    if text in ("0", "false", "no", "off", ""):
        return False
    raise ConfigError("not a yes/no value: %r" % value)


def _choice(options):
    def check(value):
        if value not in options:
            raise ConfigError("expected one of %s, got %r" % (", ".join(options), value))
        return value
    return check


def _ignore_rule(value):
    """"TEXT:CODE" (or empty): a scrobble whose track holds TEXT is ignored with CODE 1-5."""
    text, sep, code = str(value).rpartition(":")
    if value and (not sep or not text or code not in ("1", "2", "3", "4", "5")):
        raise ConfigError("expected TEXT:CODE with CODE 1-5, got %r" % value)
    return str(value)


def _charset(value):
    try:
        "x".encode(value)
    except LookupError:
        raise ConfigError("unknown charset %r" % value)
    return value


# name -> (converter, default, help)
CONFIG_FIELDS = {
    "email": (str, "user@example.com", "the e-mail that logs in"),
    "password": (str, "secret", "the password that logs in"),
    "login_charset": (_charset, "cp1251", "byte encoding of e-mail and password on the wire"),
    "cookie": (str, "5f2e8a91c04b", "the remixsid value handed out and accepted"),
    "hash": (str, "a1b2c3d4e5", "the current activity hash"),
    "captcha": (_flag, False, "demand a security code on every first login"),
    "code": (str, "4821", "the correct security code"),
    "sid": (str, "123456", "the picture's sid written into the challenge page"),
    "csid": (str, '"987"', "the form value written after value= (quotes are part of it)"),
    "captcha_size": (_choice(CAPTCHA_SIZES), "130x50", "picture size"),
    "wrong_login": (_choice(("deleted", "none")), "deleted",
                    "wrong credentials: remixsid=deleted, or no remixsid cookie at all"),
    "cookie_header": (_choice(("normal", "lower")), "normal",
                      "write the Set-Cookie header name normally or all lower case"),
    "cookie_shape": (_choice(("normal", "bare", "renewed")), "normal",
                     "the login's remixsid line: with attributes, bare (no \";\", another "
                     "Set-Cookie after it), or renewed (an expired remixsid line first)"),
    "profile_hash": (_flag, True, "the profile page carries the activity hash"),
    "domain": (str, "", "cookie domain (empty: the request's host)"),
    "tunnel_status": (int, 200, "the proxy's answer to CONNECT; a 2xx opens the TLS tunnel"),
    "lb_token": (str, "lb-test-token", "the ListenBrainz user token that is accepted"),
    "lb_user": (str, "nimbo-listener", "the user name validate-token gives for lb_token"),
    "lb_refuse": (str, "", "ListenBrainz refuses (400) a request with a listen whose "
                           "track_name contains this text (empty: none)"),
    "lfm_key": (str, "0123456789abcdef0123456789abcdef", "the Last.fm api_key accepted"),
    "lfm_secret": (str, "fedcba9876543210fedcba9876543210", "the shared secret api_sig uses"),
    "lfm_user": (str, "nimbo-scrobbler", "the user a Last.fm session belongs to"),
    "lfm_session_key": (str, "nimbo-session-key-0123456789abcd",
                        "a session key accepted without the token steps"),
    "lfm_auth_delay": (float, 3.0, "seconds after auth.getToken until the user has allowed"
                                   " the token (before: error 14)"),
    "lfm_token_life": (float, 3600.0, "seconds a token lives (after: error 15)"),
    "lfm_ignore": (_ignore_rule, "", "TEXT:CODE: a Last.fm scrobble or playing-now whose"
                                          " track holds TEXT is ignored with code CODE (1-5)"),
}


def bare_host(host):
    """A request's host without its port, in lower case ("libre.fm:80" -> "libre.fm")."""
    return host.rsplit(":", 1)[0].lower() if host.count(":") == 1 else host.lower()


class Rule:
    def __init__(self, mode, count=1, path=None, param=None, options=None, host=None):
        self.mode = mode
        self.count = count  # remaining uses; negative means unlimited
        self.path = path
        self.param = param
        self.options = options or {}
        # Through the proxy two servers can share a path: the host tells them apart.
        self.host = host.lower() if host else None

    def matches(self, req):
        if self.count == 0:
            return False
        if self.path is not None and (req is None or req.path != self.path):
            return False
        if self.param is not None and (req is None or not req.has_param(self.param)):
            return False
        if self.host is not None and (req is None or bare_host(req.host) != self.host):
            return False
        return True

    def as_dict(self):
        return {"mode": self.mode, "count": self.count, "path": self.path,
                "param": self.param, "host": self.host, "options": self.options}


def make_rule(values):
    """Builds a rule from a dict of texts (control query or --mode option)."""
    values = dict(values)
    mode = values.pop("mode", "")
    if mode not in MODES:
        raise ConfigError("unknown mode %r (known: %s)" % (mode, ", ".join(MODES)))
    try:
        count = int(values.pop("count", "1"))
    except ValueError:
        raise ConfigError("count must be a number")
    path = values.pop("path", None) or None
    param = values.pop("param", None) or None
    host = values.pop("host", None) or None
    options = {}
    for key, text in values.items():
        if key not in RULE_OPTIONS:
            raise ConfigError("unknown option %r for a mode" % key)
        try:
            options[key] = RULE_OPTIONS[key](text)
        except ValueError:
            raise ConfigError("bad value %r for %s" % (text, key))
    if mode == "chunked" and not options.get("chunks", [3, 2]):
        raise ConfigError("chunks needs at least one size")
    return Rule(mode, count, path, param, options, host)


class State:
    def __init__(self, log_path=None):
        self.lock = threading.Lock()
        self.config = {name: field[1] for name, field in CONFIG_FIELDS.items()}
        self.rules = []
        self.log = []
        self.seq = 0
        self.status = None
        self.history = []
        self.lb_playing_now = None
        self.lb_listens = []
        self._lfm_reset()
        self.log_file = open(log_path, "a", encoding="utf-8") if log_path else None

    # configuration
    def configure(self, values):
        """Applies a dict of texts; all or nothing. Returns the new config."""
        converted = {}
        for name, text in values.items():
            if name not in CONFIG_FIELDS:
                raise ConfigError("unknown setting %r" % name)
            converted[name] = CONFIG_FIELDS[name][0](text)
        with self.lock:
            self.config.update(converted)
            return dict(self.config)

    def snapshot(self):
        with self.lock:
            return dict(self.config)

    def rotate_hash(self):
        with self.lock:
            self.config["hash"] = secrets.token_hex(5)
            return self.config["hash"]

    # misbehaviour rules
    def add_rule(self, rule):
        with self.lock:
            self.rules.append(rule)
            return [r.as_dict() for r in self.rules]

    def clear_rules(self):
        with self.lock:
            self.rules = []

    def list_rules(self):
        with self.lock:
            return [r.as_dict() for r in self.rules]

    def take_rule(self, req, accept_time=False, tls=False):
        """Consumes one use of the first rule that applies to this request.

        At accept time (req is None) only a filter-less "refuse" applies, and
        on the TLS port a filter-less "paced", since nothing is known about the
        request yet; "paced" applies at no other time.
        """
        with self.lock:
            for rule in self.rules:
                at_accept = rule.mode == "refuse" or (tls and rule.mode == "paced")
                if accept_time and (not at_accept or rule.path or rule.param or rule.host):
                    continue
                if not accept_time and rule.mode == "paced":
                    continue
                if rule.matches(req):
                    if rule.count > 0:
                        rule.count -= 1
                    self.rules = [r for r in self.rules if r.count != 0]
                    return Rule(rule.mode, 1, rule.path, rule.param, dict(rule.options),
                                rule.host)
            return None

    # published status
    def set_status(self, text, raw):
        with self.lock:
            self.status = text
            self.history.append({"action": "set", "text": text, "hex": raw.hex()})

    def clear_status(self):
        with self.lock:
            self.status = None
            self.history.append({"action": "clear", "text": None, "hex": ""})

    def status_report(self):
        with self.lock:
            return {"status": self.status, "history": list(self.history),
                    "lb_playing_now": self.lb_playing_now, "lb_listens": list(self.lb_listens),
                    "lfm_now_playing": self.lfm_now_playing,
                    "lfm_scrobbles": list(self.lfm_scrobbles),
                    "lfm_scrobbles_by_root": {k: list(v) for k, v in
                                              self.lfm_scrobbles_by_root.items()},
                    "lfm_scrobbles_by_host": {k: list(v) for k, v in
                                              self.lfm_scrobbles_by_host.items()}}

    # ListenBrainz: what plays now and the listens accepted, in arrival order
    def lb_play(self, track_metadata):
        with self.lock:
            self.lb_playing_now = track_metadata

    def lb_clear(self):
        """Clears the playing-now; True when there was one."""
        with self.lock:
            had = self.lb_playing_now is not None
            self.lb_playing_now = None
            return had

    def lb_add_listens(self, listen_type, listens):
        with self.lock:
            self.lb_listens += [dict(listen, listen_type=listen_type) for listen in listens]

    # Last.fm: tokens handed out, sessions, what plays now and the scrobbles accepted
    def _lfm_reset(self):
        self.lfm_tokens = {}
        self.lfm_sessions = {}
        self.lfm_now_playing = None
        self.lfm_scrobbles = []
        # The same, by the API root they came to: two accounts on one stand-in apart.
        self.lfm_scrobbles_by_root = {}
        # And by the host they were sent to (through the proxy, one path on two hosts).
        self.lfm_scrobbles_by_host = {}

    def lfm_new_token(self):
        with self.lock:
            token = secrets.token_hex(16)
            self.lfm_tokens[token] = time.monotonic()
            return token

    def lfm_token_age(self, token):
        """Seconds since `token` was handed out; None for one unknown or used."""
        with self.lock:
            issued = self.lfm_tokens.get(token)
            return None if issued is None else time.monotonic() - issued

    def lfm_new_session(self, token, user):
        """A session key for `user`; the token is used up."""
        with self.lock:
            self.lfm_tokens.pop(token, None)
            key = secrets.token_hex(16)
            self.lfm_sessions[key] = user
            return key

    def lfm_session_user(self, key, cfg):
        with self.lock:
            return cfg["lfm_user"] if key == cfg["lfm_session_key"] else \
                self.lfm_sessions.get(key)

    def lfm_play(self, fields):
        with self.lock:
            self.lfm_now_playing = fields

    def lfm_add_scrobbles(self, scrobbles, root=None, host=None):
        with self.lock:
            self.lfm_scrobbles += scrobbles
            self.lfm_scrobbles_by_root.setdefault(root, []).extend(scrobbles)
            self.lfm_scrobbles_by_host.setdefault(host, []).extend(scrobbles)

    # request log
    def record(self, req, mode=None, problem=None, note=None):
        entry = {
            "time": time.time(),
            "peer": "%s:%d" % req.peer,
            "raw": req.raw.decode("latin-1"),
            "raw_b64": base64.b64encode(req.raw).decode("ascii"),
            "method": req.method,
            "target": req.target,
            "form": req.form,
            "host": req.host,
            "path": req.path,
            "query": req.query.decode("latin-1"),
            "params": [[k.decode("latin-1"), v.decode("latin-1")] for k, v in req.params],
            "headers": [[k, v] for k, v in req.headers],
            "mode": mode,
            "error": problem or req.error,
        }
        # Requests that came over TLS say so, with the server name and any tunnel.
        entry.update(getattr(req, "tls", None) or {})
        if note:
            entry.update(note)
        with self.lock:
            self.seq += 1
            entry["seq"] = self.seq
            self.log.append(entry)
            if self.log_file:
                self.log_file.write(json.dumps(entry) + "\n")
                self.log_file.flush()
        return entry

    def log_since(self, seq=0):
        with self.lock:
            return [e for e in self.log if e["seq"] > seq]

    def reset_log(self):
        with self.lock:
            self.log = []

    def reset(self, config, rules):
        """Back to the given configuration and rules, with no log and no status."""
        with self.lock:
            self.config = dict(config)
            self.rules = list(rules)
            self.log = []
            self.status = None
            self.history = []
            self.lb_playing_now = None
            self.lb_listens = []
            self._lfm_reset()

    def close(self):
        with self.lock:
            if self.log_file:
                self.log_file.close()
                self.log_file = None
