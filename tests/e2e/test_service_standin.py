"""Tests of the service stand-in, spoken to over raw sockets the way the plugin does."""

import base64
import hashlib
import json
import os
import select
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse

from harness.paths import SERVICE_SCRIPT as SCRIPT
from harness.service import Service, kinds, lb_json
from service import standin_wire

AGENT = "Opera/9.20 (Windows NT 5.1; U; ru)"
WRONG_CODE = bytes.fromhex("CDE5E2E5F0EDFBE920EAEEE42E")
LOGGED_IN = b"login.php?op=logout"


def url_encode(data):
    """Every byte as %XX, upper case, as the plugin encodes query values."""
    return "".join("%%%02X" % b for b in data)


def extract_between(text, key, start, end):
    """The plugin's marker search, minus the <br> and blank handling."""
    pos = text.find(key)
    if pos < 0:
        return None
    rest = text[pos:]
    pos = rest.find(start)
    if pos < 0:
        return None
    rest = rest[pos + len(start):]
    pos = rest.find(end)
    return None if pos < 0 else rest[:pos]


def plugin_request(target, cookie=None, host="vk.test"):
    lines = ["GET %s HTTP/1.0" % target, "Host: " + host]
    if cookie is not None:
        lines.append("Cookie: %s; remixlang=0" % cookie)
    lines.append("User-Agent: " + AGENT)
    return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")


def split_reply(data):
    head, sep, body = data.partition(b"\r\n\r\n")
    if not sep:
        return None, [], data
    lines = head.decode("latin-1").split("\r\n")
    headers = [tuple(s.strip() for s in line.split(":", 1)) for line in lines[1:]]
    return lines[0], headers, body


def header(headers, name):
    return [v for k, v in headers if k.lower() == name.lower()]


def dechunk(body):
    """Returns (chunk sizes, joined data) of a chunked body."""
    sizes, data = [], b""
    for _ in range(100000):
        line, _, body = body.partition(b"\r\n")
        size = int(line, 16)
        if size == 0:
            return sizes, data
        sizes.append(size)
        data += body[:size]
        body = body[size + 2:]
    raise AssertionError("chunked body does not end")


def jpeg_frame(data):
    """(frame marker, width, height) of the first SOF segment of a JPEG."""
    pos = 2
    while pos + 4 <= len(data):
        if data[pos] != 0xFF:
            raise AssertionError("no marker at %d" % pos)
        marker = data[pos + 1]
        length = struct.unpack(">H", data[pos + 2:pos + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            height, width = struct.unpack(">HH", data[pos + 5:pos + 9])
            return marker, width, height
        pos += 2 + length
    raise AssertionError("no frame header")


class Standin(Service):
    """The stand-in on a free loopback port, spoken to over raw sockets as the plugin
    speaks."""

    def __init__(self, *args):
        fd, self.log_path = tempfile.mkstemp(suffix=".jsonl")
        os.close(fd)
        super().__init__(args=["--hang-limit", "20", "--read-timeout", "3", *args],
                         log_path=self.log_path)
        self.host = "127.0.0.1"

    def stop(self, timeout=10):
        super().stop(timeout)
        if os.path.exists(self.log_path):
            os.unlink(self.log_path)

    def exchange(self, raw, timeout=5.0):
        """Sends raw bytes and reads until the server closes (or the time is up)."""
        with socket.create_connection((self.host, self.port), timeout=timeout) as s:
            s.sendall(raw)
            return read_all(s, timeout)

    def get(self, target, cookie=None, **kw):
        return split_reply(self.exchange(plugin_request(target, cookie), **kw))


def read_all(sock, timeout):
    """Reads until EOF, reset or time-out; bounded by the deadline."""
    sock.settimeout(0.2)
    data = b""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            chunk = sock.recv(1 << 20)
        except socket.timeout:
            continue
        except ConnectionResetError:
            break
        if not chunk:
            break
        data += chunk
    return data


class StandinCase(unittest.TestCase):
    args = ()

    @classmethod
    def setUpClass(cls):
        cls.svc = Standin(*cls.args)

    @classmethod
    def tearDownClass(cls):
        cls.svc.stop()

    def setUp(self):
        self.svc.control("reset")

    def login_target(self, email=b"user@example.com", password=b"secret"):
        return "/login.php?email=%s&pass=%s" % (url_encode(email), url_encode(password))

    def cookie(self):
        return "remixsid=" + self.svc.control("config")["config"]["cookie"]


class LoginTest(StandinCase):
    def test_correct_credentials_give_cookie_in_302_without_body(self):
        status, headers, body = self.svc.get(self.login_target())
        self.assertTrue(status.startswith("HTTP/1.0 302"))
        self.assertEqual(body, b"")
        text = "".join("%s: %s\r\n" % h for h in headers)
        self.assertIn("Set-Cookie: remixsid", text)
        self.assertEqual(extract_between(text, "remixsid", "=", ";"), "5f2e8a91c04b")
        cookie = [v for v in header(headers, "Set-Cookie") if v.startswith("remixsid=")][0]
        self.assertRegex(cookie, r"; expires=\w{3}, \d\d \w{3} \d{4} [\d:]+ GMT; path=/; "
                                 r"domain=\.vk\.test$")

    def test_wrong_credentials(self):
        cases = [("deleted", "deleted"), ("none", None)]
        for style, expected in cases:
            with self.subTest(style=style):
                self.svc.control("config", wrong_login=style)
                _, headers, _ = self.svc.get(self.login_target(password=b"wrong"))
                text = "".join("%s: %s\r\n" % h for h in headers)
                if expected is None:
                    self.assertNotIn("remixsid", text)
                else:
                    self.assertEqual(extract_between(text, "remixsid", "=", ";"), expected)

    def test_lower_case_header_name(self):
        self.svc.control("config", cookie_header="lower")
        data = self.svc.exchange(plugin_request(self.login_target()))
        self.assertIn(b"set-cookie: remixsid=5f2e8a91c04b;", data)
        self.assertNotIn(b"Set-Cookie: remixsid", data)

    def test_credentials_compared_as_code_page_bytes(self):
        password = "\u043f\u0430\u0440\u043e\u043b\u044c \u044f"  # Cyrillic, with a space
        self.svc.control("config", email="a b@c.d", password=password)
        for charset, accepted in (("cp1251", True), ("utf-8", False)):
            with self.subTest(charset=charset):
                target = self.login_target(b"a b@c.d", password.encode(charset))
                data = self.svc.exchange(plugin_request(target))
                self.assertEqual(b"remixsid=5f2e8a91c04b;" in data, accepted)
        self.assertEqual(self.svc.log()[0]["password"], password)

    def test_security_code_challenge_and_answers(self):
        self.svc.control("config", captcha=1, sid="424242", csid='"77"', code="48 21")
        _, headers, body = self.svc.get(self.login_target())
        self.assertFalse(header(headers, "Set-Cookie"))
        page = body.decode("cp1251")
        self.assertIn('id="csid" name="csid"', page)
        sid = extract_between(page, "captcha.php?sid", "=", "'")
        csid = extract_between(page, 'name="csid"', "value=", ">")
        self.assertEqual((sid, csid), ("424242", '"77"'))

        def second(code, password=b"secret"):
            target = ("/login.php?success_url=&fail_url=&try_to_login=1&email=%s&pass=%s"
                      "&csid=%s&ccode=%s" % (url_encode(b"user@example.com"),
                                             url_encode(password), csid, code))
            return self.svc.exchange(plugin_request(target))

        # The code goes out unencoded, spaces and all.
        cases = [("48 21", b"secret", b"remixsid=5f2e8a91c04b;", WRONG_CODE),
                 ("4822", b"secret", WRONG_CODE, b"remixsid="),
                 ("48 21", b"bad", b"remixsid=deleted;", WRONG_CODE)]
        for code, password, present, absent in cases:
            with self.subTest(code=code, password=password):
                reply = second(code, password)
                self.assertIn(present, reply)
                self.assertNotIn(absent, reply)


class CaptchaPictureTest(StandinCase):
    def test_each_size_is_a_baseline_jpeg(self):
        for size in ("130x50", "200x70", "100x30"):
            with self.subTest(size=size):
                self.svc.control("config", captcha_size=size)
                status, headers, body = self.svc.get("/captcha.php?sid=123456", "remixsid=x")
                self.assertIn(" 200 ", status)
                self.assertEqual(header(headers, "Content-Type"), ["image/jpeg"])
                self.assertEqual(body[:2], b"\xff\xd8")
                self.assertEqual(body[-2:], b"\xff\xd9")
                marker, width, height = jpeg_frame(body)
                self.assertEqual(marker, 0xC0)
                self.assertEqual("%dx%d" % (width, height), size)

    def test_unknown_size_is_refused(self):
        reply = self.svc.control("config", captcha_size="1x1")
        self.assertIn("error", reply)
        self.assertEqual(self.svc.control("config")["config"]["captcha_size"], "130x50")


class ActivityTest(StandinCase):
    def profile_hash(self):
        _, _, body = self.svc.get("/profile.php", self.cookie())
        return extract_between(body.decode("cp1251"), "activityhash", "value='", "'>")

    def set_activity(self, text, hash_value):
        target = "/profile.php?setactivity=%s&activityhash=%s" % (
            url_encode(text.encode("utf-8")), url_encode(hash_value.encode()))
        return self.svc.get(target, self.cookie())[2]

    def status(self):
        return self.svc.control("status")["status"]

    def test_profile_page_markers_depend_on_cookie(self):
        cases = [(None, False), ("remixsid=wrong", False), ("remixsid=5f2e8a91c04b", True)]
        for cookie, logged_in in cases:
            with self.subTest(cookie=cookie):
                _, _, body = self.svc.get("/profile.php", cookie)
                self.assertEqual(LOGGED_IN in body, logged_in)
                self.assertEqual(b"activityhash" in body, logged_in)
        self.assertEqual(self.profile_hash(), "a1b2c3d4e5")
        self.svc.control("config", profile_hash=0)
        self.assertIsNone(self.profile_hash())

    def test_set_and_clear_activity(self):
        text = "\u041a\u0438\u043d\u043e - \u0413\u0440\u0443\u043f\u043f\u0430 & 100%"
        self.assertEqual(self.set_activity(text, self.profile_hash()), b"OK")
        self.assertEqual(self.status(), text)
        self.assertEqual(self.svc.log()[-1]["status_text"], text)
        _, _, page = self.svc.get("/profile.php", self.cookie())
        self.assertIn("\u041a\u0438\u043d\u043e".encode("cp1251"), page)
        target = "/profile.php?clearactivity=1&activityhash=" + url_encode(b"a1b2c3d4e5")
        self.assertEqual(self.svc.get(target, self.cookie())[2], b"OK")
        self.assertIsNone(self.status())
        actions = [h["action"] for h in self.svc.control("status")["history"]]
        self.assertEqual(actions, ["set", "clear"])

    def test_stale_hash_gives_empty_body_until_refetched(self):
        old = self.profile_hash()
        new = self.svc.control("rotate-hash")["hash"]
        self.assertNotEqual(old, new)
        self.assertEqual(self.set_activity("Hello", old), b"")
        self.assertIsNone(self.status())
        self.assertEqual(self.profile_hash(), new)
        self.assertEqual(self.set_activity("Hello", new), b"OK")
        self.assertEqual(self.status(), "Hello")

    def test_undecodable_status_is_kept_with_its_bytes(self):
        target = "/profile.php?setactivity=%FF%4&activityhash=" + url_encode(b"a1b2c3d4e5")
        self.assertEqual(self.svc.get(target, self.cookie())[2], b"OK")
        entry = self.svc.control("status")["history"][-1]
        self.assertEqual(entry["hex"], "ff2534")
        self.assertEqual(entry["text"], "\ufffd%4")


class RequestLogTest(StandinCase):
    def test_raw_bytes_and_parsed_fields_for_both_request_forms(self):
        cases = [("/profile.php?a=%41", "origin", "vk.test"),
                 ("http://vk.test:80/profile.php?a=%41", "absolute", "vk.test:80")]
        for target, form, host in cases:
            with self.subTest(form=form):
                self.svc.control("reset-log")
                raw = plugin_request(target, "remixsid=5f2e8a91c04b")
                _, _, body = split_reply(self.svc.exchange(raw))
                self.assertIn(LOGGED_IN, body)
                [entry] = self.svc.log()
                self.assertEqual(entry["raw"].encode("latin-1"), raw)
                self.assertEqual(base64.b64decode(entry["raw_b64"]), raw)
                self.assertEqual((entry["method"], entry["target"], entry["form"]),
                                 ("GET", target, form))
                self.assertEqual((entry["host"], entry["path"]), (host, "/profile.php"))
                self.assertEqual(entry["params"], [["a", "A"]])
                self.assertEqual(entry["headers"][2], ["User-Agent", AGENT])

    def test_log_file_holds_every_request_even_after_reset(self):
        for i in range(3):
            self.svc.get("/profile.php?n=%d" % i)
        self.svc.control("reset-log")
        self.assertEqual(self.svc.log(), [])
        with open(self.svc.log_path, encoding="utf-8") as f:
            lines = [json.loads(line) for line in f]
        self.assertEqual([e["query"] for e in lines[-3:]], ["n=0", "n=1", "n=2"])

    def test_malformed_requests_are_answered_and_logged(self):
        cases = [(b"\x00\xff garbage\r\n\r\n", b"HTTP/1.0 400"),
                 (b"GET nothing HTTP/1.0\r\n\r\n", b"HTTP/1.0 400"),
                 (b"GET /" + b"a" * 70000 + b" HTTP/1.0\r\n\r\n", b"HTTP/1.0 431")]
        for raw, status in cases:
            with self.subTest(raw=raw[:20]):
                self.assertTrue(self.svc.exchange(raw).startswith(status))
        self.assertEqual(len(self.svc.log()), 3)
        with socket.create_connection((self.svc.host, self.svc.port), timeout=5) as s:
            s.sendall(b"GET /profile.php HTTP/1.0\r\nHost: x\r\n")  # no blank line
        self.assertIn(LOGGED_IN, self.svc.get("/profile.php", self.cookie())[2])


class MisbehaviourTest(StandinCase):
    def add(self, **rule):
        reply = self.svc.control("mode", **rule)
        self.assertNotIn("error", reply)

    def test_modes_that_replace_the_reply(self):
        cases = [
            ("garbage", lambda d: not d.startswith(b"HTTP/") and len(d) > 0),
            ("zero_length", lambda d: split_reply(d)[2] == b""
             and header(split_reply(d)[1], "Content-Length") == ["0"]),
            ("empty", lambda d: split_reply(d)[2] == b""
             and not header(split_reply(d)[1], "Content-Length")),
            ("refuse", lambda d: d == b""),
            ("page", lambda d: d.startswith(b"HTTP/1.0 400 ")
             and b"<title>400 The plain HTTP request was sent to HTTPS port</title>" in d),
        ]
        for mode, check in cases:
            with self.subTest(mode=mode):
                self.add(mode=mode, path="/profile.php")
                data = self.svc.exchange(plugin_request("/profile.php", self.cookie()))
                self.assertTrue(check(data), data[:200])
                self.assertEqual(self.svc.log()[-1]["mode"], mode)
                after = self.svc.get("/profile.php", self.cookie())[2]
                self.assertIn(LOGGED_IN, after)

    def test_refuse_before_reading(self):
        self.add(mode="refuse")
        with socket.create_connection((self.svc.host, self.svc.port), timeout=5) as s:
            self.assertEqual(read_all(s, 3), b"")
        self.assertEqual(self.svc.log()[-1]["raw"], "")

    def test_chunked_reply_cycles_chunk_sizes(self):
        self.add(mode="chunked", path="/profile.php")
        status, headers, body = self.svc.get("/profile.php", self.cookie())
        self.assertEqual(header(headers, "Transfer-Encoding"), ["chunked"])
        self.assertFalse(header(headers, "Content-Length"))
        sizes, data = dechunk(body)
        self.assertEqual(sizes[:4], [3, 2, 3, 2])
        self.assertIn(LOGGED_IN, data)
        self.assertIn(b"value='a1b2c3d4e5'>", data)

    def test_reset_sends_part_of_the_body_then_rst(self):
        self.add(mode="reset", path="/profile.php", bytes=10)
        with socket.create_connection((self.svc.host, self.svc.port), timeout=5) as s:
            s.sendall(plugin_request("/profile.php", self.cookie()))
            data = b""
            with self.assertRaises(ConnectionResetError):
                for _ in range(100):
                    chunk = s.recv(65536)
                    self.assertTrue(chunk, "closed with FIN instead of RST")
                    data += chunk
        _, headers, body = split_reply(data)
        self.assertEqual(len(body), 10)
        self.assertGreater(int(header(headers, "Content-Length")[0]), 10)

    def test_hang_holds_until_client_closes(self):
        self.add(mode="hang")
        with socket.create_connection((self.svc.host, self.svc.port), timeout=5) as s:
            s.sendall(plugin_request("/profile.php"))
            self.assertEqual(select.select([s], [], [], 1.5)[0], [])
        self.assertEqual(self.svc.log()[-1]["mode"], "hang")
        self.assertIn(b"HTTP/1.0 200", self.svc.exchange(plugin_request("/profile.php")))

    def test_delay_huge_and_status(self):
        self.add(mode="delay", seconds=1)
        began = time.monotonic()
        self.assertIn(LOGGED_IN, self.svc.get("/profile.php", self.cookie())[2])
        self.assertGreaterEqual(time.monotonic() - began, 1.0)

        # One byte at a time: the first byte at once, the second only after the pause.
        self.add(mode="trickle", seconds=1)
        with socket.create_connection((self.svc.host, self.svc.port), timeout=5) as s:
            s.sendall(plugin_request("/profile.php", self.cookie()))
            self.assertEqual(s.recv(100), b"H")
            began = time.monotonic()
            self.assertEqual(s.recv(100), b"T")
            self.assertGreaterEqual(time.monotonic() - began, 0.8)
        self.assertEqual(self.svc.log()[-1]["mode"], "trickle")

        self.add(mode="huge")
        _, headers, body = self.svc.get("/profile.php", self.cookie(), timeout=20)
        self.assertEqual(len(body), 20 * 1024 * 1024)
        self.assertEqual(header(headers, "Content-Length"), [str(len(body))])
        self.assertIn(LOGGED_IN, body[:4096])

        self.add(mode="status", code=404)
        status, _, body = self.svc.get("/profile.php", self.cookie())
        self.assertTrue(status.startswith("HTTP/1.0 404"))
        self.assertIn(LOGGED_IN, body)

    def test_count_and_filters_select_requests(self):
        self.add(mode="empty", path="/profile.php", param="setactivity", count=2)
        target = "/profile.php?setactivity=%48%69&activityhash=" + url_encode(b"a1b2c3d4e5")
        self.assertIn(LOGGED_IN, self.svc.get("/profile.php", self.cookie())[2])
        self.assertEqual(self.svc.get(target, self.cookie())[2], b"")
        self.assertEqual(self.svc.get(target, self.cookie())[2], b"")
        self.assertIsNone(self.svc.control("status")["status"])
        self.assertEqual(self.svc.get(target, self.cookie())[2], b"OK")
        self.assertEqual(self.svc.control("status")["status"], "Hi")
        self.assertEqual(self.svc.control("modes")["rules"], [])
        # The host, its port aside and in any case, as the Host line or the absolute form
        # names it.
        self.add(mode="empty", host="VK.test", count=-1)
        self.add(mode="status", code=404, host="other.test", count=-1)
        self.assertEqual(self.svc.get(target, self.cookie())[2], b"")
        absolute = plugin_request("http://other.test:80" + target, self.cookie(), "x.test")
        self.assertTrue(split_reply(self.svc.exchange(absolute))[0].startswith("HTTP/1.0 404"))

    def test_bad_rules_are_refused(self):
        for rule in ({"mode": "explode"}, {"mode": "delay", "seconds": "soon"},
                     {"mode": "hang", "colour": "red"}, {"mode": "hang", "count": "x"}):
            with self.subTest(rule=rule):
                self.assertIn("error", self.svc.control("mode", **rule))
        self.assertEqual(self.svc.control("modes")["rules"], [])


class StartupOptionsTest(StandinCase):
    args = ("--captcha", "--code", "1111", "--mode", "mode=garbage&count=-1&path=/x.php")

    def test_options_apply_and_survive_reset(self):
        config = self.svc.control("config")["config"]
        self.assertEqual((config["captcha"], config["code"]), (True, "1111"))
        for _ in range(2):
            self.assertFalse(self.svc.exchange(plugin_request("/x.php")).startswith(b"HTTP/"))
        self.assertEqual(self.svc.control("modes")["rules"][0]["count"], -1)

    def test_help_and_bad_options(self):
        out = subprocess.run([sys.executable, SCRIPT, "--help"], capture_output=True,
                             timeout=10, text=True).stdout
        for word in ("refuse", "hang", "reset", "garbage", "chunked", "zero_length", "empty",
                     "huge", "delay", "trickle", "rotate-hash", "--captcha-size", "--log",
                     "lb_status", "--lb-token", "/1/submit-listens"):
            self.assertIn(word, out)
        bad = subprocess.run([sys.executable, SCRIPT, "--captcha-size", "9x9"],
                             capture_output=True, timeout=10)
        self.assertEqual(bad.returncode, 2)


def listen(track, at=None):
    out = {"track_metadata": {"artist_name": "Кино", "track_name": track,
                              "additional_info": {"duration_ms": 40000}}}
    return out if at is None else dict(out, listened_at=at)


class ListenBrainzTest(StandinCase):
    def call(self, method, path, doc=None, token="lb-test-token", head="HTTP/1.0\r\n"):
        """Head and JSON body in two writes, as a client may; (status, headers, answer)."""
        body = json.dumps(doc).encode("utf-8") if doc is not None else b""
        head = "%s %s %sContent-Length: %d\r\n%s\r\n" % (
            method, path, head, len(body), "" if token is None else "Authorization: Token "
            + token + "\r\n")
        with socket.create_connection((self.svc.host, self.svc.port), timeout=5) as s:
            s.sendall(head.encode("latin-1"))
            time.sleep(0.05)
            s.sendall(body)
            data = read_all(s, 5)
        if data.startswith(b"HTTP/1.1 100 "):  # the interim answer to Expect: 100-continue
            data = data.partition(b"\r\n\r\n")[2]
        status, headers, answer = split_reply(data)
        return int(status.split()[1]), headers, json.loads(answer.decode("utf-8"))

    def submit(self, listen_type, listens, **kw):
        doc = {"listen_type": listen_type, "payload": listens}
        return self.call("POST", "/1/submit-listens", doc, **kw)

    def test_playing_now_clear_and_token_check(self):
        code, headers, answer = self.submit("playing_now", [listen("Группа крови")])
        self.assertEqual((code, answer), (200, {"status": "ok"}))
        self.assertEqual(header(headers, "Content-Type"), ["application/json"])
        self.assertEqual(self.svc.lb_playing_now()["track_name"], "Группа крови")
        self.assertEqual(lb_json(self.svc.log()[-1])["payload"], [listen("Группа крови")])
        self.assertEqual(self.call("POST", "/1/playing-now/delete", {"client": "Nimbo"})[2],
                         {"status": "ok"})
        self.assertIsNone(self.svc.lb_playing_now())
        valid = {"code": 200, "message": "Token valid.", "valid": True,
                 "user_name": "nimbo-listener"}
        self.assertEqual(self.call("GET", "/1/validate-token")[2], valid)
        self.assertEqual(self.call("GET", "/1/validate-token", token="wrong")[2],
                         {"code": 200, "message": "Token invalid.", "valid": False})
        self.assertEqual(kinds(self.svc.log()),
                         ["lb_playing_now", "lb_clear", "lb_validate", "lb_validate"])

    def test_refusals_keep_nothing_and_good_listens_keep_order(self):
        self.svc.control("config", lb_refuse="BAD")
        cases = [("playing_now", [listen("A")], "wrong", 401),
                 ("playing_now", [listen("A", at=1)], "lb-test-token", 400),
                 ("import", [listen("", at=1)], "lb-test-token", 400),
                 ("import", [listen("A", at=1), listen("a BAD one", at=2)], "lb-test-token", 400)]
        for listen_type, listens, token, status in cases:
            with self.subTest(listens=listens, token=token):
                code, _, answer = self.submit(listen_type, listens, token=token)
                self.assertEqual((code, answer["code"]), (status, status))
        self.assertIn("a BAD one", answer["error"])
        self.assertEqual((self.svc.lb_listens(), self.svc.lb_playing_now()), ([], None))
        self.submit("import", [listen("A", at=1), listen("B", at=2)],
                    head="HTTP/1.1\r\nExpect: 100-continue\r\n")
        self.submit("single", [listen("C", at=3)])
        self.assertEqual([(x["listen_type"], x["listened_at"], x["track_metadata"]["track_name"])
                          for x in self.svc.lb_listens()],
                         [("import", 1, "A"), ("import", 2, "B"), ("single", 3, "C")])

    def test_an_import_takes_up_to_1000_listens_within_their_bound(self):
        many = [listen("T%d" % n, at=n) for n in range(1001)]
        # The second: a listen within its bound whose body, envelope included, is not.
        for listens in (many, [listen("x" * 10110, at=1)]):
            self.assertEqual(self.submit("import", listens)[2]["code"], 400)
        self.assertEqual(self.svc.lb_listens(), [])
        self.assertEqual(self.submit("import", many[:1000])[2], {"status": "ok"})
        self.assertEqual(len(self.svc.lb_listens()), 1000)

    def test_rate_limit_mode(self):
        self.svc.lb_status(429, reset_in="7")
        code, headers, answer = self.submit("playing_now", [listen("A")])
        self.assertEqual((code, answer["code"]), (429, 429))
        self.assertEqual(header(headers, "X-RateLimit-Reset-In"), ["7"])
        self.assertEqual(self.submit("playing_now", [listen("A")])[0], 200)


def lfm_signed(params, secret="fedcba9876543210fedcba9876543210"):
    """`params` with api_key and api_sig, signed as the Last.fm 2.0 interface asks."""
    params = dict(params, api_key="0123456789abcdef0123456789abcdef")
    base = "".join(k + v for k, v in sorted(params.items()) if k not in ("format", "api_sig"))
    return dict(params, api_sig=hashlib.md5((base + secret).encode("utf-8")).hexdigest())


class LastFmTest(StandinCase):
    def call(self, params, secret="fedcba9876543210fedcba9876543210", path="/2.0/"):
        """A signed form POST; (HTTP status, the reply's body)."""
        body = urllib.parse.urlencode(lfm_signed(params, secret)).encode("utf-8")
        head = ("POST %s HTTP/1.0\r\nHost: libre.test\r\nContent-Type: application/"
                "x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n" % (path, len(body)))
        status, _, answer = split_reply(self.svc.exchange(head.encode("latin-1") + body))
        return int(status.split()[1]), answer

    def json_call(self, method, **params):
        code, answer = self.call(dict(params, method=method, format="json"))
        return code, json.loads(answer.decode("utf-8"))

    def test_token_session_playing_now_and_scrobbles(self):
        token = self.json_call("auth.getToken")[1]["token"]
        self.assertRegex(token, "^[0-9a-f]{32}$")
        self.assertEqual(self.json_call("auth.getSession", token=token),
                         (403, {"error": 14, "message": "This token has not been authorized"}))
        self.svc.configure(lfm_auth_delay="0")
        session = self.json_call("auth.getSession", token=token)[1]["session"]
        self.assertEqual(session["name"], "nimbo-scrobbler")
        self.assertEqual(self.json_call("auth.getSession", token=token)[1]["error"], 4)
        sk = session["key"]
        playing = self.json_call("track.updateNowPlaying", artist="Кино", track="Звезда", sk=sk)
        self.assertEqual(playing[1]["nowplaying"]["ignoredMessage"], {"code": "0", "#text": ""})
        self.svc.configure(lfm_ignore="BAD:2")
        one = self.json_call("track.scrobble", sk=sk, **{"artist[0]": "A", "track[0]": "T1",
                                                          "timestamp[0]": "100"})[1]["scrobbles"]
        self.assertEqual(one["scrobble"]["timestamp"], "100")  # one: an object
        two = {"artist[0]": "A", "track[0]": "a BAD one", "timestamp[0]": "101",
               "artist[1]": "A", "track[1]": "T2", "timestamp[1]": "102", "album[1]": "Alb"}
        two = self.json_call("track.scrobble", sk=sk, **two)[1]["scrobbles"]
        self.assertEqual(two["@attr"], {"accepted": 1, "ignored": 1})
        self.assertEqual([s["ignoredMessage"]["code"] for s in two["scrobble"]], ["2", "0"])
        self.assertEqual(self.svc.lfm_now_playing()["track"], "Звезда")
        self.assertEqual([(s["track"], s.get("album")) for s in self.svc.lfm_scrobbles()],
                         [("T1", None), ("T2", "Alb")])
        self.assertEqual(["T1", "T2"],
                         [s["track"] for s in self.svc.lfm_scrobbles_to("libre.test")])
        self.assertEqual([], self.svc.lfm_scrobbles_to("127.0.0.1"))
        self.assertEqual(kinds(self.svc.log())[-3:], ["lfm_track.updateNowPlaying",
                                                      "lfm_track.scrobble", "lfm_track.scrobble"])
        self.assertEqual([e.get("lfm_count") for e in self.svc.log()][-2:], [1, 2])
        self.assertEqual(self.json_call("track.scrobble", sk="wrong", artist="A", track="T",
                                        timestamp="1")[1]["error"], 9)


class PercentDecodeTest(unittest.TestCase):
    def test_escapes(self):
        cases = [(b"%41%62", b"Ab"), (b"%c3%A9", b"\xc3\xa9"), (b"%4", b"%4"), (b"%", b"%"),
                 (b"%zz%", b"%zz%"), (b"a+b", b"a b"), (b"%%41", b"%A"), (b"", b"")]
        for raw, expected in cases:
            with self.subTest(raw=raw):
                self.assertEqual(standin_wire.percent_decode(raw), expected)

    def test_query_pairs_keep_order_and_first_wins(self):
        pairs = standin_wire.parse_query(b"a=1&&b&a=2&c=%3D")
        self.assertEqual(pairs, [(b"a", b"1"), (b"b", b""), (b"a", b"2"), (b"c", b"=")])
        self.assertEqual(standin_wire.first_param(pairs, b"a"), b"1")


if __name__ == "__main__":
    unittest.main()
