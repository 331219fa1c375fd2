"""A client of the service's local HTTP control server on 127.0.0.1: POST requests with form bodies.

Wine's HTTP Server API now and then stops taking new connections once earlier ones have closed,
and drops a request whose bytes do not reach it in one burst. So every request goes on one
kept-alive connection, headers and body in one send, and a request that the server closed the
connection on unanswered is sent again on a new connection.
"""

import http.client
import socket
import time
import urllib.parse

TIMEOUT_S = 60
ATTEMPTS = 5

# The port range the service chooses its control port from.
FIRST_PORT = 666
LAST_PORT = 999
PING_PATH = "/TYTUT"
PING_BODY = b"GDEZHESCHIO!"


class Reply:
    def __init__(self, status, reason, body):
        self.status = status
        self.reason = reason
        self.body = body

    def text(self):
        return self.body.decode("latin-1")

    def __str__(self):
        return f"{self.status} {self.reason} {self.text()!r}"


class ControlClient:
    def __init__(self, port):
        self.port = port
        self._connection = None

    def close(self):
        if self._connection is not None:
            self._connection.close()
            self._connection = None

    def post(self, path, fields=None, headers=None):
        """POSTs `fields` (a dict, form-encoded as they stand) to `path`; the reply."""
        body = "&".join(f"{name}={value}" for name, value in (fields or {}).items()).encode("latin-1")
        return self.request("POST", path, body, headers)

    def request(self, method, path, body=b"", headers=None):
        last_error = None
        for _ in range(ATTEMPTS):
            if self._connection is None:
                self._connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=TIMEOUT_S)
            try:
                sent_headers = {"Content-Type": "application/x-www-form-urlencoded",
                                "Content-Length": str(len(body))}
                sent_headers.update(headers or {})
                self._connection.request(method, path, body=body, headers=sent_headers)
                response = self._connection.getresponse()
                return Reply(response.status, response.reason, response.read())
            except (http.client.RemoteDisconnected, http.client.BadStatusLine, ConnectionError) as error:
                last_error = error
                self.close()
                time.sleep(0.2)
        raise ConnectionError(f"{method} {path} on port {self.port} got no reply: {last_error}")


def find_control_port(is_ours=lambda client: True, within_s=60):
    """The port on which a control server answers the ping and `is_ours` (given a client on that
    port) holds, searched from 666 upward: services of other Wine prefixes may listen there too."""
    deadline = time.monotonic() + within_s
    while time.monotonic() < deadline:
        for port in range(FIRST_PORT, LAST_PORT + 1):
            if not _listening(port):
                continue
            client = ControlClient(port)
            try:
                if client.post(PING_PATH).body == PING_BODY and is_ours(client):
                    return port
            except (ConnectionError, OSError, http.client.HTTPException):
                pass
            finally:
                client.close()
        time.sleep(0.5)
    return None


def _listening(port):
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.settimeout(0.2)
        return probe.connect_ex(("127.0.0.1", port)) == 0


def quoted(value):
    """A form value escaped for a body that the server reads without decoding: only what must go."""
    return urllib.parse.quote(value, safe="@.-_")
