#!/usr/bin/env python3
"""The installed service's HTTP control server, asked with real HTTP requests from the Linux side.

The service program is installed into the test's Wine prefix with its own switches and checks in
with the mock vendor API; every URL of its control server is asked over loopback, and each reply's
status, reason phrase and body are compared to the byte. The first port of the server's range is
kept busy before the install; the service is stopped and started again at the end.

    test_service_http.py SERVICE_EXE        (WINEPREFIX and NIMBAL_MOCK_API_PORT from the environment)
"""

import argparse
import os
import signal
import sys
import unittest

sys.dont_write_bytecode = True  # runs from the source tree, which stays clean
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "python"))

from nimbal.borrowed import FolderFiles, PortHolder, RegistryGuid, bindable  # noqa: E402
from nimbal.control_http import ControlClient, answers_ping  # noqa: E402
from nimbal.mock_api import MockApi, b64, form, header  # noqa: E402
from nimbal.polling import wait_for  # noqa: E402
from nimbal.settings_folder import SettingsFolder  # noqa: E402
from nimbal.wine_prefix import PrefixPresence  # noqa: E402
from nimbal.wine_service import WineService  # noqa: E402

FIRST_PORT = 666
LAST_PORT = 999
VERSION = "1.1.0.33"

CHECKIN = "/v3/client/checkin"
LOGIN = "/v3/accounts/login"
REGISTER = "/v3/accounts/register"
RESET = "/v3/accounts/reset"
AUTOLOGIN = "/v3/accounts/autologined"
SUPPORT = "/v3/support"
CONNECT = "/v3/server/connect"
LIMITS = "/v3/accounts/limits"
LOG_UPLOAD = "/user/log/"

# A check-in reply like the vendor's: no further check-in for a day.
CHECKIN_REPLY = {
    "status": True, "version": VERSION, "updateType": "manual", "updateUrl": "",
    "updateRequestInterval": 86400, "updateRequestIntervalIfFailed": 3600, "vpnDiagnosticsInterval": 60,
    "ovpnControlPort": 5555, "remindOnBrowserDays": 2, "agentIconUpdTimeout": 2,
}

SID_A = "S-1-5-21-1004336348-1177238915-682003330-1001"
SID_B = "S-1-5-21-1004336348-1177238915-682003330-1002"

VPN_SERVER = "http-road"
VPN_AUTH = "road-user\nroad-password\n"
VPN_CONFIG = "client\ndev tun\nremote 127.0.0.1 1194\nverb 3\n"
BAD_SERVER_ID = ('Bad server id: only letters, digits, "-", "_" and "." are allowed, it may not begin with "." or '
                 'name a device (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9), and it may have at most 128 '
                 'characters')

NOT_A_SETTING_NAME = ('Param "name" can\'t hold a value: it is empty, has an empty part, names a folder or lies '
                      'below another setting')

SERVICE_EXE = None


class Session:
    """What the tests share: the service is installed once, since an install takes seconds."""
    service = folder = mock = holder = client = vpn_files = None
    port = expected_port = None


S = Session()


def setUpModule():
    prefix = os.environ["WINEPREFIX"]
    S.folder = SettingsFolder(prefix)
    S.mock = MockApi(int(os.environ["NIMBAL_MOCK_API_PORT"]))
    S.service = WineService(SERVICE_EXE, prefix)

    presence = PrefixPresence(prefix)
    unittest.addModuleCleanup(presence.end)
    registry = RegistryGuid(prefix)
    unittest.addModuleCleanup(registry.restore)
    S.vpn_files = FolderFiles(S.folder.file("ovpn_config"), ["client.auth", VPN_SERVER + ".ovpn"])
    unittest.addModuleCleanup(S.vpn_files.restore)

    S.service.remove_quietly()  # a run that died may have left it installed
    S.vpn_files.clear()
    S.folder.clear()
    # Logging on from the first start: the log names the port the server took.
    S.folder.write_document("settings.params", {"Internal": {"LoggingEnabled": "true"}})
    S.mock.reset()

    # The first port of the range busy, as another program would hold it. Held by another program
    # already, it is as busy for the service.
    try:
        S.holder = PortHolder(FIRST_PORT)
        unittest.addModuleCleanup(release_first_port)
    except OSError:
        print(f"note: 127.0.0.1:{FIRST_PORT} is held by another program", flush=True)
    S.expected_port = next((p for p in range(FIRST_PORT + 1, LAST_PORT + 1) if bindable(p)), None)

    unittest.addModuleCleanup(S.service.remove_quietly)
    S.service.install()
    S.port = wait_for(S.folder.http_ports, "the log's line \"Win server starting on port\"")[0]
    wait_for(lambda: answers_ping(S.port), f"the control server answering on port {S.port}")
    S.client = ControlClient(S.port)
    unittest.addModuleCleanup(lambda: S.client.close())
    # The start's check-in stored: the tests begin from its offer.
    wait_for(lambda: setting("LastLoginRequestInfo.version") == VERSION, "the start's check-in stored")
    print(f"service installed; control server on 127.0.0.1:{S.port}", flush=True)


def release_first_port():
    if S.holder is not None:
        S.holder.release()
        S.holder = None


def setting(name):
    reply = S.client.post("/setting/get", f"name={name}")
    if reply.status != 200:
        raise AssertionError(f"setting/get {name}: {reply}")
    return reply.body.decode("latin-1")


def stored_vpn_user(document):
    """The Hidden.VpnUser branch of a settings document; an emptied branch is stored as a text."""
    branch = document.get("Hidden", {})
    branch = branch.get("VpnUser", {}) if isinstance(branch, dict) else {}
    return branch if isinstance(branch, dict) else {}


def digits_pattern(length):
    """Numbered blocks: a lost, repeated or reordered piece of a body shows in the text."""
    text = "".join(f"{i:05d}." for i in range(length // 6 + 1))
    return text[:length].encode("ascii")


class ControlServerCase(unittest.TestCase):
    maxDiff = None

    def setUp(self):
        S.mock.reset()  # built-in replies, nothing recorded

    def post(self, path, body=b"", headers=()):
        return S.client.post(path, body, headers)

    def assertReply(self, reply, status, reason, body):
        if isinstance(body, str):
            body = body.encode("latin-1")
        self.assertEqual((reply.status, reply.reason, reply.body, reply.content_type),
                         (status, reason, body, "text/html"))

    def assertSameText(self, got, wanted):
        """Long texts: a difference is reported by its place, not by a diff of both texts."""
        if got != wanted:
            at = next((i for i, (a, b) in enumerate(zip(got, wanted)) if a != b), min(len(got), len(wanted)))
            self.fail(f"{len(got)} characters, {len(wanted)} wanted; first difference at {at}: "
                      f"{got[at:at + 40]!r} for {wanted[at:at + 40]!r}")

    def setting(self, name):
        return setting(name)

    def set_setting(self, name, value):
        self.assertReply(self.post("/setting/set", headers=[("name", name), ("value", value)]), 200, "OK", "Success")

    def saved_document(self):
        """The general settings document as saved now: user/set saves it before it takes the user."""
        sid = self.post("/user/get").body.decode("latin-1")
        self.assertReply(self.post("/user/set", f"user={sid}"), 200, "OK", "Setting")
        return S.folder.document("settings.params")

    def assertServed(self):
        """The next request gets its own reply: no second reply to the one before is left waiting."""
        self.assertReply(self.post("/TYTUT"), 200, "OK", "GDEZHESCHIO!")

    def logout(self):
        self.assertReply(self.post("/accounts/logout"), 200, "OK", "Success")


class PortChoiceTest(ControlServerCase):
    def test_busy_first_port_moves_the_server_to_the_next_free_one_which_is_stored(self):
        self.assertIsNotNone(S.expected_port)
        self.assertEqual(S.port, S.expected_port)
        self.assertReply(self.post("/setting/get", "name=InstallSettings.LocalHttpsPort"), 200, "OK", str(S.port))


class DispatchTest(ControlServerCase):
    def tearDown(self):
        self.logout()

    def test_ping(self):
        self.assertReply(self.post("/TYTUT"), 200, "OK", "GDEZHESCHIO!")

    def test_other_verbs_are_not_implemented_and_reach_no_handler(self):
        self.set_setting("Hidden.VpnUser.token", "kept-token")
        for method, path in (("GET", "/TYTUT"), ("GET", "/accounts/logout"), ("PUT", "/accounts/logout"),
                             ("DELETE", "/accounts/logout"), ("GET", "/setting/get")):
            with self.subTest(method=method, path=path):
                self.assertReply(S.client.request(method, path), 501, "Not Implemented",
                                 "Got an unsupported request with non-POST method")
        self.assertReply(self.post("/accounts/token"), 200, "OK", "kept-token")

    def test_query_string_or_trailing_slash_finds_no_handler(self):
        self.set_setting("Hidden.VpnUser.token", "kept-token")
        for path in ("/TYTUT?x=1", "/TYTUT/", "/accounts/logout?now=1", "/accounts/logout/", "/vpn/get/state?"):
            with self.subTest(path=path):
                self.assertReply(self.post(path), 501, "Not Implemented", "Can't find URL handler")
        self.assertReply(self.post("/accounts/token"), 200, "OK", "kept-token")


class RequestBodyTest(ControlServerCase):
    def tearDown(self):
        self.logout()

    def test_bodies_up_to_the_limit_are_read_whole(self):
        self.logout()  # without a token the message goes with its address
        prefix = b"address=ops@example.com&message="
        for size in (1000, 65536):
            with self.subTest(size=size):
                mark = S.mock.mark()
                message = digits_pattern(size - len(prefix))
                self.assertReply(self.post("/support", prefix + message), 200, "OK", "Success")
                sent = S.mock.requests(SUPPORT, after=mark)
                self.assertEqual(len(sent), 1)
                self.assertSameText(form(sent[0])["message"], message.decode("ascii"))

    def test_body_over_the_limit_is_refused_unread_and_the_next_request_served(self):
        self.set_setting("Hidden.VpnUser.login", "before@example.com")
        prefix = b"login=big@example.com&pass="
        for size in (65537, 100000):
            with self.subTest(size=size):
                mark = S.mock.mark()
                self.assertReply(self.post("/accounts/login", prefix + b"p" * (size - len(prefix))),
                                 400, "Bad request", "Request body is larger than 65536 bytes")
                self.assertServed()
                self.assertEqual(self.setting("Hidden.VpnUser.login"), "before@example.com")
                self.assertEqual(S.mock.requests(LOGIN, after=mark), [])


class UserTest(ControlServerCase):
    def tearDown(self):
        self.post("/user/set", "user=")

    def test_set_user_is_answered_by_get_user(self):
        for sid in (SID_A, SID_B):
            self.assertReply(self.post("/user/set", f"user={sid}"), 200, "OK", "Setting")
            self.assertReply(self.post("/user/get"), 200, "OK", sid)

    def test_set_user_without_the_field_keeps_the_previous_sid(self):
        self.assertReply(self.post("/user/set", f"user={SID_A}"), 200, "OK", "Setting")
        for body in ("", f"users={SID_B}", f"xuser={SID_B}", f"name={SID_B}"):
            with self.subTest(body=body):
                self.assertReply(self.post("/user/set", body), 400, "Bad request", 'Param "user" not found')
                self.assertReply(self.post("/user/get"), 200, "OK", SID_A)


class AccountCredentialsTest(ControlServerCase):
    EMAIL = "user@example.com"
    PASSWORD = "s3cret-pass"

    def tearDown(self):
        self.logout()

    def log_in(self, token="login-token-1"):
        S.mock.reply(LOGIN, 200, {"status": True, "token": token}, once=True)
        self.assertReply(self.post("/accounts/login", f"login={self.EMAIL}&pass={self.PASSWORD}&rememberMe=true"),
                         200, "OK", "Success")
        self.assertEqual(stored_vpn_user(self.saved_document()),
                         {"login": self.EMAIL, "password": self.PASSWORD, "rememberMe": "true", "token": token})

    def test_login_stores_the_credentials_and_the_token_the_api_gives(self):
        mark = S.mock.mark()
        self.log_in(token="login-token-1")
        sent = S.mock.requests(LOGIN, after=mark)
        self.assertEqual(len(sent), 1)
        self.assertEqual(sent[0]["form"], [["deviceId", self.setting("InstallSettings.clientGUID")],
                                           ["email", self.EMAIL], ["password", self.PASSWORD]])
        self.assertReply(self.post("/accounts/token"), 200, "OK", "login-token-1")
        self.assertEqual(self.setting("Hidden.VpnUser.login"), self.EMAIL)
        self.assertEqual(self.setting("Hidden.VpnUser.rememberMe"), "true")
        # Stored, as the document shows, and still never answered.
        self.assertReply(self.post("/setting/get", "name=Hidden.VpnUser.password"), 200, "OK", "")

    def test_empty_login_or_password_is_refused_and_nothing_stored(self):
        self.log_in()
        for path in ("/accounts/login", "/accounts/register"):
            for body in ("login=&pass=other-pass", "login=other@example.com&pass=", "login=&pass="):
                with self.subTest(path=path, body=body):
                    mark = S.mock.mark()
                    self.assertReply(self.post(path, body), 400, "Bad request",
                                     "Please, enter correct email and password")
                    self.assertEqual(self.setting("Hidden.VpnUser.login"), self.EMAIL)
                    self.assertEqual(S.mock.requests(after=mark), [])
        self.assertEqual(stored_vpn_user(self.saved_document())["password"], self.PASSWORD)

    def test_missing_login_or_pass_field_gets_one_reply(self):
        self.log_in()
        for path in ("/accounts/login", "/accounts/register"):
            for body in ("login=other@example.com", "pass=other-pass", "", "login=other@example.com&password=x"):
                with self.subTest(path=path, body=body):
                    mark = S.mock.mark()
                    self.assertReply(self.post(path, body), 400, "Bad request",
                                     'Param "login" or "pass" not found')
                    self.assertServed()
                    self.assertEqual(self.setting("Hidden.VpnUser.login"), self.EMAIL)
                    self.assertEqual(S.mock.requests(after=mark), [])

    def test_login_the_api_refuses_removes_the_four_credentials(self):
        cases = [
            (401, b"", 401, "Unauthorized", "Token expired, please relogin"),
            (200, {"status": False, "error_message": "Wrong email or password"}, 401, "Unauthorized",
             "Wrong email or password"),
            (500, b"", 500, "Internal Server Error", "Internal Server Error"),
            # Replies the service cannot read: the failure is answered and nothing is kept either.
            (200, {"status": False}, 500, "Internal Server Error", "No such node (error_message)"),
            (200, {"status": True}, 500, "Internal Server Error", "No such node (token)"),
        ]
        for api_status, api_body, status, reason, message in cases:
            with self.subTest(api_status=api_status, api_body=api_body):
                self.log_in()
                S.mock.reply(LOGIN, api_status, api_body, once=True)
                self.assertReply(self.post("/accounts/login", f"login={self.EMAIL}&pass=wrong-pass&rememberMe=true"),
                                 status, reason, message)
                self.assertReply(self.post("/accounts/token"), 200, "Token not exist", "")
                self.assertEqual(self.setting("Hidden.VpnUser.login"), "")
                self.assertEqual(self.setting("Hidden.VpnUser.rememberMe"), "")
                self.assertEqual(stored_vpn_user(self.saved_document()), {})

    def test_register_forwards_the_credentials_and_keeps_them_when_accepted(self):
        mark = S.mock.mark()
        self.assertReply(self.post("/accounts/register", f"login={self.EMAIL}&pass={self.PASSWORD}"),
                         200, "OK", "Account created")
        sent = S.mock.requests(REGISTER, after=mark)
        self.assertEqual(len(sent), 1)
        self.assertEqual(sent[0]["form"], [["deviceId", self.setting("InstallSettings.clientGUID")],
                                           ["email", self.EMAIL], ["password", self.PASSWORD]])
        self.assertEqual(stored_vpn_user(self.saved_document()), {"login": self.EMAIL, "password": self.PASSWORD})

    def test_register_the_api_refuses_removes_the_credentials(self):
        cases = [
            ({"status": False, "error_message": "E-mail already registered"}, 401, "Unauthorized",
             "E-mail already registered"),
            ({"status": False}, 500, "Internal Server Error", "No such node (error_message)"),
            ({"status": True}, 500, "Internal Server Error", "No such node (message)"),
        ]
        for api_body, status, reason, message in cases:
            with self.subTest(api_body=api_body):
                self.log_in()
                S.mock.reply(REGISTER, 200, api_body, once=True)
                self.assertReply(self.post("/accounts/register", f"login=new@example.com&pass={self.PASSWORD}"),
                                 status, reason, message)
                self.assertReply(self.post("/accounts/token"), 200, "Token not exist", "")
                self.assertEqual(stored_vpn_user(self.saved_document()), {})

    def test_token_is_answered_until_logout(self):
        self.log_in(token="token-until-logout")
        self.assertReply(self.post("/accounts/token"), 200, "OK", "token-until-logout")
        self.logout()
        self.assertReply(self.post("/accounts/token"), 200, "Token not exist", "")
        self.assertEqual(stored_vpn_user(self.saved_document()), {})


class PasswordResetTest(ControlServerCase):
    def test_reset_forwards_the_email_and_answers_the_api_result(self):
        cases = [
            ({"status": True}, 200, "OK", "Success"),
            ({"status": False}, 400, "Bad request", "Not registered"),
            (b"", 500, "Internal Server Error", "Empty response"),
            (b"<html>", 500, "Internal Server Error", "Incorrect response from server"),
        ]
        for api_body, status, reason, message in cases:
            with self.subTest(api_body=api_body):
                S.mock.reply(RESET, 200, api_body, once=True)
                mark = S.mock.mark()
                self.assertReply(self.post("/accounts/reset", "email=someone@example.com"), status, reason, message)
                sent = S.mock.requests(RESET, after=mark)
                self.assertEqual(len(sent), 1)
                self.assertEqual(sent[0]["form"], [["deviceId", self.setting("InstallSettings.clientGUID")],
                                                   ["platform", "windows"], ["email", "someone@example.com"]])

    def test_reset_without_email_is_refused(self):
        for body in ("", "mail=someone@example.com", "xemail=someone@example.com"):
            with self.subTest(body=body):
                mark = S.mock.mark()
                self.assertReply(self.post("/accounts/reset", body), 400, "Bad request", 'Param "name" not found')
                self.assertServed()
                self.assertEqual(S.mock.requests(after=mark), [])


class RemoteLoginTest(ControlServerCase):
    def tearDown(self):
        self.logout()

    def test_token_is_stored_and_answered_with_200_whatever_the_notification_gives(self):
        device = self.setting("InstallSettings.clientGUID")
        cases = [
            (200, {"status": True}, "OK", "Success"),
            (200, {"status": False}, "Internal Server Error", "Unhandled server error code"),
            (500, b"", "Internal Server Error", "Internal Server Error"),
            (401, b"", "Unauthorized", "Token expired, please relogin"),
        ]
        for i, (api_status, api_body, reason, message) in enumerate(cases):
            with self.subTest(api_status=api_status, api_body=api_body):
                token = f"remote-token-{i}"
                S.mock.reply(AUTOLOGIN, api_status, api_body, once=True)
                mark = S.mock.mark()
                self.assertReply(self.post("/remote/login", f"token={token}&lifetime=3600&creationtime=1700000000"),
                                 200, reason, message)
                self.assertReply(self.post("/accounts/token"), 200, "OK", token)
                sent = S.mock.requests(AUTOLOGIN, after=mark)
                self.assertEqual(len(sent), 1)
                self.assertEqual(header(sent[0], "Authorization"), f"Bearer {token}")
                self.assertEqual(sent[0]["form"], [["brand", "Nimbal Privacy"], ["platform", "windows"],
                                                   ["deviceId", device]])

    def test_empty_field_is_refused_and_nothing_stored(self):
        self.set_setting("Hidden.VpnUser.token", "kept-token")
        for body in ("token=t&lifetime=&creationtime=5", "token=&lifetime=1&creationtime=5",
                     "token=t&lifetime=1&creationtime="):
            with self.subTest(body=body):
                mark = S.mock.mark()
                self.assertReply(self.post("/remote/login", body), 400, "Bad request",
                                 'None of params "token", "lifeTime" or "creationtime" can be empty')
                self.assertReply(self.post("/accounts/token"), 200, "OK", "kept-token")
                self.assertEqual(S.mock.requests(after=mark), [])

    def test_missing_field_is_refused_with_one_reply(self):
        self.set_setting("Hidden.VpnUser.token", "kept-token")
        for body in ("lifetime=1&creationtime=5", "token=t&creationtime=5", "token=t&lifetime=1",
                     "token=t&lifeTime=1&creationtime=5", ""):
            with self.subTest(body=body):
                mark = S.mock.mark()
                self.assertReply(self.post("/remote/login", body), 400, "Bad request",
                                 'Param "token", "lifeTime" or "creationtime" not found')
                self.assertServed()
                self.assertReply(self.post("/accounts/token"), 200, "OK", "kept-token")
                self.assertEqual(S.mock.requests(after=mark), [])


class SupportTest(ControlServerCase):
    def tearDown(self):
        self.logout()

    def test_message_reaches_the_api_with_an_address_or_a_stored_token(self):
        device = self.setting("InstallSettings.clientGUID")
        head = [["brand", "Nimbal Privacy"], ["platform", "windows"], ["deviceId", device]]
        cases = [
            ("address, no token", None, "address=ops@example.com&message=Hello", [["address", "ops@example.com"]]),
            ("token, no address", "support-token", "message=Hello", []),
            ("token, empty address", "support-token", "address=&message=Hello", []),
            ("token and address", "support-token", "message=Hello&address=ops@example.com",
             [["address", "ops@example.com"]]),
        ]
        for name, token, body, address in cases:
            with self.subTest(name):
                self.logout()
                if token:
                    self.set_setting("Hidden.VpnUser.token", token)
                mark = S.mock.mark()
                self.assertReply(self.post("/support", body), 200, "OK", "Success")
                sent = S.mock.requests(SUPPORT, after=mark)
                self.assertEqual(len(sent), 1)
                self.assertEqual(sent[0]["form"], head + address + [["message", "Hello"]])
                self.assertEqual(header(sent[0], "Authorization"), f"Bearer {token}" if token else None)

    def test_without_token_or_address_is_refused(self):
        for body in ("message=Hello", "address=&message=Hello"):
            with self.subTest(body=body):
                mark = S.mock.mark()
                self.assertReply(self.post("/support", body), 400, "Bad request", "Address couldn't be empty")
                self.assertEqual(S.mock.requests(after=mark), [])

    def test_without_message_is_an_internal_error(self):
        for body in ("address=ops@example.com", "", "address=ops@example.com&messages=Hello"):
            with self.subTest(body=body):
                mark = S.mock.mark()
                self.assertReply(self.post("/support", body), 500, "Internal Server Error", "no such parameter")
                self.assertServed()
                self.assertEqual(S.mock.requests(after=mark), [])

    def test_message_the_api_refuses(self):
        S.mock.reply(SUPPORT, 200, {"status": False})
        self.assertReply(self.post("/support", "address=ops@example.com&message=Hello"),
                         500, "Internal Server Error", "Unhandled server error code")


class SettingTest(ControlServerCase):
    def tearDown(self):
        self.logout()

    def test_set_by_headers_is_answered_by_get(self):
        for name, value in (("HttpRoad.probe", "value-1"), ("HttpRoad.probe", "value-2"),
                            ("HttpRoad.deeper.branch.key", "deep")):
            with self.subTest(name=name, value=value):
                self.set_setting(name, value)
                self.assertReply(self.post("/setting/get", f"name={name}"), 200, "OK", value)

    def test_set_without_both_headers_is_refused(self):
        self.set_setting("HttpRoad.probe", "before")
        for headers, body in (([("name", "HttpRoad.probe")], b""), ([("value", "after")], b""), ([], b""),
                              ([], b"name=HttpRoad.probe&value=after")):
            with self.subTest(headers=headers, body=body):
                self.assertReply(self.post("/setting/set", body, headers), 400, "Bad request",
                                 'Param "name" or "value" not found')
                self.assertEqual(self.setting("HttpRoad.probe"), "before")

    def test_last_check_in_reply_cannot_be_changed(self):
        for name in ("LastLoginRequestInfo", "LastLoginRequestInfo.updateType", "LastLoginRequestInfo.updateUrl",
                     "LastLoginRequestInfo.new.key"):
            with self.subTest(name=name):
                self.assertReply(self.post("/setting/set", headers=[("name", name), ("value", "http://127.0.0.1/x")]),
                                 400, "Bad request", 'Settings under "LastLoginRequestInfo" can\'t be changed')
        self.assertEqual(self.setting("LastLoginRequestInfo.updateType"), "manual")
        self.assertEqual(self.setting("LastLoginRequestInfo.updateUrl"), "")
        self.assertEqual(self.setting("LastLoginRequestInfo.new.key"), "")
        # A branch that only begins with the same letters is an ordinary one.
        self.set_setting("LastLoginRequestInfoCopy.key", "mine")
        self.assertEqual(self.setting("LastLoginRequestInfoCopy.key"), "mine")

    def test_name_that_cannot_hold_a_value_is_refused_and_later_settings_are_saved(self):
        self.set_setting("Hidden.VpnUser.token", "before-refusals")
        self.set_setting("HttpRoad.leaf", "kept")
        # (An empty name is not among them: this client writes "name: " with a blank, and Wine's HTTP
        # Server API never hands on a request whose header value is only white space.)
        for name in ("Internal", "Hidden", "HttpRoad..a", "HttpRoad.", ".HttpRoad", "Internal.ovpnRequiredState.x",
                     "HttpRoad.leaf.below"):
            with self.subTest(name=name):
                self.assertReply(self.post("/setting/set", headers=[("name", name), ("value", "refused")]),
                                 400, "Bad request", NOT_A_SETTING_NAME)
        self.assertEqual(self.setting("HttpRoad.leaf"), "kept")
        # A refused write leaves the general document saveable: what is set afterwards is saved.
        self.set_setting("Hidden.VpnUser.token", "after-refusals")
        saved = self.saved_document()
        self.assertEqual(stored_vpn_user(saved).get("token"), "after-refusals")
        self.assertEqual(saved["HttpRoad"]["leaf"], "kept")
        self.assertIsInstance(saved["Internal"], dict)

    def test_stored_password_is_answered_empty(self):
        self.set_setting("Hidden.VpnUser.password", "hidden-pass")
        self.assertReply(self.post("/setting/get", "name=Hidden.VpnUser.password"), 200, "OK", "")
        self.assertEqual(stored_vpn_user(self.saved_document())["password"], "hidden-pass")

    def test_no_alias_of_the_stored_password_and_no_name_with_an_empty_component_is_answered(self):
        self.set_setting("Hidden.VpnUser.password", "hidden-pass")
        self.set_setting("HttpRoad.probe", "value")
        for name, value in (("Hidden.VpnUser.password", ""), ("Hidden.VpnUser.password.", ""),
                            ("Hidden.VpnUser.password..", ""), ("Hidden..VpnUser.password", ""),
                            (".Hidden.VpnUser.password", ""), ("Hidden.VpnUser.Password", ""),
                            ("HttpRoad.probe", "value"), ("HttpRoad.probe.", ""), ("HttpRoad..probe", "")):
            with self.subTest(name=name):
                self.assertReply(self.post("/setting/get", f"name={name}"), 200, "OK", value)
        self.assertEqual(stored_vpn_user(self.saved_document())["password"], "hidden-pass")

    def test_get_without_name_is_refused_and_a_missing_setting_reads_empty(self):
        for body in ("", "names=HttpRoad.probe", "xname=HttpRoad.probe"):
            with self.subTest(body=body):
                self.assertReply(self.post("/setting/get", body), 400, "Bad request", 'Param "name" not found')
        self.assertReply(self.post("/setting/get", "name=HttpRoad.never.set"), 200, "OK", "")


class VpnTest(ControlServerCase):
    def tearDown(self):
        self.assertReply(self.post("/vpn/disconnect"), 200, "OK", "Disconnecting")
        self.assertReply(self.post("/vpn/get/state"), 200, "OK", "NOTCONNECTED")

    def connect_reply(self, auth=None, config=None):
        return {"status": True, "auth": b64(auth or VPN_AUTH), "config": b64(config or VPN_CONFIG)}

    def test_connect_without_a_daemon_answers_the_api_result(self):
        S.vpn_files.clear()
        self.assertReply(self.post("/vpn/get/state"), 200, "OK", "NOTCONNECTED")
        S.mock.reply(CONNECT, 200, self.connect_reply())
        mark = S.mock.mark()
        self.assertReply(self.post("/vpn/connect", f"server={VPN_SERVER}"), 200, "OK", "Success")
        sent = S.mock.requests(CONNECT, after=mark)
        self.assertTrue(sent)
        for record in sent:
            self.assertEqual(form(record)["vpnSrvId"], VPN_SERVER)
        # The reply's files, written in text mode.
        for name, text in (("client.auth", VPN_AUTH), (VPN_SERVER + ".ovpn", VPN_CONFIG)):
            with open(S.vpn_files.file(name), "rb") as f:
                self.assertEqual(f.read(), text.replace("\n", "\r\n").encode("ascii"))
        self.assertReply(self.post("/vpn/get/currentServer"), 200, "OK", VPN_SERVER)
        # Wanted, and no daemon runs: there is none beside the service program.
        self.assertReply(self.post("/vpn/get/state"), 200, "OK", "DISCONNECTED")
        self.assertEqual(self.setting("Internal.ovpnRequiredState"), "true")

        self.assertReply(self.post("/vpn/disconnect"), 200, "OK", "Disconnecting")
        self.assertReply(self.post("/vpn/get/state"), 200, "OK", "NOTCONNECTED")
        self.assertEqual(self.setting("Internal.ovpnRequiredState"), "false")

    def test_connect_the_api_refuses_answers_its_result(self):
        cases = [
            (401, b"", 401, "Unauthorized", "Token expired, please relogin"),
            (200, {"status": True, "auth": None, "config": b64(VPN_CONFIG)}, 500, "Internal Server Error",
             "Failed to save config file"),
            (200, b"", 500, "Internal Server Error", "Server response is empty"),
            (200, b"{}", 500, "Internal Server Error", "Connect to server response json is empty"),
        ]
        for api_status, api_body, status, reason, message in cases:
            with self.subTest(api_status=api_status, api_body=api_body):
                S.vpn_files.clear()
                S.mock.reply(CONNECT, api_status, api_body)
                self.assertReply(self.post("/vpn/connect", f"server={VPN_SERVER}"), status, reason, message)
                self.assertFalse(os.path.exists(S.vpn_files.file(VPN_SERVER + ".ovpn")))
                self.assertReply(self.post("/vpn/get/state"), 200, "OK", "DISCONNECTED")
                self.assertReply(self.post("/vpn/disconnect"), 200, "OK", "Disconnecting")

    def test_server_id_that_is_no_plain_name_is_refused_and_leaves_the_vpn_unwanted(self):
        S.mock.reply(CONNECT, 401, b"")  # what a connect made all the same would send is refused
        for server in ("..%2F..%2Fevil", "a/b", ".hidden", "..\\evil", "CON", "nul.ovpn", "Com1", "LPT9.x",
                       "n" * 129):
            with self.subTest(server=server):
                mark = S.mock.mark()
                reply = self.post("/vpn/connect", f"server={server}")
                # No connect at all: neither with the id nor, as a wanted VPN would, with the last one.
                self.assertEqual(S.mock.requests(CONNECT, after=mark), [])
                self.assertEqual(self.setting("Internal.ovpnRequiredState"), "false")
                self.assertReply(self.post("/vpn/get/state"), 200, "OK", "NOTCONNECTED")
                self.assertReply(reply, 400, "Bad request", BAD_SERVER_ID)


class UpdateTest(ControlServerCase):
    def tearDown(self):
        S.mock.reset()
        self.relogin_with(CHECKIN_REPLY)

    def relogin_with(self, checkin):
        S.mock.reply(CHECKIN, 200, checkin)
        mark = S.mock.mark()
        self.assertReply(self.post("/user/relogin"), 200, "OK", "Relogining")
        wait_for(lambda: S.mock.requests(CHECKIN, after=mark), "a check-in after user/relogin")
        wait_for(lambda: (self.setting("LastLoginRequestInfo.version"), self.setting("LastLoginRequestInfo.updateType"))
                 == (checkin["version"], checkin["updateType"]), "the relogin's check-in reply stored")

    def test_update_check_and_start_follow_the_last_check_in(self):
        refused = (500, "Internal Server Error", "Update type got from server isn't manual")
        updating = (200, "OK", "Updating")
        cases = [
            (VERSION, "manual", "Up-to-date", refused),
            ("1.1.0.34", "manual", "manual", refused),
            ("1.1.0.34", "optional", "optional", updating),
            (VERSION, "optional", "Up-to-date", updating),
            ("1.1.0.34", "silent", "Up-to-date", updating),
        ]
        for version, update_type, check, start in cases:
            with self.subTest(version=version, update_type=update_type):
                self.relogin_with(dict(CHECKIN_REPLY, version=version, updateType=update_type))
                self.assertReply(self.post("/update/check"), 200, "OK", check)
                # No update address is offered: a started update downloads nothing.
                self.assertReply(self.post("/update/start"), *start)


class LoggingSwitchTest(ControlServerCase):
    def test_switches_store_the_setting(self):
        self.assertReply(self.post("/logfiles/disable"), 200, "OK", "Logging disabled")
        self.assertEqual(self.setting("Internal.LoggingEnabled"), "false")
        self.assertReply(self.post("/logfiles/enable"), 200, "OK", "Logging enabled")
        self.assertEqual(self.setting("Internal.LoggingEnabled"), "true")


class LogUploadTest(ControlServerCase):
    def test_logs_are_posted_whatever_the_upload_endpoint_answers(self):
        device = self.setting("InstallSettings.clientGUID")
        for api_status, api_body in ((200, {"status": True}), (500, b"upload refused"), (404, b"")):
            with self.subTest(api_status=api_status):
                S.mock.reply(LOG_UPLOAD, api_status, api_body, once=True)
                mark = S.mock.mark()
                self.assertReply(self.post("/logfiles/post"), 200, "OK", "Posted")
                sent = S.mock.requests(LOG_UPLOAD, after=mark)
                self.assertEqual(len(sent), 1)
                self.assertEqual(sent[0]["scheme"], "http")
                fields = form(sent[0])
                self.assertEqual([fields.get(k) for k in ("user", "version", "brand", "platform")],
                                 [device, VERSION, "Nimbal Privacy", "windows"])
                # The service log's tail goes along: it ends with this request's own lines.
                service_log = fields.get("srvLog", "")
                self.assertTrue("LocalHttpServer: post log files requested" in service_log, service_log[-500:])
                self.assertLessEqual({"ovpnLog", "installLog", "routingTable"}, set(fields))


class ApiPassThroughTest(ControlServerCase):
    def tearDown(self):
        self.logout()

    def test_lists_pass_the_api_reply_through(self):
        urls = [("/products/list", "/v3/products/list"), ("/accounts/orders", "/v3/accounts/orders"),
                ("/vpn/get/serversList", "/v3/servers/list")]
        replies = [
            (200, b'{"status": true, "items": [{"id": "a-1"}, {"id": "b-2"}]}', 200, "OK",
             b'{"status": true, "items": [{"id": "a-1"}, {"id": "b-2"}]}'),
            (200, b"not JSON at all", 200, "OK", b"not JSON at all"),
            (200, b"", 200, "OK", b""),
            (401, b"{}", 401, "Unauthorized", b"Token expired, please relogin"),
            (503, b"{}", 500, "Internal Server Error", b"Service Unavailable"),
        ]
        self.set_setting("Hidden.VpnUser.token", "list-token")
        device = self.setting("InstallSettings.clientGUID")
        for url, path in urls:
            for api_status, api_body, status, reason, body in replies:
                with self.subTest(url=url, api_status=api_status, api_body=api_body):
                    S.mock.reply(path, api_status, api_body, once=True)
                    mark = S.mock.mark()
                    self.assertReply(self.post(url), status, reason, body)
                    sent = S.mock.requests(path, after=mark)
                    self.assertEqual(len(sent), 1)
                    self.assertEqual(sent[0]["form"], [["deviceId", device], ["platform", "windows"]])
                    self.assertEqual(header(sent[0], "Authorization"), "Bearer list-token")

    def test_limits_answer_the_time_left(self):
        cases = [
            (200, {"status": True, "time_left": 2592000}, 200, "OK", "2592000"),
            (200, {"status": False, "time_left": "0"}, 200, "OK", "0"),
            (200, b"", 500, "Internal Server Error", "Empty response"),
            (200, b"[not json", 500, "Internal Server Error", "Incorrect response from server"),
            (200, b"{}", 500, "Internal Server Error", "Response json is empty"),
            (200, {"status": True}, 500, "Internal Server Error", "No such node (time_left)"),
            (401, b"", 401, "Unauthorized", "Token expired, please relogin"),
        ]
        device = self.setting("InstallSettings.clientGUID")
        for api_status, api_body, status, reason, body in cases:
            with self.subTest(api_status=api_status, api_body=api_body):
                S.mock.reply(LIMITS, api_status, api_body, once=True)
                mark = S.mock.mark()
                self.assertReply(self.post("/limits"), status, reason, body)
                sent = S.mock.requests(LIMITS, after=mark)
                self.assertEqual(len(sent), 1)
                self.assertEqual(sent[0]["form"], [["deviceId", device]])
        self.assertServed()


class RestartTest(ControlServerCase):
    """Last: the service is stopped, which saves its settings, and started again."""

    def test_stop_and_start_keep_the_port_and_what_was_set_over_http(self):
        token = "persisted-token-7f3a"
        self.assertReply(self.post("/remote/login", f"token={token}&lifetime=3600&creationtime=1700000000"),
                         200, "OK", "Success")
        self.set_setting("HttpRoad.persisted", "kept")
        self.assertReply(self.post("/logfiles/enable"), 200, "OK", "Logging enabled")

        S.client.close()
        S.service.stop()
        saved = S.folder.document("settings.params")
        self.assertEqual(saved["InstallSettings"]["LocalHttpsPort"], str(S.port))
        self.assertEqual(stored_vpn_user(saved).get("token"), token)
        self.assertEqual(saved["HttpRoad"]["persisted"], "kept")

        release_first_port()
        if not bindable(FIRST_PORT):
            print(f"note: 127.0.0.1:{FIRST_PORT} is held by another program over the restart", flush=True)
        S.service.start()
        ports = wait_for(lambda: S.folder.http_ports()[1:], "a second \"Win server starting on port\" line")
        self.assertEqual(ports, [S.port])
        wait_for(lambda: answers_ping(S.port), f"the control server answering on port {S.port} again")
        S.client = ControlClient(S.port)

        self.assertReply(self.post("/accounts/token"), 200, "OK", token)
        self.assertReply(self.post("/setting/get", "name=HttpRoad.persisted"), 200, "OK", "kept")
        self.assertReply(self.post("/setting/get", "name=InstallSettings.LocalHttpsPort"), 200, "OK", str(S.port))
        self.logout()


ORDER = [PortChoiceTest, DispatchTest, RequestBodyTest, UserTest, AccountCredentialsTest, PasswordResetTest,
         RemoteLoginTest, SupportTest, SettingTest, VpnTest, UpdateTest, LoggingSwitchTest, LogUploadTest,
         ApiPassThroughTest, RestartTest]


def load_tests(loader, standard_tests, pattern):
    """The classes in the order above, the restart last."""
    return unittest.TestSuite(loader.loadTestsFromTestCase(case) for case in ORDER)


def main():
    global SERVICE_EXE
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("service", help="NimbalService.exe")
    args = parser.parse_args()
    for name in ("WINEPREFIX", "NIMBAL_MOCK_API_PORT"):
        if not os.environ.get(name):
            parser.error(f"{name} is not set")
    SERVICE_EXE = args.service

    def on_term(signum, frame):
        raise KeyboardInterrupt()

    # ctest's time-out: the service is still removed.
    signal.signal(signal.SIGTERM, on_term)
    try:
        result = unittest.main(argv=[sys.argv[0]], verbosity=2, exit=False).result
    finally:
        unittest.case.doModuleCleanups()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
