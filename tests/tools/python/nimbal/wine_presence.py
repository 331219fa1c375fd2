"""Keeps a Wine prefix's services alive."""

import os
import subprocess

END_WITHIN_S = 30


class PrefixPresence:
    """A command prompt kept running in the prefix: Wine ends its services, ours among them, soon
    after the last ordinary program of a prefix has ended."""

    def __init__(self, prefix):
        self._process = subprocess.Popen(["wine", "cmd.exe"], env=dict(os.environ, WINEPREFIX=prefix),
                                         stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL, start_new_session=True)

    def end(self):
        self._process.stdin.close()
        try:
            self._process.wait(END_WITHIN_S)
        except subprocess.TimeoutExpired:
            self._process.kill()
            self._process.wait()
