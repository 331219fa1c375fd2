#pragma once
// A test's end of a daemon's management connection on 127.0.0.1.

#include "Winsock.h"

#include <string>

class ManagementClient {
public:
    // One attempt: 0 when connected, else the Windows Sockets error (WSAECONNREFUSED when the
    // port is not open).
    int tryConnect(unsigned short port);
    // Tries again every 100 ms until connected or `timeoutMs` has passed.
    bool connectWithin(unsigned short port, DWORD timeoutMs);
    // connectWithin, then the daemon's first line (its greeting); empty when either fails.
    std::string connectForGreeting(unsigned short port, DWORD timeoutMs);

    bool send(const std::string& text);
    // Reads until `count` bytes have come in all, the connection ended or `timeoutMs` passed.
    std::string readAtLeast(size_t count, DWORD timeoutMs);
    // Reads until what came in ends with `end`, the connection ended or `timeoutMs` passed.
    std::string readUntil(const std::string& end, DWORD timeoutMs);
    // Whatever comes in within `ms`.
    std::string readFor(DWORD ms);
    // True when the daemon closed the connection within `timeoutMs`; what came before is dropped.
    bool waitForClose(DWORD timeoutMs);

private:
    template <typename Done>
    std::string readWhile(DWORD timeoutMs, Done done);

    WinsockSession sockets_;
    UniqueSocket socket_;
    bool ended_ = false;
};
