"""Debian's Chromium, headless, with one unpacked extension, driven over its debugging pipe."""

import base64
import ctypes
import hashlib
import json
import os
import signal
import subprocess

from nimbal.browser.cdp_pipe import CdpPipe

# The browser itself rather than Debian's /usr/bin/chromium wrapper, which adds flags of its own
# (remote extensions, an empty --load-extension) to every start.
CHROMIUM = "/usr/lib/chromium/chromium"

# Headless, no sandbox (CI runs as root) and nothing that reaches beyond this machine.
FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--disable-quic",
    "--no-first-run",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--remote-debugging-pipe",
]

CLOSE_WAIT_S = 10
PR_SET_PDEATHSIG = 1


def extension_id(extension_dir):
    """The id Chromium gives the extension: from the public key in its manifest, so it is the
    same in every profile and can be named in a host manifest before the browser starts."""
    with open(os.path.join(extension_dir, "manifest.json")) as f:
        key = base64.b64decode(json.load(f)["key"])
    digest = hashlib.sha256(key).hexdigest()[:32]
    return "".join(chr(ord("a") + int(c, 16)) for c in digest)


class Chromium:
    """A running browser. close() ends it and every process it started."""

    def __init__(self, work_dir, user_data_dir, extension_dir):
        if not os.access(CHROMIUM, os.X_OK):
            raise RuntimeError(f"{CHROMIUM} is missing: the setup installs Debian's chromium package")
        self.extension_id = extension_id(extension_dir)
        self._work_dir = work_dir
        # Crash reports and caches go under the user's configuration folders, whatever the
        # profile: keep them in the test's folder too.
        env = dict(os.environ, XDG_CONFIG_HOME=os.path.join(work_dir, "config"),
                   XDG_CACHE_HOME=os.path.join(work_dir, "cache"))
        commands_read, commands_write = os.pipe()
        answers_read, answers_write = os.pipe()

        def in_child():
            # Descriptors 3 and 4 are the debugging pipe. Duplicating first keeps either from being
            # overwritten when os.pipe() already handed out 3 or 4.
            commands, answers = os.dup(commands_read), os.dup(answers_write)
            os.dup2(commands, 3)
            os.dup2(answers, 4)
            # The browser does not outlive a driver that is killed outright.
            ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)

        with open(os.path.join(work_dir, "chromium.log"), "wb") as log:
            self._process = subprocess.Popen(
                [CHROMIUM, *FLAGS, f"--user-data-dir={user_data_dir}",
                 f"--load-extension={extension_dir}", "about:blank"],
                env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                preexec_fn=in_child, close_fds=False, start_new_session=True)
        os.close(commands_read)
        os.close(answers_write)
        self.cdp = CdpPipe(commands_write, answers_read)

    def open_extension_page(self, page, within=30):
        """Loads chrome-extension://ID/page in a new tab and returns the tab's protocol session."""
        target = self.cdp.call("Target.createTarget", {"url": "about:blank"}, within=within)["targetId"]
        session = self.cdp.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                within=within)["sessionId"]
        self.cdp.call("Page.enable", session=session, within=within)
        url = f"chrome-extension://{self.extension_id}/{page}"
        navigated = self.cdp.call("Page.navigate", {"url": url}, session=session, within=within)
        if "errorText" in navigated:
            raise RuntimeError(f"{url}: {navigated['errorText']}")
        self.cdp.wait_event("Page.loadEventFired", session=session, within=within)
        return session

    def evaluate(self, session, expression, within):
        """The value of `expression` in the tab, once the promise it gives has settled."""
        result = self.cdp.call("Runtime.evaluate", {
            "expression": expression, "awaitPromise": True, "returnByValue": True},
            session=session, within=within)
        if "exceptionDetails" in result:
            raise RuntimeError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def close(self):
        try:
            self.cdp.call("Browser.close", within=CLOSE_WAIT_S)
        except Exception:
            pass  # it may be gone already; what is left is killed below
        try:
            self._process.wait(CLOSE_WAIT_S)
        except subprocess.TimeoutExpired:
            pass
        # Its renderers, helpers and the hosts it started share its process group; the crash
        # handlers leave it, and are known by the test folder on their command lines.
        try:
            os.killpg(self._process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self._process.wait()
        self.cdp.close()
        for pid in processes_naming(self._work_dir):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass


def processes_naming(text):
    """The processes of Chromium's folder whose command lines hold `text`."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            exe = os.readlink(f"/proc/{entry}/exe")
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                cmdline = f.read()
        except OSError:
            continue
        if exe.startswith(os.path.dirname(CHROMIUM) + "/") and text.encode() in cmdline:
            found.append(int(entry))
    return found
