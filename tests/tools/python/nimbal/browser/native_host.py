"""The native-messaging host as the browser finds it: NimbalMsgHost.exe with NimbalCmdApi.dll beside
it (the host loads the library by name), a launcher that runs it under Wine, and a host manifest in
the profile's NativeMessagingHosts folder, where Chromium on Linux looks for per-profile hosts."""

import json
import os
import shlex
import shutil
import signal

HOST_NAME = "nimbal.browser_road"
LAUNCHER = "msghost.sh"
PIDS = "hosts.pids"
HOST_EXE = "NimbalMsgHost.exe"


class NativeHost:
    def __init__(self, folder, host_exe, library, wine_prefix):
        self.folder = folder
        os.makedirs(folder, exist_ok=True)
        shutil.copy(host_exe, os.path.join(folder, HOST_EXE))
        shutil.copy(library, os.path.join(folder, "NimbalCmdApi.dll"))
        self.launcher = os.path.join(folder, LAUNCHER)
        q = shlex.quote
        with open(self.launcher, "w") as f:
            f.write(f"""#!/bin/sh
# Started by the browser for each message; the host's log file lands in its own folder.
echo $$ >> {q(os.path.join(folder, PIDS))}
cd {q(folder)} || exit 1
export WINEPREFIX={q(wine_prefix)} WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
exec wine {q(os.path.join(folder, HOST_EXE))}
""")
        os.chmod(self.launcher, 0o755)

    def register(self, user_data_dir, extension_id):
        """Lets the extension `extension_id` of the profile in `user_data_dir` reach this host."""
        hosts = os.path.join(user_data_dir, "NativeMessagingHosts")
        os.makedirs(hosts, exist_ok=True)
        manifest = {
            "name": HOST_NAME,
            "description": "Nimbal Privacy native-messaging host under Wine",
            "path": self.launcher,
            "type": "stdio",
            "allowed_origins": [f"chrome-extension://{extension_id}/"],
        }
        with open(os.path.join(hosts, HOST_NAME + ".json"), "w") as f:
            json.dump(manifest, f, indent=2)

    def started(self):
        """How many times the browser has started the host."""
        return len(self._pids())

    def log(self):
        try:
            with open(os.path.join(self.folder, "logfile.txt"), "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def end_leftovers(self):
        """Kills any host the browser started that is still running."""
        for pid in self._pids():
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if HOST_EXE.encode() not in f.read():
                        continue  # ended, and the pid is someone else's now
                os.kill(pid, signal.SIGKILL)
            except (FileNotFoundError, ProcessLookupError):
                pass

    def _pids(self):
        try:
            with open(os.path.join(self.folder, PIDS)) as f:
                return [int(line) for line in f if line.strip()]
        except FileNotFoundError:
            return []
