#include "ListenerProbe.h"

#include <algorithm>

namespace {

// A connection to the server's own port is made at once on loopback, or not at all.
constexpr long ConnectWithinSeconds = 1;

} // namespace

DWORD ListenerProbe::nextCheckMs() const
{
    if (probing)
        return ProbeArrivesWithinMs - std::min(probingMs, ProbeArrivesWithinMs);
    return ProbeAfterIdleMs - std::min(idleMs, ProbeAfterIdleMs);
}

ListenerProbe::Verdict ListenerProbe::waited(DWORD elapsedMs, int port, const std::string& path)
{
    idleMs += elapsedMs;
    if (probing) {
        probingMs += elapsedMs;
        return probingMs >= ProbeArrivesWithinMs ? Verdict::Overdue : Verdict::Waiting;
    }
    if (idleMs >= ProbeAfterIdleMs) {
        // One that cannot be sent does not arrive either: the same judgement follows.
        send(port, path);
        probing = true;
        probingMs = 0;
    }
    return Verdict::Waiting;
}

bool ListenerProbe::arrived(const HTTP_REQUEST_V1& request)
{
    idleMs = 0;
    if (!isFrom(request))
        return false;
    probing = false;
    return true;
}

void ListenerProbe::reset()
{
    connection.reset();
    idleMs = ProbeAfterIdleMs;
    probing = false;
}

bool ListenerProbe::send(int port, const std::string& path)
{
    dropReplies();
    if (!connection && !connectTo(port))
        return false;
    const std::string request = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
                                + "\r\nContent-Length: 0\r\n\r\n";
    // A few bytes on a connection that carries nothing else: the socket takes them at once.
    if (::send(connection.get(), request.data(), static_cast<int>(request.size()), 0)
        != static_cast<int>(request.size())) {
        connection.reset();
        return false;
    }
    return true;
}

bool ListenerProbe::connectTo(int port)
{
    if (!winsock.start())
        return false;
    UniqueSocket made(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    u_long nonBlocking = 1;
    if (!made || ioctlsocket(made.get(), FIONBIO, &nonBlocking) != 0)
        return false;
    sockaddr_in server {};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<u_short>(port));
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(made.get(), reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK)
            return false;
        fd_set writable;
        FD_ZERO(&writable);
        FD_SET(made.get(), &writable);
        timeval within { ConnectWithinSeconds, 0 };
        int error = 0;
        int length = sizeof error;
        if (select(0, nullptr, &writable, nullptr, &within) != 1
            || getsockopt(made.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0
            || error != 0)
            return false;
    }
    int length = sizeof localAddress;
    if (getsockname(made.get(), reinterpret_cast<sockaddr*>(&localAddress), &length) != 0)
        return false;
    connection = std::move(made);
    return true;
}

void ListenerProbe::dropReplies()
{
    if (!connection)
        return;
    char buffer[512];
    for (;;) {
        const int n = recv(connection.get(), buffer, sizeof buffer, 0);
        if (n > 0)
            continue;
        // Closed by the server (or broken): the next probe goes on a new connection.
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
            connection.reset();
        return;
    }
}

bool ListenerProbe::isFrom(const HTTP_REQUEST_V1& request) const
{
    if (!connection || request.Address.pRemoteAddress == nullptr
        || request.Address.pRemoteAddress->sa_family != AF_INET)
        return false;
    const auto* remote = reinterpret_cast<const sockaddr_in*>(request.Address.pRemoteAddress);
    return remote->sin_port == localAddress.sin_port && remote->sin_addr.s_addr == localAddress.sin_addr.s_addr;
}
