"""The Last.fm 2.0 side (Last.fm, Libre.fm and other servers of the same interface):
form-encoded requests to a path ending in "/2.0/", every one signed with api_sig,
answered in JSON with format=json and in the <lfm> XML otherwise.

Like the other sides, `answer` takes the state, a copy of the configuration and the
parsed request (its body already read) and returns (Reply, note).
"""

import hashlib
import json
import re
from xml.sax.saxutils import escape, quoteattr

import standin_state
from standin_wire import Reply, parse_query

ROOT_SUFFIXES = ("/2.0/", "/2.0")
UNSIGNED = (b"format", b"callback", b"api_sig")
MAX_SCROBBLES = 50
FORM_TYPE = "application/x-www-form-urlencoded"

ERRORS = {2: "Invalid service - This service does not exist",
          3: "Invalid Method - No method with that name in this package",
          4: "Invalid authentication token supplied",
          5: "Invalid format - This service doesn't exist in that format",
          6: "Invalid parameters - Your request is missing a required parameter",
          8: "Operation failed - Something else went wrong",
          9: "Invalid session key - Please re-authenticate",
          10: "Invalid API key - You must be granted a valid key by last.fm",
          11: "Service Offline - This service is temporarily offline. Try again later.",
          13: "Invalid method signature supplied",
          14: "This token has not been authorized",
          15: "This token has expired",
          16: "There was a temporary error processing your request. Please try again",
          26: "Suspended API key - Access for your account has been suspended",
          29: "Rate limit exceeded - Your IP has made too many requests in a short period"}
# The stand-in's HTTP status for each error code (403 for the rest).
HTTP_STATUS = {6: 400, 7: 400, 8: 500, 11: 503, 16: 503, 29: 429}
REASONS = {200: "OK", 400: "Bad Request", 403: "Forbidden", 429: "Too Many Requests",
           500: "Internal Server Error", 503: "Service Unavailable"}
IGNORED = {0: "", 1: "Artist was ignored", 2: "Track was ignored",
           3: "Timestamp was too old", 4: "Timestamp was too new",
           5: "Daily scrobble limit exceeded"}
INDEXED = re.compile(rb"^([A-Za-z]+)\[(\d+)\]$")


class Failed(Exception):
    def __init__(self, code, text=None):
        super().__init__(text or ERRORS.get(code, "error %d" % code))
        self.code = code
        self.text = text or ERRORS.get(code, "error %d" % code)


def handles(req):
    return req.path.endswith(ROOT_SUFFIXES)


def signature(params, secret):
    """MD5 of the signed parameters sorted by name, each name then its value, then the
    shared secret; `params` maps bytes to bytes."""
    base = b"".join(k + v for k, v in sorted(params.items()) if k not in UNSIGNED)
    return hashlib.md5(base + secret.encode("utf-8")).hexdigest()


def _params(req):
    """Query and, for a form POST, body parameters; the first of a name counts."""
    pairs = list(req.params)
    if req.method == "POST" and (req.header("Content-Type") or "").lower().startswith(FORM_TYPE):
        pairs += parse_query(req.body)
    found = {}
    for name, value in pairs:
        found.setdefault(name, value)
    return found


def _text(params, name):
    return params.get(name.encode("ascii"), b"").decode("utf-8", "replace")


def _xml(tag, value):
    """One member of a reply as XML: a list repeats the element, "@attr" members and,
    beside a "#text", the other plain members become attributes."""
    if isinstance(value, list):
        return "".join(_xml(tag, v) for v in value)
    if not isinstance(value, dict):
        return "<%s>%s</%s>" % (tag, escape(str(value)), tag)
    attrs = dict(value.get("@attr", {}))
    if "#text" in value:
        attrs.update((k, v) for k, v in value.items() if k not in ("#text", "@attr"))
        inner = escape(str(value["#text"]))
    else:
        inner = "".join(_xml(k, v) for k, v in value.items() if k != "@attr")
    attr_text = "".join(" %s=%s" % (k, quoteattr(str(v))) for k, v in attrs.items())
    return "<%s%s>%s</%s>" % (tag, attr_text, inner, tag)


def _reply(fmt, status, doc=None, code=None, text=None):
    if fmt == "json":
        obj = doc if code is None else {"error": code, "message": text}
        return Reply(status, REASONS.get(status, "Status"),
                     [("Content-Type", "application/json; charset=utf-8")],
                     json.dumps(obj, ensure_ascii=False, separators=(",", ":")).encode("utf-8"))
    if code is None:
        inner = '<lfm status="ok">' + "".join(_xml(k, v) for k, v in doc.items())
    else:
        inner = '<lfm status="failed"><error code="%d">%s</error>' % (code, escape(text))
    body = '<?xml version="1.0" encoding="UTF-8"?>\n' + inner + "</lfm>\n"
    return Reply(status, REASONS.get(status, "Status"),
                 [("Content-Type", "text/xml; charset=utf-8")], body.encode("utf-8"))


def error_reply(fmt, code, text=None):
    return _reply(fmt, HTTP_STATUS.get(code, 403), code=code, text=text or ERRORS.get(code, ""))


def _format(req):
    return "json" if _params(req).get(b"format") == b"json" else "xml"


def forced_error(req, options):
    """The lfm_error mode's answer in place of the method's: code=N, error=TEXT."""
    code = options.get("code", 16)
    reply = error_reply(_format(req), code, options.get("error"))
    return reply, {"lfm_method": _text(_params(req), "method"), "lfm_code": code}


def _corrected(text):
    return {"corrected": "0", "#text": text}


def _ignored(cfg, track):
    text, _, code = cfg["lfm_ignore"].rpartition(":")
    code = int(code) if text and text in track else 0
    return {"code": str(code), "#text": IGNORED[code]}


def _session_user(state, cfg, params):
    user = state.lfm_session_user(_text(params, "sk"), cfg)
    if user is None:
        raise Failed(9)
    return user


def get_token(state, cfg, params, note):
    return {"token": state.lfm_new_token()}


def get_session(state, cfg, params, note):
    age = state.lfm_token_age(_text(params, "token"))
    if age is None:
        raise Failed(4)
    if age > cfg["lfm_token_life"]:
        raise Failed(15)
    if age < cfg["lfm_auth_delay"]:
        raise Failed(14)
    key = state.lfm_new_session(_text(params, "token"), cfg["lfm_user"])
    return {"session": {"name": cfg["lfm_user"], "key": key, "subscriber": 0}}


def _track(params, suffix=b""):
    """One track's texts by name (artist, track, album, ...), for `suffix` "[i]"."""
    fields = {}
    for name in ("artist", "track", "album", "duration", "timestamp", "mbid", "trackNumber",
                 "albumArtist"):
        value = params.get(name.encode("ascii") + suffix)
        if value is not None:
            fields[name] = value.decode("utf-8", "replace")
    if not fields.get("artist") or not fields.get("track"):
        raise Failed(6)
    return fields


def _echo(fields, ignored):
    return {"artist": _corrected(fields["artist"]), "track": _corrected(fields["track"]),
            "album": _corrected(fields.get("album", "")),
            "albumArtist": _corrected(fields.get("albumArtist", "")), "ignoredMessage": ignored}


def now_playing(state, cfg, params, note):
    _session_user(state, cfg, params)
    fields = _track(params)
    state.lfm_play(fields)
    return {"nowplaying": _echo(fields, _ignored(cfg, fields["track"]))}


def _scrobble_indices(params):
    """The array indices used, in order; the plain names count as one scrobble."""
    found = sorted({int(m.group(2)) for m in map(INDEXED.match, params) if m})
    if not found and b"artist" in params:
        return [None]
    if len(found) > MAX_SCROBBLES or any(i >= MAX_SCROBBLES for i in found):
        raise Failed(6, "Invalid parameters - at most %d scrobbles a request" % MAX_SCROBBLES)
    if not found:
        raise Failed(6)
    return found


def scrobble(state, cfg, params, note):
    _session_user(state, cfg, params)
    indices = _scrobble_indices(params)
    note["lfm_count"] = len(indices)
    tracks = [_track(params, b"" if i is None else b"[%d]" % i) for i in indices]
    if not all(t.get("timestamp", "").isdigit() for t in tracks):
        raise Failed(6, "Invalid parameters - each scrobble needs its timestamp")
    echoed, kept = [], []
    for fields in tracks:
        ignored = _ignored(cfg, fields["track"])
        echoed.append(dict(_echo(fields, ignored), timestamp=fields["timestamp"]))
        if ignored["code"] == "0":
            kept.append(fields)
    state.lfm_add_scrobbles(kept, note.get("lfm_root"), note.get("lfm_host"))
    attr = {"accepted": len(kept), "ignored": len(tracks) - len(kept)}
    # The real service gives one scrobble as an object, more as an array.
    return {"scrobbles": {"@attr": attr, "scrobble": echoed[0] if len(echoed) == 1 else echoed}}


METHODS = {"auth.getToken": get_token, "auth.getSession": get_session,
           "track.updateNowPlaying": now_playing, "track.scrobble": scrobble}


def _checked(cfg, req, params):
    """The method's function once the request passed the service's checks."""
    method = _text(params, "method")
    if method not in METHODS:
        raise Failed(3)
    if req.method != "POST" and not (req.method == "GET" and method == "auth.getToken"):
        raise Failed(6, "Invalid parameters - %s must be POSTed" % method)
    if _text(params, "api_key") != cfg["lfm_key"]:
        raise Failed(10)
    if _text(params, "api_sig") != signature(params, cfg["lfm_secret"]):
        raise Failed(13)
    return METHODS[method]


def answer(state, cfg, req):
    params = _params(req)
    fmt = _format(req)
    note = {"lfm_method": _text(params, "method"), "lfm_format": fmt, "lfm_root": req.path,
            "lfm_host": standin_state.bare_host(req.host)}
    try:
        reply = _reply(fmt, 200, _checked(cfg, req, params)(state, cfg, params, note))
        note["lfm_code"] = 0
    except Failed as exc:
        reply = error_reply(fmt, exc.code, exc.text)
        note.update(lfm_code=exc.code, lfm_error=exc.text)
    return reply, note
