"""The main job's work: NimbalService installed into a Wine prefix of its own, checking in with the
embedded default environment on loopback (the mock vendor API and a real OpenVPN peer), an account
logged in and the VPN connected through the service's local HTTP control server; and all of it
taken down again. The end-to-end roads build on it.
"""

import json
import os
import shutil
import time

from nimbal.control_http import open_control_client
from nimbal.loopback_vpn import OpenVpnPeer, checkin_reply, connect_reply
from nimbal.mock_api import CHECKIN_PATH, CONNECT_PATH, MockApiProcess
from nimbal.settings_folder import SERVICE_LOG, settings_folder
from nimbal.wine_prefix import PrefixPresence, start_prefix, stop_prefix
from nimbal.wine_service import WineService

STATE_NAMES = ("NOTCONNECTED", "DISCONNECTED", "CONNECTING", "CONNECTED")
# Loopback ports of the job's own: the daemon's and the peer's UDP ports, the daemon's management port.
DAEMON_UDP_PORT = 28701
PEER_UDP_PORT = 28702
MANAGEMENT_PORT = 28711
ACCOUNT_LOGIN = "demo@nimbal.test"
ACCOUNT_PASSWORD = "demo-password"

CHECKIN_WITHIN_S = 60
CONNECTED_WITHIN_S = 90
DISCONNECTED_WITHIN_S = 30
POLL_S = 0.5


def say(text):
    print(text, flush=True)


def clear_settings(prefix):
    """Every settings document, log and VPN file of an earlier run: the job starts as a new install."""
    folder = settings_folder(prefix)
    if not os.path.isdir(folder):
        return
    for name in os.listdir(folder):
        path = os.path.join(folder, name)
        if name == "ovpn_config":
            shutil.rmtree(path, ignore_errors=True)
        elif name.startswith(("settings.params", "user.")) or name.endswith(".log"):
            os.remove(path)


def wait_until(condition, within_s):
    deadline = time.monotonic() + within_s
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(POLL_S)
    return False


class MainJob:
    def __init__(self, build_dir, prefix):
        self.build_dir = build_dir
        self.prefix = prefix
        self.state_dir = os.path.join(build_dir, "main-job")
        self.service_exe = os.path.join(self.state_dir, "service", "NimbalService.exe")
        port = int(os.environ.get("NIMBAL_MOCK_API_PORT", "18443"))
        cert_dir = os.path.join(os.environ.get("NIMBAL_CACHE", "/var/cache/nimbal"), "mock-api")
        self.mock = MockApiProcess(port, cert_dir, os.path.join(self.state_dir, "mock-api"))
        self.peer = OpenVpnPeer(os.path.join(self.state_dir, "peer"), DAEMON_UDP_PORT, PEER_UDP_PORT)
        self.service = WineService(self.service_exe, prefix)
        self.control = None
        self.installed = False
        self.prefix_started = False
        self.presence = None
        self.last_state = None

    def set_up(self):
        if not os.path.isfile(self.service_exe):
            raise RuntimeError(f"{self.service_exe} is missing: build first (scripts/build.sh)")
        self.mock.start()
        say(f"mock vendor API: https://localhost:{self.mock.port}"
            + (" (started)" if self.mock.started_here else " (already running)"))
        pid = self.peer.start()
        say(f"OpenVPN peer: udp 127.0.0.1:{PEER_UDP_PORT} (pid {pid}), log {self.peer.folder}/peer.log")
        self.mock.reset()
        self.mock.reply(CHECKIN_PATH, 200, checkin_reply(MANAGEMENT_PORT))
        self.mock.reply(CONNECT_PATH, 200, connect_reply(self.peer.daemon_configuration()))

        start_prefix(self.prefix)
        self.prefix_started = True
        self.presence = PrefixPresence(self.prefix)
        say(f"Wine prefix: {self.prefix}")
        clear_settings(self.prefix)

    def install(self):
        self.service.remove_quietly()
        self.service.install()
        self.installed = True
        say(f"service \"Nimbal\" installed and running ({self.service_exe})")
        if not wait_until(lambda: self.mock.requests(CHECKIN_PATH), CHECKIN_WITHIN_S):
            raise RuntimeError("the service did not check in with the mock vendor API")
        say("checked in with the vendor API")
        self.find_control_server()
        # The log follows Internal.LoggingEnabled from the service's next start on.
        self.expect(self.control.post("/logfiles/enable"), "Logging enabled")
        self.control.close()
        self.service.stop()
        self.service.run("-start")
        say("logging switched on; service restarted")
        self.find_control_server()
        say(f"control server: http://127.0.0.1:{self.control.port}/")

    @staticmethod
    def expect(reply, body):
        """A 200 reply, with `body` unless that is None."""
        if reply.status != 200 or (body is not None and reply.text() != body):
            raise RuntimeError(f"unexpected reply: {reply}")

    def find_control_server(self):
        self.control = open_control_client(self.mock.asked_by)
        if self.control is None:
            raise RuntimeError("the service's control server did not answer on any port from 666 to 999")

    def log_in(self):
        reply = self.control.post("/accounts/login", {"login": ACCOUNT_LOGIN, "pass": ACCOUNT_PASSWORD,
                                                      "rememberMe": "true"})
        self.expect(reply, None)
        token = self.control.post("/accounts/token").text()
        say(f"account logged in: {ACCOUNT_LOGIN} (token {token or 'none'})")

    def connect(self):
        servers = self.control.post("/vpn/get/serversList")
        self.expect(servers, None)
        server = first_server_id(servers.text())
        self.last_state = self.state()
        say(f"{time.strftime('%H:%M:%S')} VPN state {self.last_state}")
        reply = self.control.post("/vpn/connect", {"server": server})
        say(f"connect to {server}: {reply.status} {reply.reason} {reply.text()}")
        if reply.status != 200:
            raise RuntimeError("the connect was refused")

    def state(self):
        return self.control.post("/vpn/get/state").text()

    def follow_state(self, until=None, within_s=None):
        """Prints each new VPN state; returns once it is `until` (False when `within_s` ran out)."""
        last = self.last_state
        deadline = time.monotonic() + within_s if within_s else None
        while True:
            state = self.state()
            if state != last:
                say(f"{time.strftime('%H:%M:%S')} VPN state {state}")
                last = self.last_state = state
            if state == until:
                return True
            if deadline and time.monotonic() > deadline:
                return False
            time.sleep(POLL_S)

    def where(self):
        folder = settings_folder(self.prefix)
        say(f"service log: {folder}/{SERVICE_LOG}")
        say(f"settings:    {folder}/settings.params (encrypted)")
        say(f"VPN files:   {folder}/ovpn_config (daemon log ovpn.log)")

    def tear_down(self):
        """Ends what the job started, each step whatever happened before it."""
        steps = []
        if self.control is not None and self.installed:
            steps.append(("disconnect", self.disconnect))
        if self.installed:
            steps.append(("service stop and removal", self.remove_service))
        steps += [("OpenVPN peer", self.peer.stop), ("mock vendor API", self.mock.stop)]
        if self.prefix_started:
            steps.append(("Wine prefix", self.end_prefix))
        for name, step in steps:
            try:
                step()
            except Exception as error:  # every later step still runs
                say(f"{name}: {error}")

    def disconnect(self):
        reply = self.control.post("/vpn/disconnect")
        say(f"disconnect: {reply.status} {reply.reason} {reply.text()}")
        if not self.follow_state(until="NOTCONNECTED", within_s=DISCONNECTED_WITHIN_S):
            say("the VPN did not report NOTCONNECTED in time")
        self.control.close()

    def remove_service(self):
        self.service.remove()
        self.installed = False
        say("service stopped and removed")

    def end_prefix(self):
        if self.presence is not None:
            self.presence.end()
        stop_prefix(self.prefix)
        say("Wine prefix's processes ended")


def first_server_id(servers_text):
    """The first server id of a servers-list reply as the service passes it on."""
    try:
        servers = json.loads(servers_text)
        return servers["servers"][0]["id"]
    except (ValueError, KeyError, IndexError, TypeError):
        raise RuntimeError(f"no server in the servers list: {servers_text!r}")
