"""The vendor API's endpoints and the successful answer each gives unless a test scripts another."""

import base64
import json

CONNECT_AUTH = "mockuser\nmockpassword\n"
CONNECT_CONFIG = (
    "client\n"
    "dev tun\n"
    "proto udp\n"
    "remote 127.0.0.1 1194\n"
    "nobind\n"
    "auth-user-pass client.auth\n"
    "verb 3\n"
)


def _b64(text):
    return base64.b64encode(text.encode("ascii")).decode("ascii")


CHECKIN = {
    "status": True,
    "version": "1.1.0.33",
    "updateType": "manual",
    "updateUrl": "",
    "regexpWhite": "^https?://([a-z0-9-]+\\.)*nimbalprivacy\\.com/",
    "regexpBlack": "^$",
    "updateRequestInterval": 86400,
    "updateRequestIntervalIfFailed": 3600,
    "vpnDiagnosticsInterval": 60,
    "ovpnControlPort": 5555,
    "remindOnBrowserDays": 2,
    "agentIconUpdTimeout": 2,
}

DEFAULT_REPLIES = {
    "/v3/client/checkin": CHECKIN,
    "/v3/servers/list": {
        "status": True,
        "servers": [
            {"id": "nl-ams-01", "name": "Amsterdam", "country": "NL"},
            {"id": "de-fra-01", "name": "Frankfurt", "country": "DE"},
        ],
    },
    "/v3/server/connect": {
        "status": True,
        "auth": _b64(CONNECT_AUTH),
        "config": _b64(CONNECT_CONFIG),
    },
    "/v3/products/list": {
        "status": True,
        "products": [{"id": "monthly", "name": "1 month", "price": "9.99", "currency": "USD"}],
    },
    "/v3/accounts/register": {"status": True, "message": "Account created"},
    "/v3/accounts/login": {"status": True, "token": "mock-token-0001"},
    "/v3/accounts/orders": {"status": True, "orders": []},
    "/v3/accounts/reset": {"status": True},
    "/v3/accounts/limits": {"status": True, "time_left": 2592000},
    "/v3/support": {"status": True},
    "/v3/accounts/autologined": {"status": True},
    "/user/log/": {"status": True},
}

ENDPOINTS = tuple(DEFAULT_REPLIES)


def default_body(path):
    return json.dumps(DEFAULT_REPLIES[path]).encode("utf-8")
