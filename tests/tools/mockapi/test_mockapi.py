#!/usr/bin/env python3
"""The mock vendor API's server, run in this process on a free loopback port.

Needs NIMBAL_MOCK_API_CERT_DIR: the folder that the setup made the certificate in.
"""

import base64
import http.client
import json
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean

import endpoints  # noqa: E402
import mockapi  # noqa: E402
import server  # noqa: E402

CERT_DIR = os.environ.get("NIMBAL_MOCK_API_CERT_DIR", "/var/cache/nimbal/mock-api")
MOCKAPI = os.path.join(os.path.dirname(os.path.abspath(__file__)), "mockapi.py")
TIMEOUT_S = 30


class QuietHandler(server.Handler):
    def log_message(self, format, *args):
        pass


class MockServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.server = mockapi.make_server(0, CERT_DIR)
        cls.server.RequestHandlerClass = QuietHandler
        cls.port = cls.server.server_address[1]
        cls.thread = threading.Thread(target=cls.server.serve_forever, daemon=True)
        cls.thread.start()
        cls.trusting = ssl.create_default_context(cafile=os.path.join(CERT_DIR, "ca.crt"))

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.server.server_close()
        cls.thread.join(TIMEOUT_S)

    def setUp(self):
        self.control("POST", "/__mock/reset")

    def connection(self, scheme, host="localhost"):
        if scheme == "https":
            return http.client.HTTPSConnection(host, self.port, timeout=TIMEOUT_S, context=self.trusting)
        return http.client.HTTPConnection(host, self.port, timeout=TIMEOUT_S)

    def exchange(self, connection, method, path, body=b"", headers=None):
        connection.request(method, path, body=body, headers=headers or {})
        response = connection.getresponse()
        return response.status, response.read()

    def request(self, scheme, path, body=b"a=1", method="POST", headers=None):
        connection = self.connection(scheme)
        try:
            return self.exchange(connection, method, path, body, headers)
        finally:
            connection.close()

    def control(self, method, target, body=b""):
        return self.request("http", target, body, method)

    def recorded(self):
        status, body = self.control("GET", "/__mock/requests")
        self.assertEqual(status, 200)
        return json.loads(body)

    def test_tls_and_plain_http_share_the_port_and_keep_connections_alive(self):
        for scheme, host in (("https", "localhost"), ("https", "127.0.0.1"), ("http", "localhost")):
            connection = self.connection(scheme, host)
            try:
                for _ in range(2):
                    status, _ = self.exchange(connection, "POST", "/v3/support", b"message=hi")
                    self.assertEqual(status, 200)
            finally:
                connection.close()
        self.assertEqual([r["scheme"] for r in self.recorded()], ["https"] * 4 + ["http"] * 2)

    def test_a_download_is_served_whole_or_in_chunks_with_its_status_and_recorded(self):
        payload = bytes(range(256)) * 40
        cases = (("whole", 200, ""), ("chunked", 200, "&chunkBytes=1000&chunkDelayMs=1"), ("missing", 404, ""))
        for name, status, delivery in cases:
            with self.subTest(name):
                answer = self.control("POST", f"/__mock/download?name={name}.bin&status={status}{delivery}", payload)
                self.assertEqual(answer[0], 200)
                connection = self.connection("http")
                try:
                    connection.request("GET", f"/download/{name}.bin")
                    response = connection.getresponse()
                    self.assertEqual(response.status, status)
                    self.assertEqual(response.read(), payload)
                    self.assertEqual(response.getheader("Transfer-Encoding") == "chunked", bool(delivery))
                finally:
                    connection.close()
        self.assertEqual(self.request("https", "/download/unnamed.bin", method="GET")[0], 404)
        self.assertEqual(self.control("POST", "/__mock/download?name=a/b&status=200")[0], 400)
        self.assertEqual([r["path"] for r in self.recorded()],
                         ["/download/whole.bin", "/download/chunked.bin", "/download/missing.bin",
                          "/download/unnamed.bin"])

    def test_a_reset_forgets_the_downloads(self):
        self.control("POST", "/__mock/download?name=f.bin&status=200", b"x")
        self.control("POST", "/__mock/reset")
        self.assertEqual(self.request("http", "/download/f.bin", method="GET")[0], 404)

    def test_a_failed_tls_handshake_leaves_the_server_serving(self):
        with socket.create_connection(("127.0.0.1", self.port), timeout=TIMEOUT_S) as raw:
            raw.sendall(b"\x16\x03\x01\x00\x05hello")
            raw.shutdown(socket.SHUT_WR)
            raw.recv(1024)
        distrusting = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)  # no authority loaded at all
        connection = http.client.HTTPSConnection("localhost", self.port, timeout=TIMEOUT_S, context=distrusting)
        try:
            with self.assertRaises(ssl.SSLCertVerificationError):
                self.exchange(connection, "POST", "/v3/support")
        finally:
            connection.close()
        self.assertEqual(self.request("https", "/v3/support")[0], 200)

    def test_every_endpoint_answers_by_default_with_what_its_client_reads(self):
        def base64_text(value):
            return base64.b64decode(value, validate=True).decode("ascii")

        checks = {
            "/v3/client/checkin": lambda r: [r["version"] == "1.1.0.33"] + [
                r[key] is not None for key in (
                    "regexpWhite", "regexpBlack", "updateRequestInterval", "updateRequestIntervalIfFailed",
                    "vpnDiagnosticsInterval", "ovpnControlPort", "remindOnBrowserDays", "agentIconUpdTimeout")],
            "/v3/servers/list": lambda r: [len(r["servers"]) > 0],
            "/v3/server/connect": lambda r: ["\n" in base64_text(r["auth"]), "remote " in base64_text(r["config"])],
            "/v3/products/list": lambda r: [len(r["products"]) > 0],
            "/v3/accounts/register": lambda r: [r["status"] is True, r["message"] != ""],
            "/v3/accounts/login": lambda r: [r["status"] is True, r["token"] != ""],
            "/v3/accounts/orders": lambda r: ["orders" in r],
            "/v3/accounts/reset": lambda r: [r["status"] is True],
            "/v3/accounts/limits": lambda r: [r["time_left"] is not None],
            "/v3/support": lambda r: [r["status"] is True],
            "/v3/accounts/autologined": lambda r: [r["status"] is True],
            "/user/log/": lambda r: [len(r) > 0],
        }
        self.assertEqual(sorted(checks), sorted(endpoints.ENDPOINTS))
        for path, check in checks.items():
            with self.subTest(path=path):
                status, body = self.request("http" if path == "/user/log/" else "https", path)
                self.assertEqual(status, 200)
                reply = json.loads(body)
                self.assertTrue(all(check(reply)), reply)

    def test_queued_replies_come_before_the_standing_one_and_reset_restores_the_default(self):
        path = "/v3/accounts/login"
        for target, body in ((f"/__mock/reply?path={path}&status=200&once=1", b"one"),
                             (f"/__mock/reply?path={path}&status=401&once=1", b"two"),
                             (f"/__mock/reply?path={path}&status=500", b"standing")):
            self.assertEqual(self.control("POST", target, body)[0], 200)
        answers = [self.request("https", path) for _ in range(4)]
        self.assertEqual(answers, [(200, b"one"), (401, b"two"), (500, b"standing"), (500, b"standing")])
        self.assertEqual([r["seq"] for r in self.recorded()], [1, 2, 3, 4])

        self.control("POST", "/__mock/reset")
        self.assertEqual(self.recorded(), [])
        self.assertEqual(self.request("https", path), (200, endpoints.default_body(path)))

    def test_bad_scripting_is_refused_and_changes_nothing(self):
        for target in ("/__mock/reply?path=/v3/nowhere&status=200",
                       "/__mock/reply?status=200",
                       "/__mock/reply?path=/v3/support",
                       "/__mock/reply?path=/v3/support&status=abc",
                       "/__mock/reply?path=/v3/support&status=99",
                       "/__mock/reply?path=/v3/support&status=200&delayMs=-1"):
            with self.subTest(target=target):
                self.assertEqual(self.control("POST", target, b"changed")[0], 400)
        self.assertEqual(self.request("https", "/v3/support"), (200, endpoints.default_body("/v3/support")))

    def test_unknown_paths_are_answered_404_and_recorded(self):
        status, _ = self.request("https", "/v3/client/checkin/", b"x=1")
        self.assertEqual(status, 404)
        self.assertEqual(self.control("GET", "/__mock/nothing")[0], 404)
        [record] = self.recorded()
        self.assertEqual((record["path"], record["body"]), ("/v3/client/checkin/", "x=1"))

    def test_a_request_is_recorded_with_its_headers_in_order_and_its_form_fields(self):
        cases = [
            ("deviceId=d1&platform=windows&vpnSrvId=", [["deviceId", "d1"], ["platform", "windows"], ["vpnSrvId", ""]]),
            ("brand=Nimbal%20Privacy&x=a+b&y=%2B", [["brand", "Nimbal Privacy"], ["x", "a b"], ["y", "+"]]),
            ("b=2&a=1&b=3&flag", [["b", "2"], ["a", "1"], ["b", "3"], ["flag", ""]]),
            ("", []),
        ]
        for body, form in cases:
            self.request("https", "/v3/server/connect?v=1", body.encode(), headers={
                "Authorization": "Bearer t", "Content-Type": "application/x-www-form-urlencoded"})
        records = self.recorded()
        self.assertEqual([r["form"] for r in records], [form for _, form in cases])
        self.assertEqual([r["body"] for r in records], [body for body, _ in cases])
        first = records[0]
        self.assertEqual((first["method"], first["path"], first["query"]), ("POST", "/v3/server/connect", "v=1"))
        names = [name for name, _ in first["headers"]]
        self.assertLess(names.index("Authorization"), names.index("Content-Type"))
        self.assertIn(["Authorization", "Bearer t"], first["headers"])

    def test_a_delay_holds_back_the_reply_by_at_least_its_length(self):
        self.control("POST", "/__mock/reply?path=/v3/support&status=200&delayMs=400", b"late")
        began = time.monotonic()
        self.assertEqual(self.request("https", "/v3/support"), (200, b"late"))
        self.assertGreaterEqual(time.monotonic() - began, 0.4)


class LifecycleTest(unittest.TestCase):
    def run_mockapi(self, *args):
        return subprocess.run([sys.executable, MOCKAPI, *args], capture_output=True, text=True, timeout=TIMEOUT_S)

    def test_start_runs_it_in_the_background_and_stop_ends_it(self):
        with tempfile.TemporaryDirectory() as state, socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
            probe.close()
            started = self.run_mockapi("start", "--port", str(port), "--cert-dir", CERT_DIR, "--state-dir", state)
            self.assertEqual(started.returncode, 0, started.stderr)
            pid = mockapi.running_pid(state)
            try:
                self.assertIsNotNone(pid)
                with socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT_S):
                    pass
            finally:
                self.assertEqual(self.run_mockapi("stop", "--state-dir", state).returncode, 0)
            self.assertIsNone(mockapi.running_pid(state))
            self.assertFalse(os.path.exists(os.path.join(state, mockapi.PID_FILE)))
            with self.assertRaises(ConnectionRefusedError):
                socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT_S).close()

    def test_start_on_a_port_in_use_fails_and_says_so(self):
        with tempfile.TemporaryDirectory() as state, socket.socket() as busy:
            busy.bind(("127.0.0.1", 0))
            busy.listen()
            port = busy.getsockname()[1]
            started = self.run_mockapi("start", "--port", str(port), "--cert-dir", CERT_DIR, "--state-dir", state)
            self.assertEqual(started.returncode, 1)
            self.assertIn("NIMBAL_MOCK_API_PORT", started.stderr)
            self.assertIsNone(mockapi.running_pid(state))


if __name__ == "__main__":
    unittest.main()
