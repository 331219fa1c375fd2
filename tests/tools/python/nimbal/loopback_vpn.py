"""The embedded default environment on loopback: the mock vendor API, scripted to hand out the
configuration of a real OpenVPN peer, and that peer.

Both ends run without a tun device: UDP on 127.0.0.1, a static key made for the run, a ping each
second. The daemon's side of the configuration travels in the mock's connect reply, its key inline.
"""

import base64
import json
import os
import signal
import subprocess
import sys
import time
import urllib.request

from nimbal.paths import MOCK_API_PROGRAM

OPENVPN = "/usr/sbin/openvpn"

CHECKIN_PATH = "/v3/client/checkin"
CONNECT_PATH = "/v3/server/connect"
SERVERS_LIST_PATH = "/v3/servers/list"
STOP_WAIT_S = 10


def _common_options(local_port, remote_port):
    return (f"dev null\nproto udp\nlocal 127.0.0.1\nlport {local_port}\nremote 127.0.0.1\nrport {remote_port}\n"
            "cipher AES-256-CBC\nifconfig-noexec\nping 1\n")


class MockApi:
    """The mock vendor API on its loopback port: one already running is used as it is, else one is
    started here and stopped again by `stop`."""

    def __init__(self, port, cert_dir, state_dir):
        self.port = port
        self._cert_dir = cert_dir
        self._state_dir = state_dir
        self.started_here = False

    def control(self, method, action, query="", body=b""):
        url = f"http://127.0.0.1:{self.port}/__mock/{action}" + (f"?{query}" if query else "")
        request = urllib.request.Request(url, data=body if method == "POST" else None, method=method)
        with urllib.request.urlopen(request, timeout=30) as reply:
            return reply.read()

    def running(self):
        try:
            self.control("GET", "requests")
            return True
        except OSError:
            return False

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

    def reset(self):
        self.control("POST", "reset")

    def reply(self, path, status, document):
        self.control("POST", "reply", f"path={path}&status={status}", json.dumps(document).encode("utf-8"))

    def requests_to(self, path):
        return [r for r in json.loads(self.control("GET", "requests")) if r["path"] == path]


class OpenVpnPeer:
    """A real openvpn on 127.0.0.1 that the service's daemon connects to."""

    def __init__(self, folder, daemon_port, peer_port):
        self.folder = folder
        self.daemon_port = daemon_port
        self.peer_port = peer_port
        self._process = None

    def start(self):
        os.makedirs(self.folder, exist_ok=True)
        key = os.path.join(self.folder, "static.key")
        if os.path.exists(key):
            os.remove(key)
        subprocess.run([OPENVPN, "--genkey", "secret", key], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(self.folder, "peer.ovpn"), "w") as config:
            config.write(_common_options(self.peer_port, self.daemon_port) + "secret static.key\n")
        self._process = subprocess.Popen(
            [OPENVPN, "--cd", self.folder, "--config", "peer.ovpn", "--log", "peer.log", "--verb", "3"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        time.sleep(0.5)
        if self._process.poll() is not None:
            raise RuntimeError(f"openvpn peer ended at once; see {os.path.join(self.folder, 'peer.log')}")
        return self._process.pid

    def daemon_configuration(self):
        with open(os.path.join(self.folder, "static.key")) as key:
            return _common_options(self.daemon_port, self.peer_port) + f"<secret>\n{key.read()}</secret>\n"

    def stop(self):
        if self._process is None:
            return
        if self._process.poll() is None:
            self._process.send_signal(signal.SIGTERM)
            try:
                self._process.wait(STOP_WAIT_S)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait()
        self._process = None


def checkin_reply(management_port):
    """A check-in reply of this version that hands the daemon its management port."""
    return {
        "status": True, "version": "1.1.0.33", "updateType": "manual", "updateUrl": "",
        "updateRequestInterval": 86400, "updateRequestIntervalIfFailed": 3600, "vpnDiagnosticsInterval": 60,
        "ovpnControlPort": management_port, "remindOnBrowserDays": 2, "agentIconUpdTimeout": 2,
    }


def connect_reply(configuration):
    def b64(text):
        return base64.b64encode(text.encode("ascii")).decode("ascii")
    return {"status": True, "auth": b64("mainjob\nmainjob\n"), "config": b64(configuration)}
