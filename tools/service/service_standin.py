#!/usr/bin/env python3
"""A local stand-in for the social network's web site, for the plugin's tests.

Speaks HTTP/1.0 over raw sockets (so the exact request bytes can be logged
and replies can misbehave precisely), answers the site's requests and takes
commands on /__control/ on the same port. With a certificate it also speaks TLS:
on a port of its own, and inside the tunnel it opens as a proxy for CONNECT.
Standard library only.
"""

import argparse
import signal
import socketserver
import ssl
import sys
import threading
import time

import standin_control
import standin_listenbrainz
import standin_modes
from standin_state import CONFIG_FIELDS, MODES, RULE_OPTIONS, ConfigError, State
from standin_state import make_rule
from standin_wire import Reply, Request, parse_query, parse_request, read_head
from standin_wire import drain, read_body, send_all


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        server = self.server
        sock = self.request
        try:
            self._serve(server, sock)
        except Exception as exc:  # a bad request must never take the server down
            sys.stderr.write("service stand-in: %s: %r\n" % (self.client_address, exc))

    def _serve(self, server, sock):
        peer = self.client_address
        rule = server.state.take_rule(None, accept_time=True, tls=server.tls_listener)
        if rule and rule.mode == "refuse":
            server.state.record(Request(b"", peer), mode="refuse")
            return  # closed unread by the server's shutdown_request
        tls = None
        relay = standin_modes.PacedRelay(sock, server.stopping) if rule else None
        if server.tls_listener:
            sock, tls = start_tls(server, relay.inner if relay else sock, peer, {})
            if sock is None:
                return
        raw, problem = read_head(sock, time.monotonic() + server.read_timeout)
        req = parse_request(raw, peer)
        req.tls = tls
        if req.method == "CONNECT" and not problem and tls is None and server.tls_context:
            server.state.record(req, mode="connect")
            sock, tls = open_tunnel(server, sock, req)
            if sock is None:
                return
            raw, problem = read_head(sock, time.monotonic() + server.read_timeout)
            req = parse_request(raw, peer)
            req.tls = tls
        if problem:
            if raw or problem != "closed":
                server.state.record(req, problem=problem)
            if problem == "too large":
                send_all(sock, Reply(431, "Request Header Fields Too Large").to_bytes())
                drain(sock, 2.0)
            return
        if req.error:
            server.state.record(req)
            send_all(sock, Reply(400, "Bad Request").to_bytes())
            return
        if standin_control.is_control(req):
            send_all(sock, standin_control.handle(server, req).to_bytes())
            if standin_control.is_shutdown(req):
                server.request_stop()
            return
        if not take_body(server, sock, req):
            return
        if relay:
            relay.pace(rule.options.get("seconds", 0.2))
            standin_modes.respond(server, sock, req, rule)
            relay.finish(sock)
            return
        standin_modes.respond(server, sock, req, server.state.take_rule(req))


def take_body(server, sock, req):
    """Reads the body that Content-Length announces; False (logged) when it did not come."""
    deadline = time.monotonic() + server.read_timeout
    problem = read_body(sock, req, deadline, standin_listenbrainz.MAX_PAYLOAD_SIZE)
    if problem is None:
        return True
    server.state.record(req, problem="body: " + problem)
    if problem in ("too large", "bad length"):
        status = 413 if problem == "too large" else 400
        send_all(sock, standin_listenbrainz.error_reply(status, "body " + problem).to_bytes())
        drain(sock, 2.0)
    return False


def start_tls(server, sock, peer, note):
    """The server side of a TLS handshake; (None, None) when it failed (logged)."""
    sock.settimeout(server.read_timeout)
    try:
        secure = server.tls_context.wrap_socket(sock, server_side=True)
    except (ssl.SSLError, OSError) as exc:
        req = Request(b"", peer)
        req.tls = dict(note, tls=True)
        server.state.record(req, problem="tls handshake failed: %s" % exc)
        return None, None
    return secure, dict(note, tls=True, sni=getattr(secure, "nimbo_sni", None))


def open_tunnel(server, sock, req):
    """A proxy's CONNECT: the configured answer, then TLS inside when it is a 2xx."""
    status = server.state.snapshot()["tunnel_status"]
    if not 200 <= status < 300:
        send_all(sock, b"HTTP/1.0 %d Tunnel Refused\r\n\r\n" % status)
        drain(sock, 2.0)
        return None, None
    if not send_all(sock, b"HTTP/1.0 200 Connection established\r\n\r\n"):
        return None, None
    return start_tls(server, sock, req.peer, {"tunnel": req.target})


def tls_context(cert, key):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(cert, key)

    def remember_name(secure, name, _context):
        secure.nimbo_sni = name
    context.sni_callback = remember_name
    return context


class StandinServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True

    def __init__(self, address, state, start_config, start_rules, read_timeout, hang_limit,
                 context=None, tls_listener=False):
        self.tls_context = context
        self.tls_listener = tls_listener
        self.state = state
        self.start_config = start_config
        self.start_rules = start_rules
        self.read_timeout = read_timeout
        self.hang_limit = hang_limit
        self.stopping = threading.Event()
        super().__init__(address, Handler)

    def reset_state(self):
        fresh = [make_rule(spec) for spec in self.start_rules]
        self.state.reset(self.start_config, fresh)

    def request_stop(self):
        self.stopping.set()


def _mode_spec(text):
    """--mode takes the same query form as /__control/mode, e.g. mode=hang&count=2."""
    values = {}
    for key, value in parse_query(text.encode("utf-8")):
        values.setdefault(key.decode("utf-8"), value.decode("utf-8"))
    make_rule(values)  # reject bad specs at start-up
    return values


def _help_epilog():
    lines = ["misbehaviour modes (--mode or /__control/mode):"]
    lines += ["  %-12s %s" % item for item in MODES.items()]
    lines.append("  rule fields: mode, count (default 1, negative = unlimited), path (exact"
                 " request path), param (a query parameter that must be present), host (the"
                 " request's host without its port: two servers behind the proxy apart);"
                 " options: "
                 + ", ".join(RULE_OPTIONS))
    lines.append("  example: --mode 'mode=empty&path=/profile.php&param=setactivity'")
    lines.append("")
    lines.append("control endpoints (GET http://HOST:PORT/__control/NAME):")
    lines += ["  %-12s %s" % item for item in standin_control.ENDPOINTS.items()]
    lines.append("  /__control/config takes the site settings listed among the options above,"
                 " named with underscores, e.g. ?captcha=1&captcha_size=200x70")
    lines.append("")
    lines.append("site: /login.php (first login and, with try_to_login=1, the security-code"
                 " login), /captcha.php?sid=, /profile.php (page, setactivity, clearactivity)."
                 " Each request is logged as one JSON object per line (--log) with its raw bytes"
                 " (latin-1 text and base64) and the parsed method, target, path, query and"
                 " headers.")
    lines.append("")
    lines.append("ListenBrainz (Authorization: Token <lb_token>, JSON answers as the public API"
                 " gives them): POST /1/submit-listens (playing_now, single, import; checked,"
                 " 400/401 with {\"code\",\"error\"}), POST /1/playing-now/delete, GET"
                 " /1/validate-token. A POST's body is read by its Content-Length and logged"
                 " with the head. The state shows in /__control/status (lb_playing_now,"
                 " lb_listens); example: --mode 'mode=lb_status&code=429&reset_in=3&path="
                 "/1/submit-listens'")
    lines.append("")
    lines.append("Last.fm 2.0 (any path ending in /2.0/, form-encoded POSTs, GET for"
                 " auth.getToken; format=json gives JSON, else <lfm> XML): auth.getToken,"
                 " auth.getSession (error 14 until lfm_auth_delay has passed, 15 past"
                 " lfm_token_life, 4 for a token unknown or used), track.updateNowPlaying,"
                 " track.scrobble (artist[i], track[i], timestamp[i], ... for i < 50). Every"
                 " request is signed with lfm_secret (13 when not), lfm_key (10) and, for the"
                 " track methods, a session key (9). The state shows in /__control/status"
                 " (lfm_now_playing, lfm_scrobbles, and lfm_scrobbles_by_root and"
                 " lfm_scrobbles_by_host by the path and the host they came to); example:"
                 " --mode 'mode=lfm_error&code=11'")
    return "\n".join(lines)


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description="Local HTTP/1.0 stand-in for the social network's site, for"
                    " ListenBrainz and for the Last.fm 2.0 interface. Prints"
                    " 'listening HOST:PORT' as its first line.",
        epilog=_help_epilog(), formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on")
    parser.add_argument("--port", type=int, default=0, help="port (0 picks a free one)")
    parser.add_argument("--log", help="append each request as a JSON line to this file")
    parser.add_argument("--read-timeout", type=float, default=10.0,
                        help="seconds to wait for a complete request head")
    parser.add_argument("--hang-limit", type=float, default=120.0,
                        help="longest time a 'hang' connection is held open")
    parser.add_argument("--tls-cert", help="PEM certificate (chain) for TLS; with --tls-key")
    parser.add_argument("--tls-key", help="PEM private key of --tls-cert")
    parser.add_argument("--tls-port", type=int, default=None,
                        help="also listen for TLS on this port (0 picks a free one); printed"
                             " as 'tls HOST:PORT' on the second line")
    parser.add_argument("--mode", action="append", default=[], type=_mode_spec,
                        metavar="SPEC", help="a misbehaviour rule (repeatable), see below")
    for name, (convert, default, text) in CONFIG_FIELDS.items():
        flag = "--" + name.replace("_", "-")
        if isinstance(default, bool):
            parser.add_argument(flag, dest=name, nargs="?", const="1", default=None,
                                help="%s (default %s; give 0 or 1)" % (text, int(default)))
        else:
            parser.add_argument(flag, dest=name, default=None,
                                help="%s (default %r)" % (text, default))
    return parser.parse_args(argv)


def main(argv=None):
    args = parse_args(sys.argv[1:] if argv is None else argv)
    state = State(args.log)
    try:
        given = {n: getattr(args, n) for n in CONFIG_FIELDS if getattr(args, n) is not None}
        start_config = state.configure(given)
    except ConfigError as exc:
        sys.stderr.write("service stand-in: %s\n" % exc)
        return 2
    context = tls_context(args.tls_cert, args.tls_key) if args.tls_cert else None
    server = StandinServer((args.host, args.port), state, start_config, args.mode,
                           args.read_timeout, args.hang_limit, context)
    server.reset_state()
    servers = [server]
    if context and args.tls_port is not None:
        secure = StandinServer((args.host, args.tls_port), state, start_config, args.mode,
                               args.read_timeout, args.hang_limit, context, tls_listener=True)
        secure.stopping = server.stopping
        servers.append(secure)
    signal.signal(signal.SIGTERM, lambda *_: server.request_stop())
    signal.signal(signal.SIGINT, lambda *_: server.request_stop())
    host, port = server.server_address[:2]
    print("listening %s:%d" % (host, port), flush=True)
    if len(servers) > 1:
        print("tls %s:%d" % servers[1].server_address[:2], flush=True)
    workers = [threading.Thread(target=s.serve_forever, kwargs={"poll_interval": 0.1})
               for s in servers]
    for worker in workers:
        worker.start()
    try:
        while not server.stopping.wait(0.5):
            pass
    finally:
        server.stopping.set()
        for s, worker in zip(servers, workers):
            s.shutdown()
            worker.join()
            s.server_close()
        state.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
