#pragma once
// Owners for Windows Sockets: the library's start-up and single sockets.

#include <winsock2.h>
#include <ws2tcpip.h>

#include "Handles.h"

class WinsockSession {
public:
    WinsockSession()
    {
        WSADATA data {};
        started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockSession()
    {
        if (started_)
            WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    bool started() const { return started_; }

private:
    bool started_ = false;
};

struct SocketTraits {
    static SOCKET none() noexcept { return INVALID_SOCKET; }
    static bool valid(SOCKET s) noexcept { return s != INVALID_SOCKET; }
    static void close(SOCKET s) noexcept { closesocket(s); }
};
using UniqueSocket = UniqueOwner<SOCKET, SocketTraits>;

// 127.0.0.1 at `port`; port 0 lets bind choose one.
inline sockaddr_in loopbackAddress(unsigned short port)
{
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

// Waits up to `timeoutMs` for `socket` to become readable (data, a connection to accept, or its end).
inline bool waitReadable(SOCKET socket, DWORD timeoutMs)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval timeout { static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000 };
    return select(0, &readable, nullptr, nullptr, &timeout) == 1;
}
