"""The site's pages: login (with and without a security code), the code
picture, the profile page and the set/clear activity requests.

Each endpoint takes the parsed request and a copy of the configuration and
returns (Reply, note), where note holds what the request meant (decoded
status text, whether the login succeeded) for the request log.
"""

import html
import os
import time
from email.utils import formatdate

from standin_wire import Reply

HERE = os.path.dirname(os.path.abspath(__file__))
WRONG_CODE_TEXT = "\u041d\u0435\u0432\u0435\u0440\u043d\u044b\u0439 \u043a\u043e\u0434."
PAGE_CHARSET = "cp1251"
YEAR = 365 * 24 * 3600


def _page(title, inner):
    text = ("<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
            "charset=windows-1251\"><title>%s</title></head>\n<body>\n%s\n</body></html>\n"
            % (title, inner))
    return text.encode(PAGE_CHARSET, "xmlcharrefreplace")


def _html_reply(body, status=200, reason="OK"):
    return Reply(status, reason, [("Content-Type", "text/html; charset=windows-1251")], body)


def _cookie_domain(state_cfg, req):
    if state_cfg["domain"]:
        return state_cfg["domain"]
    host = req.host.rsplit(":", 1)[0] if ":" in req.host else req.host
    return "." + (host or "localhost")


def _login_reply(cfg, req, value):
    """A 302 with the remixsid cookie and no body; `value` "deleted" expires it."""
    expires = time.time() + (YEAR if value != "deleted" else -YEAR)
    name = "set-cookie" if cfg["cookie_header"] == "lower" else "Set-Cookie"
    domain = _cookie_domain(cfg, req)
    shape = cfg["cookie_shape"] if value != "deleted" else "normal"
    headers = [
        ("Location", "/profile.php" if value != "deleted" else "/login.php?m=1"),
        (name, "remixchk=5; path=/; domain=%s" % domain),
    ]
    if shape == "renewed":
        headers.append((name, "remixsid=deleted; expires=%s; path=/; domain=%s"
                        % (formatdate(time.time() - YEAR, usegmt=True), domain)))
    if shape == "bare":
        headers += [(name, "remixsid=%s" % value), (name, "remixlang=0; path=/")]
    else:
        headers.append((name, "remixsid=%s; expires=%s; path=/; domain=%s"
                        % (value, formatdate(expires, usegmt=True), domain)))
    return Reply(302, "Found", headers, b"")


def _wrong_login(cfg, req):
    if cfg["wrong_login"] == "deleted":
        return _login_reply(cfg, req, "deleted")
    return _html_reply(_login_form("Wrong e-mail or password."))


def _login_form(message=""):
    return _page("Login", "<p>%s</p>\n<form action=\"login.php\" method=\"post\">"
                 "<input name=\"email\"><input name=\"pass\" type=\"password\"></form>"
                 % html.escape(message))


def _challenge(cfg):
    inner = ("<form action=\"login.php\" method=\"post\">\n"
             "<img src='captcha.php?sid=%s' alt=''>\n"
             "<input type=\"hidden\" id=\"csid\" name=\"csid\" value=%s>\n"
             "<input type=\"text\" name=\"ccode\">\n</form>" % (cfg["sid"], cfg["csid"]))
    return _html_reply(_page("Security code", inner))


def login(cfg, req):
    charset = cfg["login_charset"]
    email = req.param("email") or b""
    password = req.param("pass") or b""
    note = {"email": email.decode(charset, "replace"),
            "password": password.decode(charset, "replace")}
    creds_ok = (email == cfg["email"].encode(charset, "replace")
                and password == cfg["password"].encode(charset, "replace"))
    if req.has_param("try_to_login"):
        note["second_login"] = True
        code_ok = (req.param("csid") == cfg["csid"].encode("latin-1", "replace")
                   and req.param("ccode") == cfg["code"].encode(charset, "replace"))
        if not code_ok:
            note["login"] = "wrong code"
            inner = "<div class=\"error\">%s</div>" % WRONG_CODE_TEXT
            return _html_reply(_page("Security code", inner)), note
    elif cfg["captcha"]:
        note["login"] = "challenge"
        return _challenge(cfg), note
    if not creds_ok:
        note["login"] = "wrong credentials"
        return _wrong_login(cfg, req), note
    note["login"] = "ok"
    return _login_reply(cfg, req, cfg["cookie"]), note


def captcha_picture(size):
    with open(os.path.join(HERE, "captcha_%s.jpg" % size), "rb") as f:
        return f.read()


def captcha(cfg, req):
    body = captcha_picture(cfg["captcha_size"])
    note = {"sid": (req.param("sid") or b"").decode("latin-1")}
    return Reply(200, "OK", [("Content-Type", "image/jpeg")], body), note


def _logged_in(cfg, req):
    return bool(cfg["cookie"]) and req.cookies().get("remixsid") == cfg["cookie"]


def _profile_page(cfg, status):
    hash_input = ("<input type='hidden' name='activityhash' value='%s'>" % cfg["hash"]
                  if cfg["profile_hash"] else "")
    inner = ("<a href=\"login.php?op=logout\">Log out</a>\n<form>%s</form>\n"
             "<div id=\"activity_text\">%s</div>" % (hash_input, html.escape(status or "")))
    return _html_reply(_page("Profile", inner))


def profile(cfg, req, state):
    """The profile page and the set/clear activity requests on the same path."""
    if not _logged_in(cfg, req):
        return _html_reply(_login_form()), {"logged_in": False}
    note = {"logged_in": True}
    if req.has_param("setactivity") or req.has_param("clearactivity"):
        sent_hash = req.param("activityhash")
        note["hash_ok"] = sent_hash == cfg["hash"].encode("latin-1", "replace")
        if not note["hash_ok"]:
            return Reply(200, "OK", [], b""), note
        if req.has_param("setactivity"):
            raw = req.param("setactivity")
            text = raw.decode("utf-8", "replace")
            note["status_text"] = text
            state.set_status(text, raw)
        else:
            note["status_cleared"] = True
            state.clear_status()
        return Reply(200, "OK", [("Content-Type", "text/plain")], b"OK"), note
    return _profile_page(cfg, state.status_report()["status"]), note


def answer(state, cfg, req):
    if req.path == "/login.php":
        return login(cfg, req)
    if req.path == "/captcha.php":
        return captcha(cfg, req)
    if req.path == "/profile.php":
        return profile(cfg, req, state)
    return _html_reply(_page("Not found", "<p>No such page.</p>"), 404, "Not Found"), {}
