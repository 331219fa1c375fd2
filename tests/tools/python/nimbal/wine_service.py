"""The service "Nimbal" in a Wine prefix, driven by the service program's own switches."""

import os
import re
import subprocess

# Install, start and stop each wait for the service to settle; Wine takes a few seconds at most.
SWITCH_WITHIN_S = 120

STARTED = re.compile(r"Starting Nimbal\.*\nNimbal is started\.\n")
INSTALLED = re.compile(r"Nimbal is installed\.\n(.*\n)*Nimbal is started\.\n")
STOPPED = re.compile(r"Stopping Nimbal\.*\nNimbal is stopped\.\n")
REMOVED = re.compile(r"(.*\n)*Nimbal is removed\.\n")


class WineService:
    def __init__(self, service_exe, wine_prefix):
        self._exe = service_exe
        self._env = dict(os.environ, WINEPREFIX=wine_prefix, WINEDEBUG="-all")

    def run(self, switch):
        """The console text of `NimbalService.exe switch`, with line ends as LF."""
        done = subprocess.run(["wine", self._exe, switch], env=self._env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=SWITCH_WITHIN_S)
        text = done.stdout.decode("latin-1").replace("\r\n", "\n")
        if done.returncode != 0:
            raise AssertionError(f"NimbalService.exe {switch} ended with code {done.returncode}:\n{text}")
        return text

    def install(self):
        """Installs the service, which also starts it."""
        self._expect("-install", INSTALLED)

    def start(self):
        self._expect("-start", STARTED)

    def stop(self):
        self._expect("-stop", STOPPED)

    def remove(self):
        self._expect("-remove", REMOVED)

    def remove_quietly(self):
        """Cleanup on every way out: removes the service whatever state it is in, if it is there."""
        try:
            self.run("-remove")
        except (AssertionError, subprocess.TimeoutExpired):
            pass

    def _expect(self, switch, pattern):
        text = self.run(switch)
        if not pattern.fullmatch(text):
            raise AssertionError(f"NimbalService.exe {switch} printed:\n{text}")
