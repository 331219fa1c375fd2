"""What the mock answers on each endpoint and what it has been asked, shared by all connections."""

import threading
from dataclasses import dataclass

import endpoints


@dataclass(frozen=True)
class Reply:
    status: int
    body: bytes
    delay_ms: int = 0


@dataclass(frozen=True)
class Download:
    status: int
    body: bytes
    chunk_bytes: int = 0      # 0: the whole body at once, with a length
    chunk_delay_ms: int = 0   # pause before each chunk


class UnknownEndpoint(ValueError):
    pass


class Script:
    def __init__(self):
        self._lock = threading.Lock()
        self.reset()

    def reset(self):
        with self._lock:
            self._defaults = {path: Reply(200, endpoints.default_body(path)) for path in endpoints.ENDPOINTS}
            self._queues = {path: [] for path in endpoints.ENDPOINTS}
            self._requests = []
            self._downloads = {}

    def set_reply(self, path, reply, once):
        """Replaces the path's standing reply, or with `once` queues one for a single request."""
        with self._lock:
            if path not in self._defaults:
                raise UnknownEndpoint(path)
            if once:
                self._queues[path].append(reply)
            else:
                self._defaults[path] = reply

    def take_reply(self, path):
        """The reply for one request on `path`; None when it is not an endpoint."""
        with self._lock:
            if path not in self._defaults:
                return None
            queue = self._queues[path]
            return queue.pop(0) if queue else self._defaults[path]

    def set_download(self, name, download):
        with self._lock:
            self._downloads[name] = download

    def download(self, name):
        """The file served under `name`; None when no test has named it."""
        with self._lock:
            return self._downloads.get(name)

    def record(self, request):
        with self._lock:
            self._requests.append({"seq": len(self._requests) + 1, **request})

    def requests(self):
        with self._lock:
            return list(self._requests)
