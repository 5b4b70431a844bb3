#!/usr/bin/env python3
"""A TCP relay that keeps the client's connection open after the server has closed.

    hold_open_relay.py UPSTREAM_PORT [--hold SECONDS]

Prints "listening PORT" first. Each client connection is joined to a new connection
to 127.0.0.1:UPSTREAM_PORT; bytes go both ways, but when the server closes, the
client's side stays open until the client closes it (or --hold runs out). A client
that ends a reply by its Content-Length is unaffected; one that reads until the
connection closes sits out its own wait instead, which the timings then show.
Standard library only.
"""

import argparse
import socket
import sys
import threading


def pump(source, sink):
    """Copies until the source ends; returns True when it ended normally."""
    try:
        while True:
            data = source.recv(65536)
            if not data:
                return True
            sink.sendall(data)
    except OSError:
        return False


def serve(client, upstream_port, hold):
    try:
        server = socket.create_connection(("127.0.0.1", upstream_port), timeout=10)
    except OSError:
        client.close()
        return
    server.settimeout(None)
    client_done = threading.Event()

    def client_to_server():
        pump(client, server)
        try:
            server.shutdown(socket.SHUT_WR)
        except OSError:
            pass
        client_done.set()

    threading.Thread(target=client_to_server, daemon=True).start()
    pump(server, client)
    server.close()
    # The server has finished; the client learns of it only when it gives up itself.
    client_done.wait(hold)
    # shutdown, not close alone: it also wakes the thread still reading the client.
    try:
        client.shutdown(socket.SHUT_RDWR)
    except OSError:
        pass
    client.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("upstream_port", type=int)
    parser.add_argument("--hold", type=float, default=6.0,
                        help="longest time a client's connection is held after the server closed")
    args = parser.parse_args()
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print("listening %d" % listener.getsockname()[1], flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, args.upstream_port, args.hold),
                         daemon=True).start()


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:
        sys.exit(0)
