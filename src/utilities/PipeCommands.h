#pragma once
// The command codes of the service's pipe: the first payload byte of every request.
// Codes that are not listed (0, 12, 18 and above) name no command and are ignored by the service.

#include <cstdint>

enum PipeCommand : std::uint8_t {
    CMD_GET_SETTING = 1,           // string name -> string value, or an absent string
    CMD_SET_SETTING = 2,           // string name, string value
    CMD_NOOP = 3,                  // string (ignored)
    CMD_LIST_SETTINGS = 4,         // string path -> int32 count, count strings
    CMD_LIST_FOLDERS = 5,          // string path -> int32 count, count strings
    CMD_REMOVE_SETTING = 6,        // string name
    CMD_SET_USER = 7,              // string user SID
    CMD_SET_REQUIRED_STATE = 8,    // string: "true" switches the VPN on, anything else off
    CMD_GET_UPDATE_URL = 9,        // -> string URL, empty when no update is offered
    CMD_RUN_UPDATE = 10,           // -> byte 1 or 0
    CMD_LAUNCH_APP = 11,           // string command line
    CMD_RESTART_UPDATE_CHECK = 13,
    CMD_POST_LOGS = 14,            // -> byte 1 or 0
    CMD_GET_VPN_STATE = 15,        // -> byte: the VPN state, 0 to 3
    CMD_GET_SERVERS_LIST = 16,     // -> string: the servers-list message
    CMD_CONNECT_TO_SERVER = 17,    // string server id
};
