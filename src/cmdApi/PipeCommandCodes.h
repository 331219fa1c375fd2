#pragma once
// The codes of the service's pipe commands that the library sends: the first payload byte of a
// request. They are the service's to define; this is the one place the client side names them.

#include <cstdint>

constexpr std::uint8_t CMD_REMOVE_SETTING = 6;      // string name; no reply
constexpr std::uint8_t CMD_SET_REQUIRED_STATE = 8;  // string "true" or "false"; no reply
constexpr std::uint8_t CMD_GET_VPN_STATE = 15;      // no fields; reply: one byte, the VPN state
