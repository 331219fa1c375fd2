#pragma once
// The loopback port a test program serves on.

#include "NetworkHelpers.h"

#include <winsock2.h>

// The first free port of the ten from HTTP_TEST_PORT (set per test program), chosen once.
inline unsigned short httpTestPort()
{
    static const unsigned short port = [] {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        int chosen = HTTP_TEST_PORT;
        while (chosen < HTTP_TEST_PORT + 9 && !checkPort("127.0.0.1", chosen))
            ++chosen;
        WSACleanup();
        return static_cast<unsigned short>(chosen);
    }();
    return port;
}
