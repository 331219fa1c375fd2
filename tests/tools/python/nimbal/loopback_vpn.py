"""The embedded default environment's VPN on loopback: a real OpenVPN peer, and the mock vendor
API's replies that hand the service's daemon its side of the configuration.

Both ends run without a tun device: UDP on 127.0.0.1, a static key made for the run, a ping each
second. The daemon's side of the configuration travels in the mock's connect reply, its key inline.
"""

import os
import signal
import subprocess
import time

from nimbal.mock_api import b64

OPENVPN = "/usr/sbin/openvpn"
STOP_WAIT_S = 10


def _common_options(local_port, remote_port):
    return (f"dev null\nproto udp\nlocal 127.0.0.1\nlport {local_port}\nremote 127.0.0.1\nrport {remote_port}\n"
            "cipher AES-256-CBC\nifconfig-noexec\nping 1\n")


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
    return {"status": True, "auth": b64("mainjob\nmainjob\n"), "config": b64(configuration)}
