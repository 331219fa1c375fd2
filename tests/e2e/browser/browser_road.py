#!/usr/bin/env python3
"""The browser asking the native-messaging host from the command line (WINEPREFIX from the
environment): asks each QUESTION once and prints its reply, then, with --wait-for, asks getVpnState
until the reply is NAME: exit code 0 when it came, 1 when it did not within S seconds.

    browser_road.py --host EXE --library DLL [--wait-for NAME] [--within S] [QUESTION...]
"""

import argparse
import os
import sys

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "python"))

from nimbal.browser.road import BrowserRoad, end_on_sigterm  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--host", required=True, help="NimbalMsgHost.exe")
    parser.add_argument("--library", required=True, help="NimbalCmdApi.dll")
    parser.add_argument("--wait-for", metavar="NAME", help="a VPN state name to wait for")
    parser.add_argument("--within", type=float, default=60, help="seconds to wait for NAME")
    parser.add_argument("questions", nargs="*", metavar="QUESTION", help='a "text" such as isRunning')
    args = parser.parse_args()
    prefix = os.environ.get("WINEPREFIX")
    if not prefix:
        parser.error("WINEPREFIX is not set")
    end_on_sigterm()
    with BrowserRoad(args.host, args.library, prefix) as road:
        try:
            for question in args.questions:
                print(f"{question}: {road.ask(question)}", flush=True)
            if args.wait_for:
                seen = road.wait_for("getVpnState", args.wait_for, args.within)
                print(f"getVpnState: {' -> '.join(seen)}", flush=True)
        except Exception as failure:  # a wrong reply, a time-out, a browser that went away
            print(f"FAILED: {failure}\n{road.diagnostics()}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
