#include "LoopbackHttp.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "Handles.h"

#include <cstdlib>
#include <stdexcept>

namespace {

struct SocketTraits {
    static SOCKET none() noexcept { return INVALID_SOCKET; }
    static bool valid(SOCKET s) noexcept { return s != INVALID_SOCKET; }
    static void close(SOCKET s) noexcept { closesocket(s); }
};
using UniqueSocket = UniqueOwner<SOCKET, SocketTraits>;

class WinsockInit {
public:
    WinsockInit()
    {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
            throw std::runtime_error("WSAStartup failed");
    }
    ~WinsockInit() { WSACleanup(); }
    WinsockInit(const WinsockInit&) = delete;
    WinsockInit& operator=(const WinsockInit&) = delete;
};

// Bounds every send and read, so a server that stops answering fails the test instead of hanging it.
constexpr DWORD IoTimeoutMs = 60000;

[[noreturn]] void fail(const std::string& what, unsigned short port)
{
    throw std::runtime_error(what + " 127.0.0.1:" + std::to_string(port) + " failed, error " +
                             std::to_string(WSAGetLastError()));
}

} // namespace

HttpReply loopbackHttp(unsigned short port, const std::string& method, const std::string& target,
                       const std::string& body)
{
    WinsockInit winsock;
    UniqueSocket connection(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!connection)
        fail("socket for", port);
    setsockopt(connection.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&IoTimeoutMs),
               sizeof IoTimeoutMs);
    setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&IoTimeoutMs),
               sizeof IoTimeoutMs);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        fail("connecting to", port);

    const std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nContent-Length: " + std::to_string(body.size()) +
                                "\r\nConnection: close\r\n\r\n" + body;
    for (size_t sent = 0; sent < request.size();) {
        const int n = send(connection.get(), request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n <= 0)
            fail("sending to", port);
        sent += static_cast<size_t>(n);
    }

    // The server closes the connection after its reply.
    std::string received;
    char buffer[8192];
    for (;;) {
        const int n = recv(connection.get(), buffer, sizeof buffer, 0);
        if (n == 0)
            break;
        if (n < 0)
            fail("reading from", port);
        received.append(buffer, static_cast<size_t>(n));
    }

    const size_t headerEnd = received.find("\r\n\r\n");
    if (received.compare(0, 9, "HTTP/1.1 ") != 0 || headerEnd == std::string::npos)
        throw std::runtime_error("not an HTTP reply from 127.0.0.1:" + std::to_string(port) + ": " + received);
    HttpReply reply;
    reply.status = std::atoi(received.c_str() + 9);
    reply.body = received.substr(headerEnd + 4);
    return reply;
}
