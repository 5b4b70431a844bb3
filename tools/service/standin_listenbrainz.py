"""The ListenBrainz side: /1/submit-listens, /1/playing-now/delete and
/1/validate-token, checked and answered the way the public API answers.

Like the site's endpoints, each takes the state, a copy of the configuration
and the parsed request (its body already read) and returns (Reply, note); the
note goes into the request's log entry.
"""

import json

from standin_wire import Reply

SUBMIT = "/1/submit-listens"
CLEAR = "/1/playing-now/delete"
VALIDATE = "/1/validate-token"
PREFIX = "/1/"

LISTEN_TYPES = ("playing_now", "single", "import")
MAX_LISTENS_PER_REQUEST = 1000
MAX_LISTEN_SIZE = 10240  # bytes of one listen, as compact UTF-8 JSON
MAX_PAYLOAD_SIZE = MAX_LISTEN_SIZE * MAX_LISTENS_PER_REQUEST

REASONS = {200: "OK", 400: "Bad Request", 401: "Unauthorized", 404: "Not Found",
           405: "Method Not Allowed", 411: "Length Required", 413: "Payload Too Large",
           429: "Too Many Requests", 500: "Internal Server Error", 502: "Bad Gateway",
           503: "Service Unavailable"}

# Error texts of the lb_status mode when its rule gives none.
DEFAULT_ERRORS = {400: "invalid JSON document", 401: "the user token is not valid",
                  404: "nothing of this client is playing now",
                  429: "too many requests, wait as X-RateLimit-Reset-In says",
                  500: "something went wrong on the server", 503: "the service is unavailable"}
DEFAULT_RESET_IN = "5"


class Refused(Exception):
    """A request the service turns down: the status and the `error` text."""

    def __init__(self, code, error):
        super().__init__(error)
        self.code = code
        self.error = error


def handles(req):
    return req.path.startswith(PREFIX)


def json_reply(code, obj, headers=()):
    body = json.dumps(obj, ensure_ascii=False, separators=(",", ":")).encode("utf-8")
    return Reply(code, REASONS.get(code, "Status"),
                 [("Content-Type", "application/json")] + list(headers), body)


def error_reply(code, error, headers=()):
    return json_reply(code, {"code": code, "error": error}, headers)


def status_reply(options):
    """The lb_status mode's answer in place of the endpoint's: code=N, error=TEXT and,
    for 429, reset_in=SECONDS for X-RateLimit-Reset-In (empty: no such header)."""
    code = options.get("code", 500)
    headers = []
    reset_in = options.get("reset_in", DEFAULT_RESET_IN)
    if code == 429 and reset_in != "":
        headers.append(("X-RateLimit-Reset-In", reset_in))
    error = options.get("error", DEFAULT_ERRORS.get(code, "status %d" % code))
    return error_reply(code, error, headers)


def _token(req):
    """The token of `Authorization: Token <token>`, or None."""
    scheme, _, token = (req.header("Authorization") or "").strip().partition(" ")
    return token.strip() if scheme.lower() == "token" else None


def _authorize(cfg, req):
    if req.header("Authorization") is None:
        raise Refused(401, "no Authorization header")
    if _token(req) != cfg["lb_token"]:
        raise Refused(401, "the user token is not valid")


def _document(req):
    try:
        doc = json.loads(req.body.decode("utf-8"))
    except (UnicodeDecodeError, ValueError):
        raise Refused(400, "the body is not valid UTF-8 JSON")
    if not isinstance(doc, dict):
        raise Refused(400, "the body is not a JSON object")
    return doc


def _has_nul(value):
    if isinstance(value, str):
        return "\x00" in value
    if isinstance(value, dict):
        return any(_has_nul(k) or _has_nul(v) for k, v in value.items())
    if isinstance(value, list):
        return any(_has_nul(v) for v in value)
    return False


def _is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def _check_listen(listen, listen_type, refused_text):
    """Raises Refused naming what is wrong with one listen."""
    if not isinstance(listen, dict):
        raise Refused(400, "a listen is not a JSON object")
    allowed = {"track_metadata"} if listen_type == "playing_now" else {"track_metadata",
                                                                       "listened_at"}
    if listen_type == "playing_now" and "listened_at" in listen:
        raise Refused(400, "a playing_now listen must not carry listened_at")
    if listen_type != "playing_now" and not _is_int(listen.get("listened_at")):
        raise Refused(400, "listened_at is missing or not an integer")
    extra = sorted(set(listen) - allowed)
    if extra:
        raise Refused(400, "unexpected key %s beside track_metadata" % extra[0])
    meta = listen.get("track_metadata")
    if not isinstance(meta, dict):
        raise Refused(400, "track_metadata is missing or not an object")
    for key in ("artist_name", "track_name"):
        if not isinstance(meta.get(key), str) or not meta[key]:
            raise Refused(400, "track_metadata.%s is missing or empty" % key)
    info = meta.get("additional_info", {})
    if not isinstance(info, dict):
        raise Refused(400, "additional_info is not an object")
    if "duration_ms" in info and not (_is_int(info["duration_ms"]) and info["duration_ms"] >= 0):
        raise Refused(400, "duration_ms is not a non-negative integer")
    if _has_nul(listen):
        raise Refused(400, "a text holds U+0000")
    compact = json.dumps(listen, ensure_ascii=False, separators=(",", ":"))
    if len(compact.encode("utf-8", "surrogatepass")) > MAX_LISTEN_SIZE:
        raise Refused(400, "a listen is larger than %d bytes" % MAX_LISTEN_SIZE)
    if refused_text and refused_text in meta["track_name"]:
        raise Refused(400, "refused: track_name %s contains %s"
                      % (json.dumps(meta["track_name"], ensure_ascii=False),
                         json.dumps(refused_text, ensure_ascii=False)))


def submit(state, cfg, req, note):
    _authorize(cfg, req)
    doc = _document(req)
    listen_type = doc.get("listen_type")
    if listen_type not in LISTEN_TYPES:
        raise Refused(400, "listen_type must be one of %s" % ", ".join(LISTEN_TYPES))
    note["lb_listen_type"] = listen_type
    payload = doc.get("payload")
    if not isinstance(payload, list) or not payload:
        raise Refused(400, "payload must be a non-empty list")
    note["lb_count"] = len(payload)
    if listen_type != "import" and len(payload) != 1:
        raise Refused(400, "a %s request carries exactly one listen" % listen_type)
    if len(payload) > MAX_LISTENS_PER_REQUEST:
        raise Refused(400, "more than %d listens in one request" % MAX_LISTENS_PER_REQUEST)
    # As the service: the whole body holds no more than its listens' bound, whatever the
    # listens themselves weigh.
    if len(req.body) > len(payload) * MAX_LISTEN_SIZE:
        raise Refused(400, "the body is larger than %d bytes a listen" % MAX_LISTEN_SIZE)
    # One bad listen refuses the whole request; none of it is kept.
    for index, listen in enumerate(payload):
        try:
            _check_listen(listen, listen_type, cfg["lb_refuse"])
        except Refused as exc:
            raise Refused(400, "payload[%d]: %s" % (index, exc.error))
    if listen_type == "playing_now":
        state.lb_play(payload[0]["track_metadata"])
    else:
        state.lb_add_listens(listen_type, payload)
    return json_reply(200, {"status": "ok"})


def clear(state, cfg, req, note):
    _authorize(cfg, req)
    doc = _document(req)
    note["lb_client"] = doc.get("client")
    note["lb_cleared"] = state.lb_clear()
    # Nothing to clear counts as done; an lb_status rule gives the 404 instead.
    return json_reply(200, {"status": "ok"})


def validate(state, cfg, req, note):
    token = _token(req) if req.header("Authorization") is not None else None
    if token is None and req.has_param("token"):  # the older query form
        token = req.param("token").decode("utf-8", "replace")
    note["lb_valid"] = token == cfg["lb_token"]
    if note["lb_valid"]:
        return json_reply(200, {"code": 200, "message": "Token valid.", "valid": True,
                                "user_name": cfg["lb_user"]})
    return json_reply(200, {"code": 200, "message": "Token invalid.", "valid": False})


ENDPOINTS = {SUBMIT: ("POST", submit), CLEAR: ("POST", clear), VALIDATE: ("GET", validate)}


def answer(state, cfg, req):
    note = {}
    route = ENDPOINTS.get(req.path)
    try:
        if route is None:
            raise Refused(404, "no such endpoint")
        method, endpoint = route
        if req.method != method:
            raise Refused(405, "use %s" % method)
        if method == "POST" and req.header("Content-Length") is None:
            raise Refused(411, "a Content-Length is required")
        reply = endpoint(state, cfg, req, note)
    except Refused as exc:
        reply = error_reply(exc.code, exc.error)
        note["lb_error"] = exc.error
    note["lb_code"] = reply.status
    return reply, note
