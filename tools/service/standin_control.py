"""The control channel: GET requests under /__control/ on the service port.

Tests use it to read the request log and the published status and to change
the stand-in's behaviour between requests. Control requests are neither
logged nor subject to misbehaviour rules. Every answer is a JSON object.
"""

import json

from standin_state import ConfigError, make_rule
from standin_wire import Reply

PREFIX = "/__control/"

ENDPOINTS = {
    "log": "the request log as {\"entries\": [...]}; ?since=SEQ gives only later entries",
    "reset-log": "empty the in-memory request log (the --log file keeps everything)",
    "status": "{\"status\": current text or null, \"history\": [...], \"lb_playing_now\":"
              " track_metadata or null, \"lb_listens\": [accepted listens with listen_type],"
              " \"lfm_now_playing\": fields or null, \"lfm_scrobbles\": [accepted, in order]}",
    "config": "show the configuration; ?name=value&... changes it first (all or nothing)",
    "rotate-hash": "replace the activity hash with a new random one; returns it",
    "mode": "add a misbehaviour rule: ?mode=M&count=N&path=P&param=Q&<options>",
    "modes": "list the pending misbehaviour rules",
    "clear-modes": "drop all misbehaviour rules",
    "reset": "back to the start-up configuration; drop rules, log, status, ListenBrainz's and"
             " Last.fm's",
    "shutdown": "stop the server",
}


def is_control(req):
    return req.path.startswith(PREFIX)


def is_shutdown(req):
    return req.path == PREFIX + "shutdown"


def _json(obj, status=200, reason="OK"):
    body = json.dumps(obj).encode("utf-8")
    return Reply(status, reason, [("Content-Type", "application/json")], body)


def _texts(req):
    values = {}
    for key, value in req.params:
        values.setdefault(key.decode("utf-8", "replace"), value.decode("utf-8", "replace"))
    return values


def handle(server, req):
    """Returns the reply to one control request."""
    state = server.state
    name = req.path[len(PREFIX):]
    values = _texts(req)
    try:
        if name == "log":
            since = int(values.get("since", "0") or 0)
            return _json({"entries": state.log_since(since)})
        if name == "reset-log":
            state.reset_log()
            return _json({"ok": True})
        if name == "status":
            return _json(state.status_report())
        if name == "config":
            return _json({"config": state.configure(values)})
        if name == "rotate-hash":
            return _json({"hash": state.rotate_hash()})
        if name == "mode":
            return _json({"rules": state.add_rule(make_rule(values))})
        if name == "modes":
            return _json({"rules": state.list_rules()})
        if name == "clear-modes":
            state.clear_rules()
            return _json({"rules": []})
        if name == "reset":
            server.reset_state()
            return _json({"ok": True})
        if name == "shutdown":
            return _json({"ok": True})  # the caller stops the server once this is sent
    except (ConfigError, ValueError) as exc:
        return _json({"error": str(exc)}, 400, "Bad Request")
    return _json({"error": "unknown control endpoint %r" % name}, 404, "Not Found")
