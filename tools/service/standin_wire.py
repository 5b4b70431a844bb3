"""Bytes on the wire: reading a request head, parsing it, writing replies.

Everything here works on raw bytes and never raises on malformed input: a
request that cannot be parsed comes back with an `error` text instead.
"""

import socket
import struct
import time

MAX_HEAD = 64 * 1024  # a request head beyond this is cut off and refused
HEX = b"0123456789abcdefABCDEF"


def percent_decode(raw):
    """Decodes %XX escapes of a query value (bytes in, bytes out).

    A '%' not followed by two hexadecimal digits stays as it is; '+' is a
    space as in HTML form encoding.
    """
    out = bytearray()
    i = 0
    n = len(raw)
    while i < n:
        c = raw[i]
        if c == 0x25 and i + 2 < n and raw[i + 1] in HEX and raw[i + 2] in HEX:
            out.append(int(raw[i + 1:i + 3], 16))
            i += 3
            continue
        out.append(0x20 if c == 0x2B else c)
        i += 1
    return bytes(out)


def parse_query(query):
    """Splits a raw query (bytes) into an ordered list of (name, value) bytes."""
    pairs = []
    for part in query.split(b"&"):
        if not part:
            continue
        name, _, value = part.partition(b"=")
        pairs.append((percent_decode(name), percent_decode(value)))
    return pairs


def first_param(pairs, name):
    for key, value in pairs:
        if key == name:
            return value
    return None


class Request:
    """One parsed request head. All texts are latin-1 so every byte survives."""

    def __init__(self, raw, peer):
        self.raw = raw
        self.peer = peer
        self.method = ""
        self.target = ""
        self.version = ""
        self.form = ""  # "origin" or "absolute"
        self.host = ""
        self.path = ""
        self.query = b""
        self.params = []
        self.headers = []
        self.body = b""  # what followed the head; read_body completes it
        self.error = None

    def header(self, name):
        lname = name.lower()
        for key, value in self.headers:
            if key.lower() == lname:
                return value
        return None

    def param(self, name):
        return first_param(self.params, name.encode("latin-1"))

    def has_param(self, name):
        return self.param(name) is not None

    def cookies(self):
        """The Cookie header as a dict of name -> value (first one wins)."""
        found = {}
        for part in (self.header("Cookie") or "").split(";"):
            name, sep, value = part.strip().partition("=")
            if sep and name not in found:
                found[name] = value
        return found


def read_head(sock, deadline):
    """Reads up to and including the blank line that ends the head.

    Returns (raw bytes, problem) where problem is None, "timeout",
    "closed" (peer closed before the blank line) or "too large". Bytes that
    came after the blank line stay in raw: they begin the body.
    """
    buf = bytearray()
    while True:
        end = _head_end(buf)
        if end and end <= MAX_HEAD:
            return bytes(buf), None
        if end or len(buf) > MAX_HEAD:
            return bytes(buf[:MAX_HEAD]), "too large"
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return bytes(buf), "timeout"
        sock.settimeout(remaining)
        try:
            chunk = sock.recv(16384)
        except socket.timeout:
            return bytes(buf), "timeout"
        except OSError:
            return bytes(buf), "closed"
        if not chunk:
            return bytes(buf), "closed"
        buf += chunk


def _head_end(buf):
    best = 0
    for sep in (b"\r\n\r\n", b"\n\n"):
        pos = buf.find(sep)
        if pos >= 0 and (best == 0 or pos + len(sep) < best):
            best = pos + len(sep)
    return best


def parse_request(raw, peer):
    req = Request(raw, peer)
    end = _head_end(raw) or len(raw)
    req.body = raw[end:]
    text = raw[:end].decode("latin-1")
    lines = text.replace("\r\n", "\n").split("\n")
    # The plugin inserts a typed security code unencoded, so the target may
    # hold spaces: the method is the first word, the version the last.
    method, _, rest = lines[0].partition(" ")
    target, _, version = rest.rpartition(" ")
    if not method or not target or not version.upper().startswith("HTTP/"):
        req.error = "bad request line"
        return req
    req.method, req.target, req.version = method, target, version
    for line in lines[1:]:
        if not line:
            continue
        name, sep, value = line.partition(":")
        if sep:
            req.headers.append((name.strip(), value.strip()))
    target = req.target
    scheme_end = target.find("://")
    if req.method == "CONNECT":
        # A proxy's tunnel: the target is host:port alone.
        req.form = "authority"
        req.host = target
        return req
    if scheme_end > 0 and not target.startswith("/"):
        req.form = "absolute"
        rest = target[scheme_end + 3:]
        slash = rest.find("/")
        req.host = rest if slash < 0 else rest[:slash]
        target = "/" if slash < 0 else rest[slash:]
    elif target.startswith("/"):
        req.form = "origin"
        req.host = req.header("Host") or ""
    else:
        req.error = "bad request target"
        return req
    path, _, query = target.partition("?")
    req.path = path
    req.query = query.encode("latin-1")
    req.params = parse_query(req.query)
    return req


def read_body(sock, req, deadline, limit):
    """Completes req.body (and req.raw) to its Content-Length.

    Returns None, or the problem: "bad length", "too large", "timeout" or
    "closed". Without a Content-Length the body is what came with the head.
    """
    text = req.header("Content-Length")
    if text is None:
        return None
    if not (text.isascii() and text.isdigit()):
        return "bad length"
    length = int(text)
    if length > limit:
        return "too large"
    if len(req.body) > length:  # nothing is pipelined after a request here
        req.raw = req.raw[:len(req.raw) - len(req.body) + length]
        req.body = req.body[:length]
    if (len(req.body) < length and req.version.upper() == "HTTP/1.1"
            and (req.header("Expect") or "").lower() == "100-continue"):
        send_all(sock, b"HTTP/1.1 100 Continue\r\n\r\n")
    body = bytearray(req.body)
    problem = None
    while len(body) < length:
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            problem = "timeout"
            break
        sock.settimeout(remaining)
        try:
            chunk = sock.recv(min(65536, length - len(body)))
        except socket.timeout:
            problem = "timeout"
            break
        except OSError:
            chunk = b""
        if not chunk:
            problem = "closed"
            break
        body += chunk
    req.raw += bytes(body[len(req.body):])
    req.body = bytes(body)
    return problem


class Reply:
    """A reply before it goes out: status, header lines (in order) and body."""

    def __init__(self, status=200, reason="OK", headers=None, body=b""):
        self.status = status
        self.reason = reason
        self.headers = list(headers or [])
        self.body = body

    def head_bytes(self, length_header=True):
        lines = ["HTTP/1.0 %d %s" % (self.status, self.reason)]
        lines += ["%s: %s" % kv for kv in self.headers]
        if length_header:
            lines.append("Content-Length: %d" % len(self.body))
        lines.append("Connection: close")
        return ("\r\n".join(lines) + "\r\n\r\n").encode("latin-1")

    def to_bytes(self):
        return self.head_bytes() + self.body

    def chunked_bytes(self, sizes):
        """The reply with its body cut into chunks whose sizes cycle through `sizes`."""
        self.headers.append(("Transfer-Encoding", "chunked"))
        out = bytearray(self.head_bytes(length_header=False))
        pos = 0
        i = 0
        while pos < len(self.body):
            size = max(1, sizes[i % len(sizes)])
            piece = self.body[pos:pos + size]
            out += b"%x\r\n" % len(piece) + piece + b"\r\n"
            pos += len(piece)
            i += 1
        out += b"0\r\n\r\n"
        return bytes(out)


def send_all(sock, data):
    """Sends data; returns False when the peer has gone away."""
    try:
        sock.settimeout(30)
        sock.sendall(data)
        return True
    except OSError:
        return False


def drain(sock, seconds):
    """Half-closes and swallows what the peer still sends, so that closing does not
    turn into an RST that destroys the reply before the peer has read it."""
    deadline = time.monotonic() + seconds
    try:
        sock.shutdown(socket.SHUT_WR)
        while time.monotonic() < deadline:
            sock.settimeout(max(0.01, deadline - time.monotonic()))
            if not sock.recv(65536):
                return
    except OSError:
        return


def abort(sock):
    """Closes with RST instead of FIN (SO_LINGER on with a zero timeout)."""
    try:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    except OSError:
        pass
    try:
        sock.close()
    except OSError:
        pass
