#!/usr/bin/env python3
"""The relay the benchmark puts in front of the service stand-in: it must pass the
exchange through unchanged and hold the client's side open, for a bounded time,
after the server has closed."""

import os
import socket
import subprocess
import sys
import threading
import time
import unittest

RELAY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "hold_open_relay.py")
REPLY = b"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"
HOLD = 1.5


class Upstream:
    """Answers each connection with REPLY once the request head is in, then closes;
    keeps the request bytes it saw."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.requests = []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with conn:
                data = b""
                while b"\r\n\r\n" not in data:
                    chunk = conn.recv(4096)
                    if not chunk:
                        break
                    data += chunk
                self.requests.append(data)
                conn.sendall(REPLY)


def read_exactly(sock, size):
    data = b""
    while len(data) < size:
        chunk = sock.recv(size - len(data))
        if not chunk:
            break
        data += chunk
    return data


class HoldOpenRelayTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.upstream = Upstream()
        cls.relay = subprocess.Popen(
            [sys.executable, RELAY, str(cls.upstream.port), "--hold", str(HOLD)],
            stdout=subprocess.PIPE)
        cls.port = int(cls.relay.stdout.readline().split()[1])

    @classmethod
    def tearDownClass(cls):
        cls.relay.kill()
        cls.relay.wait()
        cls.relay.stdout.close()
        cls.upstream.listener.close()

    def exchange(self):
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=5)
        request = b"GET /profile.php HTTP/1.0\r\nHost: x\r\n\r\n"
        sock.sendall(request)
        return sock, request

    def test_passes_request_and_reply_through_unchanged(self):
        sock, request = self.exchange()
        with sock:
            self.assertEqual(read_exactly(sock, len(REPLY)), REPLY)
        self.assertIn(request, self.upstream.requests)

    def test_holds_the_client_open_after_the_server_closed_then_lets_go(self):
        sock, _ = self.exchange()
        with sock:
            start = time.monotonic()
            self.assertEqual(read_exactly(sock, len(REPLY)), REPLY)
            # The upstream has closed by now; the client must not see it yet.
            sock.settimeout(HOLD / 3)
            with self.assertRaises(socket.timeout):
                sock.recv(1)
            sock.settimeout(HOLD * 3)
            self.assertEqual(sock.recv(1), b"")
            self.assertGreaterEqual(time.monotonic() - start, HOLD * 0.9)
            self.assertLess(time.monotonic() - start, HOLD * 2.5)

    def test_keeps_serving_after_a_client_closed_early(self):
        sock, _ = self.exchange()
        sock.close()
        again, _ = self.exchange()
        with again:
            self.assertEqual(read_exactly(again, len(REPLY)), REPLY)


if __name__ == "__main__":
    unittest.main()
