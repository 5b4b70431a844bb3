"""Answering one site request, well or badly as the matching rule says."""

import select
import socket
import threading
import time

import standin_lastfm
import standin_listenbrainz
import standin_site
from standin_wire import Reply, abort, send_all

DEFAULT_HUGE = 20 * 1024 * 1024
GARBAGE = b"this reply has no status line\r\n\x00\xff\xfe garbage <html>\r\n\r\nmore\n"
FILLER = b"<!-- padding -->" * 4096  # 64 KiB
PAGE_TITLE = "400 The plain HTTP request was sent to HTTPS port"


def page_reply(options):
    """What a web server in front of the service answers by itself: HTML, not JSON."""
    code = options.get("code", 400)
    title = options.get("title", PAGE_TITLE).encode("utf-8")
    body = (b"<html>\r\n<head><title>" + title + b"</title></head>\r\n<body>\r\n<center><h1>"
            + title + b"</h1></center>\r\n</body>\r\n</html>\r\n")
    return Reply(code, "Bad Request" if code == 400 else "Status", [("Content-Type", "text/html")],
                 body)


def wait_for_close(sock, limit, stopping):
    """Holds the connection until the peer closes it, `limit` passes or the server stops."""
    deadline = time.monotonic() + limit
    while not stopping.is_set() and time.monotonic() < deadline:
        try:
            ready, _, _ = select.select([sock], [], [], 0.2)
            if ready and not sock.recv(4096):
                return
        except (OSError, ValueError):
            return


def peer_closed(sock):
    """True when the peer has closed its side (or the socket failed)."""
    try:
        ready, _, _ = select.select([sock], [], [], 0)
        return bool(ready) and not sock.recv(4096)
    except (OSError, ValueError):
        return True


def pause(seconds, stopping):
    stopping.wait(max(0.0, seconds))


def _send_huge(sock, reply, size):
    padding = max(0, size - len(reply.body))
    head = reply.head_bytes(length_header=False)
    head = head[:-2] + b"Content-Length: %d\r\n\r\n" % (len(reply.body) + padding)
    if not send_all(sock, head + reply.body):
        return
    while padding > 0:
        piece = FILLER[:min(padding, len(FILLER))]
        if not send_all(sock, piece):
            return
        padding -= len(piece)


def _send_reset(sock, reply, options, stopping):
    body = reply.body or b"partial body that never ends"
    reply.body = body
    keep = options.get("bytes", max(1, len(body) // 2))
    send_all(sock, reply.head_bytes() + body[:max(0, min(keep, len(body) - 1))])
    # Let the partial reply reach the client before the RST overtakes it.
    pause(options.get("pause", 0.3), stopping)
    abort(sock)


def _send_trickle(sock, data, seconds, stopping):
    for i in range(len(data)):
        if stopping.is_set() or peer_closed(sock) or not send_all(sock, data[i:i + 1]):
            return
        pause(seconds, stopping)


class PacedRelay:
    """The "paced" mode: TLS runs on `inner`, one end of a socket pair, and a thread
    relays between its other end and the client. Once `pace` has been called, what
    the TLS side sends goes out one byte every `seconds`, so one record stays
    incomplete for as long as its size times that."""

    def __init__(self, client, stopping):
        self.inner, self._outer = socket.socketpair()
        self._client = client
        self._stopping = stopping
        self._seconds = None
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def pace(self, seconds):
        self._seconds = seconds

    def finish(self, tls_sock):
        """Closes the TLS side and waits until its bytes are out or the client is gone."""
        tls_sock.close()
        self._thread.join()
        self._outer.close()

    def _run(self):
        try:
            while not self._stopping.is_set():
                ready = select.select([self._client, self._outer], [], [], 0.2)[0]
                if self._client in ready:
                    data = self._client.recv(65536)
                    if not data:
                        return
                    self._outer.sendall(data)
                if self._outer in ready:
                    data = self._outer.recv(65536)
                    if not data:
                        return
                    if self._seconds is None:
                        self._client.sendall(data)
                    else:
                        _send_trickle(self._client, data, self._seconds, self._stopping)
        except (OSError, ValueError):
            pass


def respond(server, sock, req, rule):
    """Runs the endpoint (unless the rule replaces it), logs the request, sends the answer."""
    state = server.state
    mode = rule.mode if rule else None
    options = rule.options if rule else {}
    if mode == "lb_status":
        reply = standin_listenbrainz.status_reply(options)
        state.record(req, mode=mode, note={"lb_code": reply.status})
        send_all(sock, reply.to_bytes())
        return
    if mode == "lfm_error":
        reply, note = standin_lastfm.forced_error(req, options)
        state.record(req, mode=mode, note=note)
        send_all(sock, reply.to_bytes())
        return
    if mode == "page":
        reply = page_reply(options)
        state.record(req, mode=mode, note={"lb_code": reply.status})
        send_all(sock, reply.to_bytes())
        return
    if mode in ("refuse", "hang", "garbage", "zero_length", "empty"):
        state.record(req, mode=mode)
        if mode == "refuse":
            abort(sock)
        elif mode == "hang":
            wait_for_close(sock, server.hang_limit, server.stopping)
        elif mode == "garbage":
            send_all(sock, GARBAGE)
        elif mode == "zero_length":
            send_all(sock, Reply(200, "OK", [("Content-Type", "text/html")]).to_bytes())
        else:
            send_all(sock, Reply(200, "OK", [("Content-Type", "text/html")]).head_bytes(False))
        return
    if mode == "delay":
        pause(options.get("seconds", 2.0), server.stopping)
    site = standin_listenbrainz if standin_listenbrainz.handles(req) else standin_site
    site = standin_lastfm if standin_lastfm.handles(req) else site
    reply, note = site.answer(state, state.snapshot(), req)
    if mode == "status":
        reply.status = options.get("code", 500)
        reply.reason = "Status From Rule"
    state.record(req, mode=mode, note=note)
    if mode == "chunked":
        send_all(sock, reply.chunked_bytes(options.get("chunks", [3, 2])))
    elif mode == "huge":
        _send_huge(sock, reply, options.get("size", DEFAULT_HUGE))
    elif mode == "reset":
        _send_reset(sock, reply, options, server.stopping)
    elif mode == "trickle":
        _send_trickle(sock, reply.to_bytes(), options.get("seconds", 3.0), server.stopping)
    else:
        send_all(sock, reply.to_bytes())
