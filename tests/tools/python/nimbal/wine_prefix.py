"""A Wine prefix of a run's own: made ready and its processes ended by scripts/wine-prefix.sh, its
services kept alive in between."""

import os
import subprocess

from nimbal.paths import WINE_PREFIX_SCRIPT

END_WITHIN_S = 30


def start_prefix(prefix):
    """Creates the prefix if it is not there yet and leaves no service of ours installed in it."""
    subprocess.run([WINE_PREFIX_SCRIPT, "start", prefix], check=True)


def stop_prefix(prefix):
    """Ends every process of the prefix."""
    subprocess.run([WINE_PREFIX_SCRIPT, "stop", prefix], check=True)


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
