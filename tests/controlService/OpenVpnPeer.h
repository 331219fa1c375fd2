#pragma once
// A real openvpn peer on 127.0.0.1 for the daemon that the service starts through the launcher:
// a static key made for the test, the peer's own configuration in a folder of the test's own, and
// the configuration the daemon needs to reach it (its secret inline, its files relative to --cd).
// The peer is killed when the object goes, also when a test fails.

#include "LinuxProcesses.h"
#include "TempFolder.h"

#include <memory>
#include <string>

class OpenVpnPeer {
public:
    // The daemon's UDP port and the peer's.
    OpenVpnPeer(unsigned short daemonPort, unsigned short peerPort);

    // False when the key could not be made.
    bool prepared() const { return !key_.empty(); }
    // The daemon's configuration; it writes its pid to `pidFile` in its working folder.
    std::string daemonConfiguration(const std::string& pidFile) const;
    // Starts the peer; its pid, or 0 when it did not come up.
    unsigned start();

private:
    TempFolder folder_;
    std::string linuxFolder_;
    unsigned short daemonPort_;
    unsigned short peerPort_;
    std::string key_;
    std::unique_ptr<OpenVpnGuard> guard_;
};
