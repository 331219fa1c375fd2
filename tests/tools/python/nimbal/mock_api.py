"""The mock vendor API as the programs on the Linux side drive it, through its control interface
(tests/tools/mockapi/server.py describes it): the replies it is scripted to give, the requests it
recorded, and for the main job and the benchmarks the mock itself, run in the background.
"""

import base64
import http.client
import json
import subprocess
import sys
import urllib.parse

from nimbal.control_http import LOOPBACK, PATIENCE_S
from nimbal.paths import MOCK_API_PROGRAM

# The vendor API's endpoints that the main job and the roads script or count.
CHECKIN_PATH = "/v3/client/checkin"
CONNECT_PATH = "/v3/server/connect"
SERVERS_LIST_PATH = "/v3/servers/list"


class MockApi:
    """The control interface of the mock vendor API (plain HTTP on its loopback port)."""

    def __init__(self, port, timeout_s=PATIENCE_S):
        self.port = port
        self._timeout_s = timeout_s

    def _call(self, method, target, body=b""):
        connection = http.client.HTTPConnection(LOOPBACK, self.port, timeout=self._timeout_s)
        try:
            connection.request(method, target, body=body)
            reply = connection.getresponse()
            data = reply.read()
        finally:
            connection.close()
        if reply.status != 200:
            raise AssertionError(f"mock API {method} {target}: {reply.status} {data!r}")
        return data

    def running(self):
        """Whether a mock answers on the port."""
        try:
            self._call("GET", "/__mock/requests")
            return True
        except (OSError, AssertionError):
            return False

    def reset(self):
        """Built-in replies again, nothing recorded."""
        self._call("POST", "/__mock/reset")

    def reply(self, path, status, body, once=False):
        """What the endpoint answers from now on; with `once`, only to its next request."""
        if not isinstance(body, (bytes, str)):
            body = json.dumps(body)
        if isinstance(body, str):
            body = body.encode("utf-8")
        query = urllib.parse.urlencode({"path": path, "status": status, "once": "1" if once else "0"})
        self._call("POST", f"/__mock/reply?{query}", body)

    def requests(self, path=None, after=0):
        """The recorded requests to `path` (all paths when None) whose sequence number is above `after`."""
        records = json.loads(self._call("GET", "/__mock/requests"))
        return [r for r in records if r["seq"] > after and (path is None or r["path"] == path)]

    def mark(self):
        """The sequence number of the last recorded request; later ones are above it."""
        records = self.requests()
        return records[-1]["seq"] if records else 0

    def asked_by(self, client):
        """Whether the service behind the control client `client` is one that asks this mock: the
        servers list it is asked for comes from here. Services of other Wine prefixes may listen on
        the control ports too."""
        before = len(self.requests(SERVERS_LIST_PATH))
        client.post("/vpn/get/serversList")
        return len(self.requests(SERVERS_LIST_PATH)) > before


class MockApiProcess(MockApi):
    """The mock for a run of the main job or the benchmarks: one already running on the port is used
    as it is, else one is started here in the background and stopped again by `stop`."""

    def __init__(self, port, cert_dir, state_dir):
        super().__init__(port, timeout_s=30)
        self._cert_dir = cert_dir
        self._state_dir = state_dir
        self.started_here = False

    def start(self):
        if self.running():
            return
        subprocess.run([sys.executable, MOCK_API_PROGRAM, "start", "--port", str(self.port),
                        "--cert-dir", self._cert_dir, "--state-dir", self._state_dir],
                       check=True, stdout=subprocess.DEVNULL)
        self.started_here = True

    def stop(self):
        if self.started_here:
            subprocess.run([sys.executable, MOCK_API_PROGRAM, "stop", "--state-dir", self._state_dir], check=False)
            self.started_here = False


def form(record):
    """A recorded request's form fields as a dict (a name sent twice fails)."""
    fields = dict(record["form"])
    if len(fields) != len(record["form"]):
        raise AssertionError(f"a field sent twice: {record['form']}")
    return fields


def header(record, name):
    values = [value for key, value in record["headers"] if key.lower() == name.lower()]
    return values[0] if values else None


def b64(text):
    """A text as the vendor API's replies carry it in their base64 fields."""
    return base64.b64encode(text.encode("ascii")).decode("ascii")
