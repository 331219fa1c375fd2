"""The service "Nimbal" installed in a Wine prefix, as a test on the Linux side reaches it: its
settings folder and log, the mock vendor API behind it, and what the test borrows from the prefix
and the machine (a busy loopback port, the registry's device identifier, the VPN files). Its HTTP
control server is reached with control_http's client.
"""

import base64
import http.client
import json
import os
import re
import socket
import subprocess
import threading
import time
import urllib.parse

from nimbal.control_http import LOOPBACK, PATIENCE_S
from nimbal.wine_service import SWITCH_WITHIN_S, WineService

STARTED = re.compile(r"Starting Nimbal\.*\nNimbal is started\.\n")


class InstalledService(WineService):
    def start(self):
        text = self.run("-start")
        if not STARTED.fullmatch(text):
            raise AssertionError(f"NimbalService.exe -start printed:\n{text}")


def wait_for(condition, what, within_s=PATIENCE_S, step_s=0.1):
    """The first true value of condition(), polled until within_s has passed."""
    deadline = time.monotonic() + within_s
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError(f"{what}: not within {within_s} s")
        time.sleep(step_s)


class SettingsFolder:
    """C:\\ProgramData\\Nimbal Privacy\\ of the prefix: the encrypted settings documents and the log."""

    # The service's document key: the first 16 characters of its key text, one byte each.
    KEY_HEX = b"Kq7#Nimbal!vX2pr".hex()
    LOG = "Nimbal Privacy Service.log"
    HTTP_START = re.compile(r"^\S+ \S+:\tWin server starting on port (\d+)\r?$", re.MULTILINE)

    def __init__(self, prefix):
        self.path = os.path.join(prefix, "drive_c", "ProgramData", "Nimbal Privacy")

    def file(self, name):
        return os.path.join(self.path, name)

    def clear(self):
        """Every settings document, its backups and the log."""
        if not os.path.isdir(self.path):
            return
        for name in os.listdir(self.path):
            if name.startswith("settings.params") or (name.startswith("user.") and ".params" in name) \
                    or name == self.LOG:
                os.remove(self.file(name))

    def write_document(self, name, tree):
        """Stored as the service stores it: AES-128-ECB over the zero-padded JSON, without trailing zero bytes."""
        plain = json.dumps(tree).encode("utf-8")
        plain += b"\0" * (-len(plain) % 16)
        cipher = self._openssl("-e", plain).rstrip(b"\0")
        os.makedirs(self.path, exist_ok=True)
        with open(self.file(name), "wb") as f:
            f.write(cipher)

    def document(self, name):
        with open(self.file(name), "rb") as f:
            cipher = f.read()
        cipher += b"\0" * (-len(cipher) % 16)
        return json.loads(self._openssl("-d", cipher).rstrip(b"\0").decode("utf-8"))

    def _openssl(self, direction, data):
        return subprocess.run(["openssl", "enc", direction, "-aes-128-ecb", "-nopad", "-K", self.KEY_HEX],
                              input=data, capture_output=True, check=True).stdout

    def log_text(self):
        try:
            with open(self.file(self.LOG), "rb") as f:
                return f.read().decode("latin-1")
        except FileNotFoundError:
            return ""

    def http_ports(self):
        """The port of each start of the HTTP server that the log records, in order."""
        return [int(port) for port in self.HTTP_START.findall(self.log_text())]


class MockApi:
    """The control interface of the mock vendor API (plain HTTP on its loopback port)."""

    def __init__(self, port):
        self.port = port

    def _call(self, method, target, body=b""):
        connection = http.client.HTTPConnection(LOOPBACK, self.port, timeout=PATIENCE_S)
        try:
            connection.request(method, target, body=body)
            reply = connection.getresponse()
            data = reply.read()
        finally:
            connection.close()
        if reply.status != 200:
            raise AssertionError(f"mock API {method} {target}: {reply.status} {data!r}")
        return data

    def reset(self):
        """Built-in replies again, nothing recorded."""
        self._call("POST", "/__mock/reset")

    def reply(self, path, status, body, once=False):
        """What the endpoint answers from now on; with `once`, only to its next request."""
        if not isinstance(body, (bytes, str)):
            body = json.dumps(body)
        if isinstance(body, str):
            body = body.encode("utf-8")
        query = urllib.parse.urlencode({"path": path, "status": status, "once": "1" if once else "0"})
        self._call("POST", f"/__mock/reply?{query}", body)

    def requests(self, path=None, after=0):
        """The recorded requests to `path` (all paths when None) whose sequence number is above `after`."""
        records = json.loads(self._call("GET", "/__mock/requests"))
        return [r for r in records if r["seq"] > after and (path is None or r["path"] == path)]

    def mark(self):
        """The sequence number of the last recorded request; later ones are above it."""
        records = self.requests()
        return records[-1]["seq"] if records else 0


def form(record):
    """A recorded request's form fields as a dict (a name sent twice fails)."""
    fields = dict(record["form"])
    if len(fields) != len(record["form"]):
        raise AssertionError(f"a field sent twice: {record['form']}")
    return fields


def header(record, name):
    values = [value for key, value in record["headers"] if key.lower() == name.lower()]
    return values[0] if values else None


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


def b64(text):
    return base64.b64encode(text.encode("ascii")).decode("ascii")
