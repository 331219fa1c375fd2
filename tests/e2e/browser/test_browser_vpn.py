#!/usr/bin/env python3
"""The browser watching a real VPN come and go: the main job's environment (the service with the
launcher beside it, the mock API, a real OpenVPN peer) in a Wine prefix of the test's own; the
VPN is connected and disconnected through the service's HTTP control server while a real headless
Chromium asks NimbalMsgHost.exe, through NimbalCmdApi.dll and the pipe, for the state.

    test_browser_vpn.py --build-dir DIR --prefix P --host EXE --library DLL
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "python"))

from nimbal.browser.road import BrowserRoad, end_on_sigterm  # noqa: E402
from nimbal.main_job import MainJob  # noqa: E402

CONNECTED_WITHIN_S = 90
DISCONNECTED_WITHIN_S = 60
# What the browser may see while the daemon comes up or goes down.
BETWEEN = {"CONNECTING", "DISCONNECTED"}


def expect(road, question, wanted):
    reply = road.ask(question)
    print(f"  {question} -> {reply}", flush=True)
    if reply != wanted:
        raise AssertionError(f"{question}: the browser got {reply!r}, not {wanted!r}")


def expect_eventually(road, wanted, start, within):
    seen = road.wait_for("getVpnState", wanted, within)
    print(f"  getVpnState -> {' then '.join(seen)}", flush=True)
    if not set(seen[:-1]) <= {start} | BETWEEN:
        raise AssertionError(f"getVpnState: replies seen {seen}")


def scenario(road, job):
    print("service installed, VPN not wanted", flush=True)
    expect(road, "isInstalled", "installed")
    expect(road, "isRunning", "running")
    expect(road, "getVpnState", "NOTCONNECTED")

    print("connect through the control server", flush=True)
    job.connect()
    expect_eventually(road, "CONNECTED", "NOTCONNECTED", CONNECTED_WITHIN_S)
    expect(road, "isRunning", "running")

    print("disconnect through the control server", flush=True)
    reply = job.control.post("/vpn/disconnect")
    if (reply.status, reply.reason, reply.text()) != (200, "OK", "Disconnecting"):
        raise AssertionError(f"vpn/disconnect answered {reply}")
    expect_eventually(road, "NOTCONNECTED", "CONNECTED", DISCONNECTED_WITHIN_S)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--host", required=True, help="NimbalMsgHost.exe")
    parser.add_argument("--library", required=True, help="NimbalCmdApi.dll")
    args = parser.parse_args()
    end_on_sigterm()

    job = MainJob(os.path.abspath(args.build_dir), os.path.abspath(args.prefix))
    try:
        job.set_up()
        job.install()
        with BrowserRoad(args.host, args.library, job.prefix) as road:
            try:
                scenario(road, job)
            except Exception as failure:  # a wrong reply, a time-out, a browser that went away
                print(f"FAILED: {failure}\n{road.diagnostics()}", file=sys.stderr)
                return 1
    finally:
        job.tear_down()
    print("the browser saw the VPN connect and disconnect")
    return 0


if __name__ == "__main__":
    sys.exit(main())
