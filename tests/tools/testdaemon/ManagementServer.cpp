#include "ManagementServer.h"

#include <algorithm>

namespace {

const char Greeting[] = ">INFO:OpenVPN Management Interface Version 5 -- type 'help' for more info\r\n";
const char SigtermReply[] = "SUCCESS: signal SIGTERM thrown\r\n";
const char UnknownCommandReply[] = "ERROR: unknown command, enter 'help' for more options\r\n";

} // namespace

ManagementServer::ManagementServer(const Behaviour& behaviour, unsigned short port, const Journal& journal)
    : behaviour_(behaviour), port_(port), journal_(journal)
{
}

int ManagementServer::run()
{
    start_ = GetTickCount64();
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (behaviour_.exitAfterMs && now >= start_ + *behaviour_.exitAfterMs) {
            journal_.note("exit: after " + std::to_string(*behaviour_.exitAfterMs) + " ms");
            return 1;
        }
        if (!listener_ && behaviour_.listenDelayMs && now >= start_ + *behaviour_.listenDelayMs && !listenNow())
            return 1;
        sendDueReplies(now);
        if (sigtermThrown_ && replies_.empty()) {
            client_.reset();
            journal_.note("exit: signal SIGTERM");
            return 0;
        }
        waitForActivity(now);
    }
}

bool ManagementServer::listenNow()
{
    const std::string where = "127.0.0.1:" + std::to_string(port_);
    UniqueSocket listener(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in address = loopbackAddress(port_);
    if (!listener || bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
        || listen(listener.get(), SOMAXCONN) != 0) {
        journal_.note("error: cannot listen on " + where + " (error " + std::to_string(WSAGetLastError()) + ")");
        return false;
    }
    listener_ = std::move(listener);
    journal_.note("listening: " + where);
    return true;
}

// Sleeps until a socket has something or the next timed event is due.
void ManagementServer::waitForActivity(ULONGLONG now)
{
    ULONGLONG deadline = ~0ULL;
    if (behaviour_.exitAfterMs)
        deadline = std::min(deadline, start_ + *behaviour_.exitAfterMs);
    if (!listener_ && behaviour_.listenDelayMs)
        deadline = std::min(deadline, start_ + *behaviour_.listenDelayMs);
    if (!replies_.empty())
        deadline = std::min(deadline, replies_.front().due);
    const bool timed = deadline != ~0ULL;
    const ULONGLONG wait = timed ? (deadline > now ? deadline - now : 0) : 0;

    fd_set readable;
    FD_ZERO(&readable);
    if (client_)
        FD_SET(client_.get(), &readable);
    else if (listener_)
        FD_SET(listener_.get(), &readable);
    if (readable.fd_count == 0) {
        Sleep(timed ? static_cast<DWORD>(wait) : INFINITE);
        return;
    }
    timeval timeout { static_cast<long>(wait / 1000), static_cast<long>(wait % 1000) * 1000 };
    if (select(0, &readable, nullptr, nullptr, timed ? &timeout : nullptr) <= 0)
        return;
    if (client_ && FD_ISSET(client_.get(), &readable))
        receive();
    else if (listener_ && FD_ISSET(listener_.get(), &readable))
        acceptClient();
}

void ManagementServer::acceptClient()
{
    client_.reset(accept(listener_.get(), nullptr, nullptr));
    if (!client_)
        return;
    journal_.note("connected");
    if (behaviour_.greet)
        sendAll(Greeting);
}

void ManagementServer::receive()
{
    char buffer[4096];
    const int got = recv(client_.get(), buffer, sizeof buffer, 0);
    if (got <= 0) {
        dropClient();
        return;
    }
    partialLine_.append(buffer, got);
    size_t end;
    while (client_ && !sigtermThrown_ && (end = partialLine_.find('\n')) != std::string::npos) {
        const std::string line = partialLine_.substr(0, end + 1);
        partialLine_.erase(0, end + 1);
        handle(line, GetTickCount64());
    }
}

void ManagementServer::handle(const std::string& line, ULONGLONG now)
{
    journal_.note("received: " + escaped(line));
    std::string command = line.substr(0, line.size() - 1);
    if (!command.empty() && command.back() == '\r')
        command.pop_back();
    if (command == "state") {
        if (behaviour_.state != StateReply::None)
            queue(stateReplyText(behaviour_.state), now + behaviour_.stateDelayMs);
    } else if (command == "signal SIGTERM") {
        queue(SigtermReply, now);
        sigtermThrown_ = behaviour_.exitOnSigterm;
    } else if (!command.empty()) {
        queue(UnknownCommandReply, now);
    }
}

// Replies leave in the order of their commands, so a late one holds back those behind it.
void ManagementServer::queue(std::string text, ULONGLONG due)
{
    if (!replies_.empty())
        due = std::max(due, replies_.back().due);
    replies_.push_back({ due, std::move(text) });
}

bool ManagementServer::sendAll(const std::string& text)
{
    for (size_t sent = 0; sent < text.size();) {
        const int n = send(client_.get(), text.data() + sent, static_cast<int>(text.size() - sent), 0);
        if (n <= 0) {
            dropClient();
            return false;
        }
        sent += static_cast<size_t>(n);
    }
    return true;
}

void ManagementServer::sendDueReplies(ULONGLONG now)
{
    while (client_ && !replies_.empty() && replies_.front().due <= now) {
        const std::string text = std::move(replies_.front().text);
        replies_.pop_front();
        sendAll(text);
    }
}

void ManagementServer::dropClient()
{
    client_.reset();
    partialLine_.clear();
    replies_.clear();
    journal_.note("disconnected");
}
