#pragma once
// The state of the VPN as the service reports it to its clients.

#include <optional>

enum VpnState : int {
    VPN_NOTCONNECTED = 0,  // daemon not running, VPN not wanted
    VPN_DISCONNECTED = 1,  // daemon not running although the VPN is wanted
    VPN_CONNECTING = 2,    // daemon running, not reporting the connected state
    VPN_CONNECTED = 3,     // daemon running and connected
};

// The text of a state; none for a value that is no state (below 0, or 4 and above).
inline std::optional<const char*> vpnStateText(int state)
{
    static const char* const texts[] = { "NOTCONNECTED", "DISCONNECTED", "CONNECTING", "CONNECTED" };
    if (state < 0 || state >= 4)
        return std::nullopt;
    return texts[state];
}
