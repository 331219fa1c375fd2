"""The mock vendor API: HTTPS and plain HTTP on one loopback port, with a control interface.

The API host is one host:port for both "https://" endpoints and the "http://" log upload, so each
accepted connection is looked at first: a TLS handshake record (0x16) gets wrapped in TLS.

Control interface (plain HTTP or HTTPS, never recorded):
  POST /__mock/reset                       built-in replies again, no recorded requests
  POST /__mock/reply?path=P&status=S[&delayMs=D][&once=1]
                                           the request body becomes the reply body for P: its
                                           standing reply, or with once=1 one queued before it
  GET  /__mock/requests                    the recorded requests as a JSON array
  POST /__mock/download?name=N&status=S[&chunkBytes=C&chunkDelayMs=D]
                                           the request body is served, with status S, to
                                           GET /download/N; with chunkBytes, in chunks of C bytes
                                           (chunked transfer), each after a pause of D ms

Downloads are recorded like endpoint requests.
"""

import http.server
import json
import socket
import socketserver
import ssl
import sys
import time
import urllib.parse

from script import Download, Reply, UnknownEndpoint

CONTROL_PREFIX = "/__mock/"
DOWNLOAD_PREFIX = "/download/"
TLS_HANDSHAKE = 0x16
# Bounds an idle kept-alive connection and a client that stops half-way.
CONNECTION_TIMEOUT_S = 30


def tls_context(cert_file, key_file):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert_file, key_file)
    return context


def parse_form(body):
    """Form fields in the order sent, decoded as a server would decode them."""
    text = body.decode("utf-8", errors="replace")
    return [list(pair) for pair in urllib.parse.parse_qsl(text, keep_blank_values=True)]


class MockServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, address, script, context):
        self.script = script
        self.context = context
        super().__init__(address, Handler)

    def finish_request(self, request, client_address):
        request.settimeout(CONNECTION_TIMEOUT_S)
        try:
            first = request.recv(1, socket.MSG_PEEK)
        except OSError:
            return
        if not first:
            return
        if first[0] != TLS_HANDSHAKE:
            super().finish_request(request, client_address)
            return
        try:
            connection = self.context.wrap_socket(request, server_side=True)
        except (ssl.SSLError, OSError) as error:
            sys.stderr.write(f"TLS handshake with {client_address[0]}:{client_address[1]} failed: {error}\n")
            return
        try:
            super().finish_request(connection, client_address)
        finally:
            connection.close()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "NimbalMockApi/1.0"

    def do_GET(self):
        self._serve()

    do_POST = do_PUT = do_DELETE = do_PATCH = do_GET

    def _serve(self):
        target = urllib.parse.urlsplit(self.path)
        body = self._read_body()
        if target.path.startswith(CONTROL_PREFIX):
            self._control(target, body)
        elif target.path.startswith(DOWNLOAD_PREFIX):
            self._download(target, body)
        else:
            self._endpoint(target, body)

    def _read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        return self.rfile.read(length) if length > 0 else b""

    def _record(self, target, body):
        scheme = "https" if isinstance(self.connection, ssl.SSLSocket) else "http"
        self.server.script.record({
            "scheme": scheme,
            "method": self.command,
            "path": target.path,
            "query": target.query,
            "headers": [[name, value] for name, value in self.headers.items()],
            "body": body.decode("utf-8", errors="replace"),
            "form": parse_form(body),
        })

    def _endpoint(self, target, body):
        # Recorded before any delay, so a test sees a request whose answer is still pending.
        self._record(target, body)
        reply = self.server.script.take_reply(target.path)
        if reply is None:
            self._send(404, json.dumps({"status": False, "error_message": "No such endpoint"}).encode())
            return
        if reply.delay_ms > 0:
            time.sleep(reply.delay_ms / 1000)
        self._send(reply.status, reply.body)

    def _download(self, target, body):
        self._record(target, body)
        download = self.server.script.download(target.path[len(DOWNLOAD_PREFIX):])
        if download is None:
            self._send(404, b"no such download\n", "text/plain")
            return
        if download.chunk_bytes <= 0:
            self._send(download.status, download.body, "application/octet-stream")
            return
        self.send_response(download.status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        try:
            for start in range(0, len(download.body), download.chunk_bytes):
                time.sleep(download.chunk_delay_ms / 1000)
                chunk = download.body[start:start + download.chunk_bytes]
                self.wfile.write(b"%x\r\n%s\r\n" % (len(chunk), chunk))
                self.wfile.flush()
            self.wfile.write(b"0\r\n\r\n")
        except OSError:
            # The client gave up half-way, as a cancelled download does.
            self.close_connection = True

    def _control(self, target, body):
        action = target.path[len(CONTROL_PREFIX):]
        params = dict(urllib.parse.parse_qsl(target.query, keep_blank_values=True))
        if action == "reset" and self.command == "POST":
            self.server.script.reset()
            self._send(200, b"reset\n", "text/plain")
        elif action == "reply" and self.command == "POST":
            self._script_reply(params, body)
        elif action == "download" and self.command == "POST":
            self._script_download(params, body)
        elif action == "requests" and self.command == "GET":
            records = json.dumps(self.server.script.requests(), ensure_ascii=False)
            self._send(200, records.encode("utf-8"))
        else:
            self._send(404, f"no control action {self.command} {target.path}\n".encode(), "text/plain")

    def _script_reply(self, params, body):
        try:
            path = params["path"]
            status = int(params["status"])
            delay_ms = int(params.get("delayMs", "0"))
            once = params.get("once", "0") == "1"
            if not 100 <= status <= 599 or delay_ms < 0:
                raise ValueError("status or delayMs out of range")
            self.server.script.set_reply(path, Reply(status, body, delay_ms), once)
        except UnknownEndpoint as error:
            self._send(400, f"not an endpoint of the API: {error}\n".encode(), "text/plain")
            return
        except (KeyError, ValueError) as error:
            self._send(400, f"bad reply parameters ({error}); need path, status, optional delayMs, once\n"
                       .encode(), "text/plain")
            return
        self._send(200, b"scripted\n", "text/plain")

    def _script_download(self, params, body):
        try:
            name = params["name"]
            status = int(params["status"])
            chunk_bytes = int(params.get("chunkBytes", "0"))
            chunk_delay_ms = int(params.get("chunkDelayMs", "0"))
            if not name or "/" in name or not 100 <= status <= 599 or chunk_bytes < 0 or chunk_delay_ms < 0:
                raise ValueError("name, status, chunkBytes or chunkDelayMs out of range")
        except (KeyError, ValueError) as error:
            self._send(400, f"bad download parameters ({error}); need name, status, optional chunkBytes, "
                       f"chunkDelayMs\n".encode(), "text/plain")
            return
        self.server.script.set_download(name, Download(status, body, chunk_bytes, chunk_delay_ms))
        self._send(200, b"serving\n", "text/plain")

    def _send(self, status, body, content_type="application/json; charset=utf-8"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, format, *args):
        scheme = "https" if isinstance(self.connection, ssl.SSLSocket) else "http"
        sys.stderr.write(f"{self.log_date_time_string()} {scheme} {format % args}\n")
