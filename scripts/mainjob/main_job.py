#!/usr/bin/env python3
"""The main job: NimbalService installed into a Wine prefix of its own, checking in with the
embedded default environment on loopback (the mock vendor API and a real OpenVPN peer), an account
logged in and the VPN connected through the service's local HTTP control server. The VPN state is
printed as it changes until Ctrl-C or `main_job.py stop`; then the VPN is disconnected, the
service stopped and removed, and everything the job started is ended.

  main_job.py run --build-dir DIR [--prefix P] [--once]    (--once: end as soon as CONNECTED)
  main_job.py stop --build-dir DIR
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools", "python"))

from control_http import open_control_client  # noqa: E402
from loopback_vpn import CHECKIN_PATH, SERVERS_LIST_PATH, MockApi, OpenVpnPeer, checkin_reply, connect_reply  # noqa: E402
from wine_presence import PrefixPresence  # noqa: E402
from wine_service import WineService  # noqa: E402

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
JOB_PID_FILE = "job.pid"


class Stop(Exception):
    """Ctrl-C or the stop command."""


def on_stop_signal(signum, frame):
    raise Stop()


def say(text):
    print(text, flush=True)


def settings_folder(prefix):
    return os.path.join(prefix, "drive_c", "ProgramData", "Nimbal Privacy")


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
        self.mock = MockApi(port, cert_dir, os.path.join(self.state_dir, "mock-api"))
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
        self.mock.reply("/v3/server/connect", 200, connect_reply(self.peer.daemon_configuration()))

        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), "start", self.prefix], check=True)
        self.prefix_started = True
        self.presence = PrefixPresence(self.prefix)
        say(f"Wine prefix: {self.prefix}")
        clear_settings(self.prefix)

    def install(self):
        self.service.remove_quietly()
        self.service.install()
        self.installed = True
        say(f"service \"Nimbal\" installed and running ({self.service_exe})")
        if not wait_until(lambda: self.mock.requests_to(CHECKIN_PATH), CHECKIN_WITHIN_S):
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
        self.control = open_control_client(self.asks_our_mock)
        if self.control is None:
            raise RuntimeError("the service's control server did not answer on any port from 666 to 999")

    def asks_our_mock(self, client):
        """Whether the service behind `client` is this job's: its servers list comes from our mock."""
        before = len(self.mock.requests_to(SERVERS_LIST_PATH))
        client.post("/vpn/get/serversList")
        return len(self.mock.requests_to(SERVERS_LIST_PATH)) > before

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
        say(f"service log: {folder}/Nimbal Privacy Service.log")
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
        subprocess.run([os.path.join(ROOT, "scripts", "wine-prefix.sh"), "stop", self.prefix], check=True)
        say("Wine prefix's processes ended")


def first_server_id(servers_text):
    """The first server id of a servers-list reply as the service passes it on."""
    try:
        servers = json.loads(servers_text)
        return servers["servers"][0]["id"]
    except (ValueError, KeyError, IndexError, TypeError):
        raise RuntimeError(f"no server in the servers list: {servers_text!r}")


def run(args):
    pid_file = os.path.join(args.build_dir, "main-job", JOB_PID_FILE)
    os.makedirs(os.path.dirname(pid_file), exist_ok=True)
    with open(pid_file, "w") as f:
        f.write(f"{os.getpid()}\n")
    signal.signal(signal.SIGINT, on_stop_signal)
    signal.signal(signal.SIGTERM, on_stop_signal)
    build_dir = os.path.abspath(args.build_dir)
    job = MainJob(build_dir, os.path.abspath(args.prefix or os.path.join(build_dir, "wine-run")))
    status = 0
    try:
        job.set_up()
        job.install()
        job.log_in()
        job.connect()
        if not job.follow_state(until="CONNECTED", within_s=CONNECTED_WITHIN_S):
            raise RuntimeError(f"not CONNECTED within {CONNECTED_WITHIN_S} s")
        job.where()
        if not args.once:
            say("connected; Ctrl-C (or scripts/run.sh stop) disconnects and ends the job")
            job.follow_state()
    except Stop:
        say("stopping")
    except Exception as error:
        say(f"FAILED: {error}")
        status = 1
    finally:
        # A second Ctrl-C must not cut the cleanup short.
        signal.signal(signal.SIGINT, signal.SIG_IGN)
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        job.tear_down()
        try:
            os.remove(pid_file)
        except FileNotFoundError:
            pass
    say("main job ended" if status == 0 else "main job failed")
    return status


def stop(args):
    pid_file = os.path.join(args.build_dir, "main-job", JOB_PID_FILE)
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
        os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        say("no main job is running")
        return 0
    say(f"asked the main job (pid {pid}) to stop")
    while os.path.exists(f"/proc/{pid}"):
        time.sleep(0.2)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    run_parser = commands.add_parser("run")
    run_parser.add_argument("--build-dir", required=True)
    run_parser.add_argument("--prefix", help="Wine prefix (default: BUILD/wine-run)")
    run_parser.add_argument("--once", action="store_true", help="end as soon as the VPN is CONNECTED")
    commands.add_parser("stop").add_argument("--build-dir", required=True)
    args = parser.parse_args()
    return run(args) if args.command == "run" else stop(args)


if __name__ == "__main__":
    sys.exit(main())
