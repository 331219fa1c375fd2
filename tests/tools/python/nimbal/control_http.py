"""Requests to the service's local HTTP control server on 127.0.0.1, as a program on the Linux side
makes them.

Wine's HTTP Server API now and then stops taking new connections once earlier ones have closed, and
drops a request whose bytes do not arrive in one burst: ControlClient sends each request in one
write on one kept-alive connection, and sends a request again on a new connection only when the
server closed the old one without a byte of reply (the service never saw that request).
"""

import os
import socket
from collections import namedtuple

LOOPBACK = "127.0.0.1"
PATIENCE_S = 60
# The range the service chooses its port from.
FIRST_PORT = 666
LAST_PORT = 999


class Reply(namedtuple("Reply", "status reason body content_type")):
    def text(self):
        return self.body.decode("latin-1")

    def __str__(self):
        return f"{self.status} {self.reason} {self.text()!r}"


class Unanswered(ConnectionError):
    """The server closed the connection before a byte of its reply."""


class ControlClient:
    """HTTP/1.1 requests to the control server, all on one kept-alive connection.

    Wine now and then leaves a new connection's first request lying unanswered while it goes on
    serving others: every new connection is proved with a ping before it carries a request, and
    one whose ping gets no answer in a few seconds is given up for another."""

    # NIMBAL_CONTROL_STRICT=1: each request on a new connection of its own, sent at once and closed
    # after its reply, as a plain HTTP client does it, and no second chances, so that a request the
    # server leaves unanswered fails at once (scripts/roads-loop.sh counts those).
    STRICT = os.environ.get("NIMBAL_CONTROL_STRICT") == "1"
    RESENDS = 1 if STRICT else 5
    NEW_CONNECTION_WAIT_S = 10

    def __init__(self, port, timeout_s=PATIENCE_S):
        self.port = port
        self._timeout_s = timeout_s
        self._socket = None
        self._reader = None

    def post(self, path, body=b"", headers=()):
        """`body` is bytes, text, or a dict of form fields joined as they stand (no escaping)."""
        if isinstance(body, dict):
            body = "&".join(f"{name}={value}" for name, value in body.items())
        return self.request("POST", path, body, headers)

    def request(self, method, path, body=b"", headers=()):
        if isinstance(body, str):
            body = body.encode("latin-1")
        head = f"{method} {path} HTTP/1.1\r\nHost: {LOOPBACK}:{self.port}\r\nContent-Length: {len(body)}\r\n"
        head += "".join(f"{name}: {value}\r\n" for name, value in headers) + "\r\n"
        message = head.encode("latin-1") + body
        for attempt in range(self.RESENDS):
            if self._socket is None:
                self._connect()
            try:
                self._socket.sendall(message)
                status_line = self._reader.readline(65537)
                if not status_line:
                    raise Unanswered()
            except (Unanswered, ConnectionResetError, BrokenPipeError) as error:
                self.close()
                if attempt + 1 == self.RESENDS:
                    raise AssertionError(f"{method} {path}: closed unanswered {self.RESENDS} times ({error!r})")
                continue
            reply = self._read_reply(status_line)
            if self.STRICT:
                self.close()
            return reply

    def _read_reply(self, status_line):
        parts = status_line.decode("latin-1").rstrip("\r\n").split(" ", 2)
        if len(parts) < 2 or not parts[0].startswith("HTTP/1."):
            raise AssertionError(f"not an HTTP status line: {status_line!r}")
        headers = {}
        while True:
            line = self._reader.readline(65537)
            if not line:
                raise AssertionError("the server closed the connection inside a reply's headers")
            if line in (b"\r\n", b"\n"):
                break
            name, _, value = line.decode("latin-1").partition(":")
            headers[name.strip().lower()] = value.strip()
        length = int(headers.get("content-length", "0"))
        body = self._reader.read(length)
        if len(body) != length:
            raise AssertionError(f"a reply body of {len(body)} bytes, announced {length}")
        if headers.get("connection", "").lower() == "close":
            self.close()
        return Reply(int(parts[1]), parts[2] if len(parts) > 2 else "", body, headers.get("content-type"))

    def _connect(self):
        if self.STRICT:
            self._socket = socket.create_connection((LOOPBACK, self.port), timeout=self._timeout_s)
            self._reader = self._socket.makefile("rb")
            return
        ping = f"POST /TYTUT HTTP/1.1\r\nHost: {LOOPBACK}:{self.port}\r\nContent-Length: 0\r\n\r\n".encode("latin-1")
        for _ in range(self.RESENDS):
            self._socket = socket.create_connection((LOOPBACK, self.port), timeout=self.NEW_CONNECTION_WAIT_S)
            # One reader for the connection's life: bytes the server sends beyond a reply stay for
            # the next read, so a second reply to one request shows as a wrong reply to the next.
            self._reader = self._socket.makefile("rb")
            try:
                self._socket.sendall(ping)
                status_line = self._reader.readline(65537)
                if status_line:
                    self._read_reply(status_line)
                    if self._socket is not None:
                        self._socket.settimeout(self._timeout_s)
                        return
            except OSError:
                pass
            self.close()
        raise AssertionError(f"port {self.port}: {self.RESENDS} new connections in a row were left unanswered")

    def close(self):
        if self._socket is not None:
            self._reader.close()
            self._socket.close()
        self._socket = None
        self._reader = None


def answers_ping(port):
    """Whether the service's control server answers on `port` now."""
    client = ControlClient(port, timeout_s=10)
    try:
        reply = client.post("/TYTUT")
        return reply.status == 200 and reply.body == b"GDEZHESCHIO!"
    except (OSError, AssertionError):
        return False
    finally:
        client.close()


def open_control_client(is_ours=lambda client: True, within_s=PATIENCE_S):
    """A client, its connection open and proved, of the first control server from port 666 up for
    which `is_ours` (given the client) holds: services of other Wine prefixes may listen there too.
    None when there is none within `within_s`. Each candidate gets one connection, kept when it is
    ours: every connection the server sees opened and closed again is one more for Wine to mislay."""
    import time
    deadline = time.monotonic() + within_s
    while time.monotonic() < deadline:
        for port in range(FIRST_PORT, LAST_PORT + 1):
            client = ControlClient(port)
            try:
                reply = client.post("/TYTUT")
                if reply.status == 200 and reply.body == b"GDEZHESCHIO!" and is_ours(client):
                    return client
            except (OSError, AssertionError):
                pass
            client.close()
        time.sleep(0.5)
    return None


def find_control_port(is_ours=lambda client: True, within_s=PATIENCE_S):
    """The port of open_control_client's server, or None."""
    client = open_control_client(is_ours, within_s)
    if client is None:
        return None
    client.close()
    return client.port
