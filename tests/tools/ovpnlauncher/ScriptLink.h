#pragma once
// The launcher's end of the loopback connection to its script on the Linux side
// (ovpnlauncher.sh): the script reports openvpn's end on it, and takes its closing as ours.

#include "Winsock.h"

#include <optional>

class ScriptLink {
public:
    // Listens on 127.0.0.1 at a port the system chooses. Throws std::runtime_error.
    ScriptLink();

    unsigned short port() const { return port_; }

    // Takes the script's connection. Throws std::runtime_error when none comes within `timeoutMs`.
    void accept(DWORD timeoutMs);

    // Waits until the script closes its end; openvpn's exit status as the script reported it,
    // or nothing when it ended without a report.
    std::optional<int> exitStatus();

private:
    UniqueSocket listener_;
    UniqueSocket script_;
    unsigned short port_ = 0;
};
