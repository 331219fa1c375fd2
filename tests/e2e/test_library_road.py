#!/usr/bin/env python3
"""The library road, end to end: a program of its own loads the real NimbalCmdApi.dll and calls
connectVPN, getVpnState, disconnectVPN and vpnUserLogOut against the installed service, in the
main job's environment (the launcher as the daemon, the mock API, a real OpenVPN peer) in a Wine
prefix of the test's own. Then a check-in reply with another daemon management port and watchdog
interval, which the next connect and its watchdog follow.

    test_library_road.py --build-dir DIR --prefix P --caller CMDAPI_CALL_EXE --library DLL
"""

import argparse
import os
import re
import subprocess
import sys
import time

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "python"))

from nimbal.loopback_vpn import checkin_reply  # noqa: E402
from nimbal.main_job import MainJob  # noqa: E402
from nimbal.mock_api import CHECKIN_PATH  # noqa: E402
from nimbal.settings_folder import SERVICE_LOG, settings_folder  # noqa: E402

STATE_WITHIN_S = 90
CALL_WITHIN_S = 60
# A check-in's new values: the daemon's management port and the watchdog's interval in seconds.
NEW_MANAGEMENT_PORT = 28721
NEW_DIAGNOSTICS_INTERVAL_S = 2
WATCHDOG_PASS = "ZazozeControlService::checkOpenVpnStateThread OpenVPN works correctly"


class Library:
    """The library's exports, each called in a fresh process through the caller program."""

    def __init__(self, caller, library, prefix):
        self._command = ["wine", caller, library]
        self._env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")

    def call(self, export):
        done = subprocess.run(self._command + [export], env=self._env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=CALL_WITHIN_S)
        text = done.stderr.decode("latin-1").replace("\r\n", "\n")
        found = re.search(rf"^{export} (\S+)$", text, re.MULTILINE)
        if done.returncode != 0 or not found:
            raise AssertionError(f"{export}: the caller ended with {done.returncode}:\n{text}")
        return found.group(1)

    def expect(self, export, wanted):
        result = self.call(export)
        print(f"  {export} -> {result}", flush=True)
        if result != wanted:
            raise AssertionError(f"{export} returned {result}, not {wanted}")

    def wait_for_state(self, wanted, allowed_before):
        seen = []
        deadline = time.monotonic() + STATE_WITHIN_S
        while True:
            state = self.call("getVpnState")
            if not seen or seen[-1] != state:
                seen.append(state)
            if state == wanted:
                break
            if time.monotonic() > deadline:
                raise AssertionError(f"getVpnState: no {wanted} within {STATE_WITHIN_S} s; seen {seen}")
            time.sleep(0.5)
        print(f"  getVpnState -> {' then '.join(seen)}", flush=True)
        if not set(seen[:-1]) <= allowed_before:
            raise AssertionError(f"getVpnState: replies seen {seen}")


def service_log(job):
    with open(os.path.join(settings_folder(job.prefix), SERVICE_LOG), encoding="latin-1") as log:
        return log.read()


def expect_reply(reply, status, reason, body):
    if (reply.status, reply.reason, reply.text()) != (status, reason, body):
        raise AssertionError(f"got {reply}, not {status} {reason} {body!r}")


def library_road(job, library):
    print("logged in; the library asks the service", flush=True)
    job.log_in()
    library.expect("getVpnState", "0")

    print("connectVPN: the VPN is wanted, and the service connects", flush=True)
    library.expect("connectVPN", "true")
    library.wait_for_state("3", allowed_before={"0", "1", "2"})

    print("disconnectVPN", flush=True)
    library.expect("disconnectVPN", "true")
    library.wait_for_state("0", allowed_before={"3", "2", "1"})

    print("vpnUserLogOut: the stored account is gone", flush=True)
    library.expect("vpnUserLogOut", "done")
    # Its removals are sent without waiting for replies: the last one may take a moment.
    deadline = time.monotonic() + 30
    while job.control.post("/setting/get", {"name": "Hidden.VpnUser.rememberMe"}).text() and \
            time.monotonic() < deadline:
        time.sleep(0.2)
    expect_reply(job.control.post("/accounts/token"), 200, "Token not exist", "")
    for key in ("Hidden.VpnUser.login", "Hidden.VpnUser.rememberMe"):
        expect_reply(job.control.post("/setting/get", {"name": key}), 200, "OK", "")


def checkin_takes_effect(job, library):
    print("a check-in hands out another management port and watchdog interval", flush=True)
    reply = checkin_reply(NEW_MANAGEMENT_PORT)
    reply["vpnDiagnosticsInterval"] = NEW_DIAGNOSTICS_INTERVAL_S
    before = len(job.mock.requests(CHECKIN_PATH))
    job.mock.reply(CHECKIN_PATH, 200, reply)
    expect_reply(job.control.post("/user/relogin"), 200, "OK", "Relogining")
    deadline = time.monotonic() + 60
    while len(job.mock.requests(CHECKIN_PATH)) <= before:
        if time.monotonic() > deadline:
            raise AssertionError("user/relogin brought no check-in")
        time.sleep(0.2)
    for key, value in (("UpdatableSettings.ovpnControlPort", str(NEW_MANAGEMENT_PORT)),
                       ("UpdatableSettings.vpnDiagnosticsInterval", str(NEW_DIAGNOSTICS_INTERVAL_S))):
        deadline = time.monotonic() + 30
        while job.control.post("/setting/get", {"name": key}).text() != value:
            if time.monotonic() > deadline:
                raise AssertionError(f"{key} did not become {value}")
            time.sleep(0.2)
        print(f"  {key} = {value}", flush=True)

    passes_before = service_log(job).count(WATCHDOG_PASS)
    library.expect("connectVPN", "true")
    library.wait_for_state("3", allowed_before={"0", "1", "2"})
    launched = [line for line in service_log(job).splitlines() if "\tLaunched " in line]
    if not launched or not launched[-1].endswith(f"--management localhost {NEW_MANAGEMENT_PORT}"):
        raise AssertionError(f"the daemon was not launched on the new management port: {launched[-1:]}")
    print(f"  daemon launched with --management localhost {NEW_MANAGEMENT_PORT}", flush=True)
    # At the default interval of 60 s the watchdog would check once a minute; at 2 s, three
    # checks come well within half a minute.
    deadline = time.monotonic() + 30
    while service_log(job).count(WATCHDOG_PASS) < passes_before + 3:
        if time.monotonic() > deadline:
            raise AssertionError("the watchdog did not check every few seconds")
        time.sleep(0.5)
    print(f"  watchdog checks every {NEW_DIAGNOSTICS_INTERVAL_S} s", flush=True)
    library.expect("disconnectVPN", "true")
    library.wait_for_state("0", allowed_before={"3", "2", "1"})


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--caller", required=True, help="cmdapi_call.exe")
    parser.add_argument("--library", required=True, help="NimbalCmdApi.dll")
    args = parser.parse_args()

    job = MainJob(os.path.abspath(args.build_dir), os.path.abspath(args.prefix))
    try:
        job.set_up()
        job.install()
        library = Library(args.caller, args.library, job.prefix)
        library_road(job, library)
        checkin_takes_effect(job, library)
    except Exception as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        return 1
    finally:
        job.tear_down()
    print("the library road passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
