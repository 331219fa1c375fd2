#include "ScriptLink.h"

#include <stdexcept>
#include <string>

namespace {

std::runtime_error socketError(const char* what)
{
    return std::runtime_error(std::string(what) + " failed (error " + std::to_string(WSAGetLastError()) + ")");
}

} // namespace

ScriptLink::ScriptLink() : listener_(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP))
{
    sockaddr_in address = loopbackAddress(0);
    int length = sizeof address;
    if (!listener_ || bind(listener_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || listen(listener_.get(), 1) != 0
        || getsockname(listener_.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw socketError("listening for the openvpn script");
    port_ = ntohs(address.sin_port);
}

void ScriptLink::accept(DWORD timeoutMs)
{
    if (!waitReadable(listener_.get(), timeoutMs))
        throw std::runtime_error("the openvpn script did not connect within " + std::to_string(timeoutMs) + " ms");
    script_.reset(::accept(listener_.get(), nullptr, nullptr));
    if (!script_)
        throw socketError("accepting the openvpn script");
    listener_.reset();
}

std::optional<int> ScriptLink::exitStatus()
{
    std::string report;
    char buffer[256];
    int got;
    while ((got = recv(script_.get(), buffer, sizeof buffer, 0)) > 0)
        report.append(buffer, got);
    const std::string prefix = "exit ";
    if (report.rfind(prefix, 0) != 0 || report.size() <= prefix.size())
        return std::nullopt;
    try {
        return std::stoi(report.substr(prefix.size()));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}
