#include "NetworkHelpers.h"

#include "Logger.h"
#include "SocketHandle.h"

#include <algorithm>
#include <cstring>

bool checkPort(const std::string& host, int port)
{
    // A port that would be cut to 16 bits would probe another one; 0 binds to any free port.
    if (port < 1 || port > 65535) {
        LOG_INFO << "checkPort" << "no such port" << host << ":" << port;
        return false;
    }
    const UniqueSocket probe(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!probe) {
        const int error = WSAGetLastError();
        LOG_INFO << "checkPort" << "Error " << error << " opening socket to " << host << ":" << port;
        return false;
    }

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = inet_addr(host.c_str());
    if (address.sin_addr.s_addr == INADDR_NONE) {
        const hostent* entry = gethostbyname(host.c_str());
        if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
            const int error = WSAGetLastError();
            LOG_INFO << "checkPort" << "Error " << error << " no such host " << host;
            return false;
        }
        std::memcpy(&address.sin_addr, entry->h_addr_list[0],
                    std::min<size_t>(sizeof address.sin_addr, static_cast<size_t>(entry->h_length)));
    }

    if (bind(probe.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        LOG_INFO << "checkPort" << "Port is busy" << host << ":" << port;
        return false;
    }
    LOG_INFO << "checkPort" << "Port is available" << host << ":" << port;
    return true;
}
