#pragma once
// Every text the host reads and writes, kept together so each can be checked to the byte.

#include "CmdApiBinding.h"

#include <array>

namespace HostReplies {

inline constexpr char UnknownMessage[] = R"({"text":"Unknown message received"})";
inline constexpr char ServiceStarting[] = R"({"text":"Service starting"})";

// The state's name goes between the last two double quotes.
inline constexpr char VpnStateReply[] = R"({"text":""})";
inline constexpr std::size_t VpnStateNameAt = 9;

} // namespace HostReplies

struct NativeMessage {
    const char* request;
    CmdApi::BoolQuery CmdApi::*query;  // none: the request for the VPN state
    const char* replyWhenTrue;         // for the VPN state, the reply its name goes into
    const char* replyWhenFalse;
};

// Requests are whole texts, matched byte for byte in this order.
inline constexpr std::array<NativeMessage, 4> NativeMessageTable { {
    { R"({"text":"isInstalled"})", &CmdApi::isServiceInstalled, R"({"text":"installed"})",
      R"({"text":"not installed"})" },
    { R"({"text":"isRunning"})", &CmdApi::isServiceRunning, R"({"text":"running"})", R"({"text":"not running"})" },
    { R"({"text":"tryToStartService"})", &CmdApi::tryToStartService, HostReplies::ServiceStarting,
      R"({"text":"Service start attempt failed"})" },
    { R"({"text":"getVpnState"})", nullptr, HostReplies::VpnStateReply, nullptr },
} };

// Indexed by VpnState.
inline constexpr std::array<const char*, 4> VpnStateNames { "NOTCONNECTED", "DISCONNECTED", "CONNECTING",
                                                            "CONNECTED" };
// A state outside the table is shown as DISCONNECTED.
inline constexpr std::size_t UnexpectedVpnStateShownAs = 1;
