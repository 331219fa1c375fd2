"""C:\\ProgramData\\Nimbal Privacy\\ of a Wine prefix: where the service keeps its settings
documents, its log and its VPN files."""

import json
import os
import re
import subprocess

SERVICE_LOG = "Nimbal Privacy Service.log"


def settings_folder(prefix):
    return os.path.join(prefix, "drive_c", "ProgramData", "Nimbal Privacy")


class SettingsFolder:
    """C:\\ProgramData\\Nimbal Privacy\\ of the prefix: the encrypted settings documents and the log."""

    # The service's document key: the first 16 characters of its key text, one byte each.
    KEY_HEX = b"Kq7#Nimbal!vX2pr".hex()
    LOG = SERVICE_LOG
    HTTP_START = re.compile(r"^\S+ \S+:\tWin server starting on port (\d+)\r?$", re.MULTILINE)

    def __init__(self, prefix):
        self.path = settings_folder(prefix)

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
