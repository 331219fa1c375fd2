#include "ManagementIo.h"

#include "ControllerTexts.h"

#include "Logger.h"

#include <cstring>

namespace {

constexpr int ReceiveLimit = 1024;
constexpr long ReplyWaitMicroseconds = 666 * 1000;

bool readableWithinReplyWait(SOCKET socket)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval wait { 0, ReplyWaitMicroseconds };
    return select(0, &readable, nullptr, nullptr, &wait) == 1;
}

} // namespace

bool sendCommand(SOCKET socket, const std::string& command)
{
    const std::string text = command + Management::LineEnd;
    const int sent = send(socket, text.data(), static_cast<int>(text.size()), 0);
    if (sent != static_cast<int>(text.size())) {
        Logger::instance().write("Send command error");
        return false;
    }
    return true;
}

std::string receiveRaw(SOCKET socket)
{
    char buffer[ReceiveLimit];
    const int received = recv(socket, buffer, ReceiveLimit, 0);
    if (received <= 0)
        return std::string();
    const void* nul = std::memchr(buffer, '\0', static_cast<size_t>(received));
    const size_t length = nul ? static_cast<const char*>(nul) - buffer : static_cast<size_t>(received);
    return std::string(buffer, length);
}

std::string readReply(SOCKET socket)
{
    // Waiting for the socket rather than for a blocked receive keeps the limit even for a daemon
    // that never answers.
    std::string reply;
    if (readableWithinReplyWait(socket))
        reply = receiveRaw(socket);
    if (reply.empty())
        LOG_ERROR << "Service reply is empty or timedout";
    return reply;
}

std::vector<std::string> splitByComma(const std::string& text)
{
    std::vector<std::string> fields;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        if (comma > start)
            fields.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return fields;
}
