#pragma once
// Owner of a Windows Sockets socket: closes it when it goes out of scope.

#include <winsock2.h>

#include "Handles.h"

struct SocketTraits {
    static SOCKET none() noexcept { return INVALID_SOCKET; }
    static bool valid(SOCKET s) noexcept { return s != INVALID_SOCKET; }
    static void close(SOCKET s) noexcept { closesocket(s); }
};
using UniqueSocket = UniqueOwner<SOCKET, SocketTraits>;
