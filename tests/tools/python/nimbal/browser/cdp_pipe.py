"""Chromium's debugging protocol over --remote-debugging-pipe: JSON messages ended by a zero byte,
commands written to the browser's descriptor 3 and answers and events read from its descriptor 4.
No network is involved, so nothing but the browser itself can answer."""

import json
import os
import select
import time


class CdpError(Exception):
    pass


class CdpPipe:
    def __init__(self, to_browser, from_browser):
        self._to = to_browser  # raw descriptors, owned by this object
        self._from = from_browser
        self._next_id = 0
        self._pending = b""
        self._events = []

    def close(self):
        for fd in (self._to, self._from):
            try:
                os.close(fd)
            except OSError:
                pass

    def call(self, method, params=None, session=None, within=30):
        """Sends a command and returns its result; a protocol error raises CdpError."""
        self._next_id += 1
        message = {"id": self._next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        data = json.dumps(message).encode() + b"\0"
        while data:
            data = data[os.write(self._to, data):]
        deadline = time.monotonic() + within
        while True:
            answer = self._receive(deadline, f"{method}: no answer within {within} s")
            if answer.get("id") == message["id"]:
                if "error" in answer:
                    raise CdpError(f"{method}: {answer['error']}")
                return answer.get("result", {})
            if "method" in answer:
                self._events.append(answer)

    def wait_event(self, method, session=None, within=30):
        """Returns the first event named `method` (of `session`) that has not been taken yet."""
        deadline = time.monotonic() + within
        while True:
            for event in self._events:
                if event["method"] == method and event.get("sessionId") == session:
                    self._events.remove(event)
                    return event.get("params", {})
            answer = self._receive(deadline, f"no {method} event within {within} s")
            if "method" in answer:
                self._events.append(answer)

    def _receive(self, deadline, timeout_text):
        while b"\0" not in self._pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self._from], [], [], left)[0]:
                raise TimeoutError(timeout_text)
            chunk = os.read(self._from, 1 << 16)
            if not chunk:
                raise CdpError("the browser closed its debugging pipe")
            self._pending += chunk
        message, self._pending = self._pending.split(b"\0", 1)
        return json.loads(message)
