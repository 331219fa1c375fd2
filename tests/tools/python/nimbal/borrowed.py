"""What a test borrows from the machine and the Wine prefix and gives back afterwards: a busy
loopback port, the registry's device identifier, the files of a folder."""

import os
import re
import socket
import subprocess
import threading

from nimbal.control_http import LOOPBACK
from nimbal.wine_service import SWITCH_WITHIN_S


def bindable(port):
    """Whether the service's own probe would find 127.0.0.1:port free: a bind succeeds."""
    probe = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    try:
        probe.bind((LOOPBACK, port))
        return True
    except OSError:
        return False
    finally:
        probe.close()


class PortHolder:
    """A loopback port kept busy as another program keeps it: bound and listening. A client that
    connects is closed at once, so that another job probing the port is not left waiting."""

    def __init__(self, port):
        self.port = port
        self._socket = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        try:
            self._socket.bind((LOOPBACK, port))
            self._socket.listen(8)
        except OSError:
            self._socket.close()
            raise
        self._socket.settimeout(0.2)
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._turn_away, daemon=True)
        self._thread.start()

    def _turn_away(self):
        while not self._stop.is_set():
            try:
                connection, _ = self._socket.accept()
                connection.close()
            except socket.timeout:
                continue
            except OSError:
                return

    def release(self):
        self._stop.set()
        self._thread.join(5)
        self._socket.close()


class RegistryGuid:
    """The device identifier under HKLM\\Software\\Kestrova Ltd.\\Nimbal Privacy in both registry
    views, read before the test so that it can be put back after it: the service's check-in writes it."""

    KEY = r"HKLM\Software\Kestrova Ltd.\Nimbal Privacy"
    VALUE = re.compile(r"^\s*guid\s+REG_SZ\s+(.*?)\s*$", re.MULTILINE)

    def __init__(self, prefix):
        self._env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
        self._saved = {view: self._read(view) for view in ("/reg:32", "/reg:64")}

    def _reg(self, *args):
        return subprocess.run(["wine", "reg", *args], env=self._env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=SWITCH_WITHIN_S)

    def _read(self, view):
        """(key exists, value or None)."""
        if self._reg("query", self.KEY, view).returncode != 0:
            return False, None
        done = self._reg("query", self.KEY, "/v", "guid", view)
        found = self.VALUE.search(done.stdout.decode("latin-1")) if done.returncode == 0 else None
        return True, found.group(1) if found else None

    def restore(self):
        for view, (key_existed, value) in self._saved.items():
            if not key_existed:
                self._reg("delete", self.KEY, "/f", view)
            elif value is None:
                self._reg("delete", self.KEY, "/v", "guid", "/f", view)
            else:
                self._reg("add", self.KEY, "/v", "guid", "/t", "REG_SZ", "/d", value, "/f", view)


class FolderFiles:
    """Named files of one folder as they were, put back (or removed) afterwards, and the folder
    removed if it did not exist."""

    def __init__(self, folder, names):
        self.folder = folder
        self._existed = os.path.isdir(folder)
        self._saved = {name: self._read(name) for name in names}

    def file(self, name):
        return os.path.join(self.folder, name)

    def _read(self, name):
        try:
            with open(self.file(name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def clear(self):
        for name in self._saved:
            if os.path.exists(self.file(name)):
                os.remove(self.file(name))

    def restore(self):
        for name, content in self._saved.items():
            if content is None:
                if os.path.exists(self.file(name)):
                    os.remove(self.file(name))
            else:
                with open(self.file(name), "wb") as f:
                    f.write(content)
        if not self._existed and os.path.isdir(self.folder) and not os.listdir(self.folder):
            os.rmdir(self.folder)
