"""The browser asking the native-messaging host, for end-to-end tests: a headless Chromium with
the test extension, whose page sends each question by native messaging to NimbalMsgHost.exe under
Wine and hands the reply back over the debugging pipe.

    with BrowserRoad(host_exe, library, wine_prefix) as road:
        road.ask("isRunning")                        # "running" or "not running"
        road.wait_for("getVpnState", "CONNECTED", within=60)

tests/e2e/browser/browser_road.py asks it from the command line.
"""

import json
import os
import shutil
import signal
import tempfile
import time

from nimbal.browser.chromium import Chromium, extension_id
from nimbal.browser.native_host import HOST_NAME, NativeHost
from nimbal.paths import BROWSER_EXTENSION

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
            self.host.register(profile, extension_id(BROWSER_EXTENSION))
            self._browser = Chromium(self._work, profile, BROWSER_EXTENSION)
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
