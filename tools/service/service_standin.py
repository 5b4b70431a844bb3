#!/usr/bin/env python3
"""A local stand-in for the social network's web site, for the plugin's tests.

Speaks HTTP/1.0 over raw sockets (so the exact request bytes can be logged
and replies can misbehave precisely), answers the site's requests and takes
commands on /__control/ on the same port. Standard library only.
"""

import argparse
import signal
import socketserver
import sys
import threading
import time

import standin_control
import standin_modes
from standin_state import CONFIG_FIELDS, MODES, RULE_OPTIONS, ConfigError, State
from standin_state import make_rule
from standin_wire import Reply, Request, parse_query, parse_request, read_head
from standin_wire import drain, send_all


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
        rule = server.state.take_rule(None, accept_time=True)
        if rule:
            server.state.record(Request(b"", peer), mode="refuse")
            return  # closed unread by the server's shutdown_request
        raw, problem = read_head(sock, time.monotonic() + server.read_timeout)
        req = parse_request(raw, peer)
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
        standin_modes.respond(server, sock, req, server.state.take_rule(req))


class StandinServer(socketserver.ThreadingTCPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True

    def __init__(self, address, state, start_config, start_rules, read_timeout, hang_limit):
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
                 " request path), param (a query parameter that must be present); options: "
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
    return "\n".join(lines)


def parse_args(argv):
    parser = argparse.ArgumentParser(
        description="Local HTTP/1.0 stand-in for the social network's site. Prints"
                    " 'listening HOST:PORT' as its first line.",
        epilog=_help_epilog(), formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on")
    parser.add_argument("--port", type=int, default=0, help="port (0 picks a free one)")
    parser.add_argument("--log", help="append each request as a JSON line to this file")
    parser.add_argument("--read-timeout", type=float, default=10.0,
                        help="seconds to wait for a complete request head")
    parser.add_argument("--hang-limit", type=float, default=120.0,
                        help="longest time a 'hang' connection is held open")
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
    server = StandinServer((args.host, args.port), state, start_config, args.mode,
                           args.read_timeout, args.hang_limit)
    server.reset_state()
    signal.signal(signal.SIGTERM, lambda *_: server.request_stop())
    signal.signal(signal.SIGINT, lambda *_: server.request_stop())
    host, port = server.server_address[:2]
    print("listening %s:%d" % (host, port), flush=True)
    worker = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.1})
    worker.start()
    try:
        while not server.stopping.wait(0.5):
            pass
    finally:
        server.stopping.set()
        server.shutdown()
        worker.join()
        server.server_close()
        state.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
