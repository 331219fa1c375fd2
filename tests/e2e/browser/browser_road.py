#!/usr/bin/env python3
"""The browser asking the native-messaging host, for end-to-end tests: a headless Chromium with
the test extension, whose page sends each question by native messaging to NimbalMsgHost.exe under
Wine and hands the reply back over the debugging pipe.

As a module:
    with BrowserRoad(host_exe, library, wine_prefix) as road:
        road.ask("isRunning")                        # "running" or "not running"
        road.wait_for("getVpnState", "CONNECTED", within=60)

As a command (WINEPREFIX from the environment):
    browser_road.py --host EXE --library DLL [--wait-for NAME] [--within S] [QUESTION...]
asks each QUESTION once and prints its reply, then, with --wait-for, asks getVpnState until the
reply is NAME: exit code 0 when it came, 1 when it did not within S seconds."""

import argparse
import json
import os
import shutil
import signal
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean

from chromium import Chromium, extension_id  # noqa: E402
from native_host import HOST_NAME, NativeHost  # noqa: E402

EXTENSION_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "extension")
# One host start under Wine and its library call (a service start waits a few seconds).
ASK_WITHIN_S = 60
POLL_INTERVAL_S = 0.5


class BrowserRoad:
    def __init__(self, host_exe, library, wine_prefix):
        self._work = tempfile.mkdtemp(prefix="nimbal-browser-")
        self._browser = None
        self.host = None
        try:
            profile = os.path.join(self._work, "profile")
            self.host = NativeHost(os.path.join(self._work, "host"), host_exe, library, wine_prefix)
            self.host.register(profile, extension_id(EXTENSION_DIR))
            self._browser = Chromium(self._work, profile, EXTENSION_DIR)
            self._page = self._browser.open_extension_page("ask.html")
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def ask(self, question, within=ASK_WITHIN_S):
        """Sends {"text": question} through the browser and returns the "text" of the reply."""
        answer = self._browser.evaluate(
            self._page, f"ask({json.dumps(HOST_NAME)}, {json.dumps(question)})", within)
        if "error" in answer:
            raise AssertionError(f"{question}: the browser reports {answer['error']!r}")
        reply = answer["reply"]
        if not isinstance(reply, dict) or set(reply) != {"text"}:
            raise AssertionError(f"{question}: the reply is {reply!r}, not an object with one text")
        return reply["text"]

    def wait_for(self, question, expected, within):
        """Asks `question` again until the reply is `expected`; returns the replies seen in
        order (repeats left out). Fails with those replies when `expected` does not come."""
        seen = []
        deadline = time.monotonic() + within
        while True:
            reply = self.ask(question)
            if not seen or seen[-1] != reply:
                seen.append(reply)
            if reply == expected:
                return seen
            if time.monotonic() >= deadline:
                raise AssertionError(f"{question}: no {expected!r} within {within} s; replies seen: {seen}")
            time.sleep(POLL_INTERVAL_S)

    def diagnostics(self):
        """The host's log and the browser's own complaints, for a failure report."""
        lines = []
        try:
            with open(os.path.join(self._work, "chromium.log"), errors="replace") as f:
                lines = [line for line in f if "dbus" not in line][-40:]
        except OSError:
            pass
        return ("host log:\n" + (self.host.log() if self.host else "")
                + "\nchromium log (last lines, D-Bus noise left out):\n" + "".join(lines))

    def close(self):
        if self._browser:
            self._browser.close()
            self._browser = None
        if self.host:
            self.host.end_leftovers()
        shutil.rmtree(self._work, ignore_errors=True)


def end_on_sigterm():
    """Turns SIGTERM (ctest's timeout, a cancelled run) into SystemExit, so cleanup runs."""
    def on_term(signum, frame):
        raise SystemExit(f"ended by signal {signum}")
    signal.signal(signal.SIGTERM, on_term)


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
