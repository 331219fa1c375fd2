#include "ManagementClient.h"

int ManagementClient::tryConnect(unsigned short port)
{
    socket_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ended_ = false;
    const sockaddr_in address = loopbackAddress(port);
    if (!socket_ || connect(socket_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = WSAGetLastError();
        socket_.reset();
        return error;
    }
    return 0;
}

bool ManagementClient::connectWithin(unsigned short port, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (tryConnect(port) != 0) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(100);
    }
    return true;
}

std::string ManagementClient::connectForGreeting(unsigned short port, DWORD timeoutMs)
{
    return connectWithin(port, timeoutMs) ? readUntil("\r\n", timeoutMs) : std::string();
}

bool ManagementClient::send(const std::string& text)
{
    return socket_ && ::send(socket_.get(), text.data(), static_cast<int>(text.size()), 0) == static_cast<int>(text.size());
}

template <typename Done>
std::string ManagementClient::readWhile(DWORD timeoutMs, Done done)
{
    std::string text;
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (socket_ && !ended_ && !done(text)) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline || !waitReadable(socket_.get(), static_cast<DWORD>(deadline - now)))
            break;
        char buffer[4096];
        const int got = recv(socket_.get(), buffer, sizeof buffer, 0);
        if (got <= 0)
            ended_ = true;
        else
            text.append(buffer, got);
    }
    return text;
}

std::string ManagementClient::readAtLeast(size_t count, DWORD timeoutMs)
{
    return readWhile(timeoutMs, [&](const std::string& text) { return text.size() >= count; });
}

std::string ManagementClient::readUntil(const std::string& end, DWORD timeoutMs)
{
    return readWhile(timeoutMs, [&](const std::string& text) {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    });
}

std::string ManagementClient::readFor(DWORD ms)
{
    return readWhile(ms, [](const std::string&) { return false; });
}

bool ManagementClient::waitForClose(DWORD timeoutMs)
{
    readFor(timeoutMs);
    return ended_;
}
