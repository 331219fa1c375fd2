#!/usr/bin/env python3
"""The browser road, end to end: a real headless Chromium asks NimbalMsgHost.exe, which asks the
real NimbalCmdApi.dll, which asks the installed service "Nimbal" in the test's Wine prefix.

    test_browser_road.py --service EXE --host EXE --library DLL     (WINEPREFIX from the environment)
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "python"))

from nimbal.browser.road import BrowserRoad, end_on_sigterm  # noqa: E402
from nimbal.wine_service import WineService  # noqa: E402

# The library's answer while it cannot reach the service's pipe.
UNREACHABLE_STATE = "DISCONNECTED"
# A running service with no VPN wanted.
IDLE_STATE = "NOTCONNECTED"


class CheckedRoad:
    """Asks through the browser and checks each reply, counting the host starts it expects."""

    def __init__(self, road):
        self.road = road
        self.asked = 0

    def expect(self, question, wanted):
        reply = self.road.ask(question)
        self.asked += 1
        print(f"  {question} -> {reply}", flush=True)
        if reply != wanted:
            raise AssertionError(f"{question}: the browser got {reply!r}, not {wanted!r}")
        # Each message is its own host run, started by the browser through the launcher.
        if self.road.host.started() != self.asked:
            raise AssertionError(f"the browser started the host {self.road.host.started()} times "
                                 f"for {self.asked} messages")

    def expect_eventually(self, question, wanted, allowed_before, within=30):
        seen = self.road.wait_for(question, wanted, within)
        print(f"  {question} -> {' then '.join(seen)}", flush=True)
        if not set(seen[:-1]) <= allowed_before:
            raise AssertionError(f"{question}: replies seen {seen}")
        # Every ask was one host run; the count goes on from there.
        self.asked = self.road.host.started()


def scenario(road, service):
    print("service not installed", flush=True)
    road.expect("isInstalled", "not installed")
    road.expect("isRunning", "not running")
    road.expect("getVpnState", UNREACHABLE_STATE)

    print("service installed and running", flush=True)
    service.install()
    road.expect("isInstalled", "installed")
    road.expect("isRunning", "running")
    # Running is reported before the pipe is up: on a loaded machine the library's one wait for
    # it may still end before it is, and the first answers be the unreachable one.
    road.expect_eventually("getVpnState", IDLE_STATE, allowed_before={UNREACHABLE_STATE})

    print("service stopped", flush=True)
    service.stop()
    road.expect("isInstalled", "installed")
    road.expect("isRunning", "not running")
    # To reach the pipe the library starts the stopped service; its pipe may come up only after
    # the library's first wait, so the first answers may still be the unreachable one.
    road.expect_eventually("getVpnState", IDLE_STATE, allowed_before={UNREACHABLE_STATE})
    road.expect("isRunning", "running")

    print("service removed", flush=True)
    service.remove()
    road.expect("isInstalled", "not installed")
    road.expect("isRunning", "not running")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--service", required=True, help="NimbalService.exe")
    parser.add_argument("--host", required=True, help="NimbalMsgHost.exe")
    parser.add_argument("--library", required=True, help="NimbalCmdApi.dll")
    args = parser.parse_args()
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        parser.error("WINEPREFIX is not set")
    end_on_sigterm()

    service = WineService(args.service, prefix)
    service.remove_quietly()  # a run that died may have left it installed
    try:
        with BrowserRoad(args.host, args.library, prefix) as road:
            try:
                scenario(CheckedRoad(road), service)
            except Exception as failure:  # a wrong reply, a time-out, a browser that went away
                print(f"FAILED: {failure}\n{road.diagnostics()}", file=sys.stderr)
                return 1
    finally:
        service.remove_quietly()
    print("the browser road passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
