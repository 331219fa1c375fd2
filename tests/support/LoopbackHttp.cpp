#include "LoopbackHttp.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "Handles.h"

#include <cstdlib>
#include <cstring>
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

UniqueSocket connectTo(unsigned short port)
{
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
    return connection;
}

std::string requestText(unsigned short port, const std::string& method, const std::string& target,
                        const std::string& body, const std::string& headers)
{
    return method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
           + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + headers + "\r\n" + body;
}

// The Content-Length among a reply's header lines (names compared without case), or -1 without one.
long long contentLength(const std::string& headers)
{
    size_t start = 0;
    while (start < headers.size()) {
        const size_t end = headers.find("\r\n", start);
        const std::string line = headers.substr(start, end - start);
        const size_t colon = line.find(':');
        if (colon != std::string::npos && _stricmp(line.substr(0, colon).c_str(), "Content-Length") == 0)
            return std::atoll(line.c_str() + colon + 1);
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    return -1;
}

// Sends the request and reads one reply: up to the end of the body its headers announce, or up to
// the close. Empty when the server closes or resets the connection without a byte of reply.
std::string exchange(SOCKET connection, unsigned short port, const std::string& request)
{
    for (size_t sent = 0; sent < request.size();) {
        const int n = send(connection, request.data() + sent, static_cast<int>(request.size() - sent), 0);
        if (n <= 0)
            fail("sending to", port);
        sent += static_cast<size_t>(n);
    }

    std::string received;
    size_t headerEnd = std::string::npos;
    long long expected = -1;
    char buffer[8192];
    while (headerEnd == std::string::npos || expected < 0
           || received.size() - (headerEnd + 4) < static_cast<size_t>(expected)) {
        const int n = recv(connection, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && received.empty() && WSAGetLastError() == WSAECONNRESET))
            break;
        if (n < 0)
            fail("reading from", port);
        received.append(buffer, static_cast<size_t>(n));
        if (headerEnd == std::string::npos) {
            headerEnd = received.find("\r\n\r\n");
            if (headerEnd != std::string::npos)
                expected = contentLength(received.substr(0, headerEnd + 2));
        }
    }
    return received;
}

HttpReply parseReply(unsigned short port, const std::string& received)
{
    const size_t statusEnd = received.find("\r\n");
    const size_t headerEnd = received.find("\r\n\r\n");
    if (received.compare(0, 9, "HTTP/1.1 ") != 0 || headerEnd == std::string::npos)
        throw std::runtime_error("not an HTTP reply from 127.0.0.1:" + std::to_string(port) + ": " + received);
    HttpReply reply;
    reply.status = std::atoi(received.c_str() + 9);
    const size_t reasonStart = received.find(' ', 9);
    if (reasonStart != std::string::npos && reasonStart < statusEnd)
        reply.reason = received.substr(reasonStart + 1, statusEnd - reasonStart - 1);
    reply.headers = received.substr(statusEnd + 2, headerEnd + 2 - (statusEnd + 2));
    reply.body = received.substr(headerEnd + 4);
    return reply;
}

} // namespace

HttpReply loopbackExchange(unsigned short port, const std::string& request)
{
    WinsockInit winsock;
    const UniqueSocket connection = connectTo(port);
    return parseReply(port, exchange(connection.get(), port, request));
}

HttpReply loopbackHttp(unsigned short port, const std::string& method, const std::string& target,
                       const std::string& body, const std::string& headers)
{
    return loopbackExchange(port, requestText(port, method, target, body, headers + "Connection: close\r\n"));
}

struct LoopbackConnection::Socket {
    WinsockInit winsock;
    UniqueSocket connection;
};

LoopbackConnection::LoopbackConnection(unsigned short port)
    : port(port)
    , socket(std::make_unique<Socket>())
{
}

LoopbackConnection::~LoopbackConnection() = default;

HttpReply LoopbackConnection::request(const std::string& method, const std::string& target, const std::string& body,
                                      const std::string& headers)
{
    const std::string text = requestText(port, method, target, body, headers);
    std::string received;
    for (int attempt = 0; received.empty() && attempt < 5; ++attempt) {
        if (!socket->connection || attempt > 0)
            socket->connection = connectTo(port);
        received = exchange(socket->connection.get(), port, text);
    }
    if (received.empty())
        socket->connection.reset();
    return parseReply(port, received);
}
