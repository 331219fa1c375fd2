#include "Behaviour.h"

#include <sstream>
#include <stdexcept>

namespace {

const char DirectivePrefix[] = "# test-daemon:";
const size_t LongReplySize = 1500;

std::string trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

DWORD milliseconds(const std::string& directive, const std::string& value)
{
    if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
        throw std::runtime_error("test-daemon: not a number of milliseconds: " + directive);
    return static_cast<DWORD>(std::stoul(value));
}

void apply(Behaviour& behaviour, const std::string& directive)
{
    const size_t equals = directive.find('=');
    const std::string key = directive.substr(0, equals);
    const std::string value = equals == std::string::npos ? std::string() : directive.substr(equals + 1);
    auto unknown = [&]() { return std::runtime_error("test-daemon: unknown directive: " + directive); };

    if (key == "state") {
        static const struct {
            const char* name;
            StateReply reply;
        } replies[] = {
            { "connected", StateReply::Connected }, { "connecting", StateReply::Connecting },
            { "connected-alone", StateReply::ConnectedAlone }, { "end-lf", StateReply::EndLf },
            { "end-crlf", StateReply::EndCrLf }, { "long", StateReply::Long }, { "none", StateReply::None },
        };
        for (const auto& entry : replies) {
            if (value == entry.name) {
                behaviour.state = entry.reply;
                return;
            }
        }
        throw unknown();
    }
    if (key == "state-delay")
        behaviour.stateDelayMs = milliseconds(directive, value);
    else if (key == "listen-delay")
        behaviour.listenDelayMs = value == "never" ? std::nullopt : std::optional<DWORD>(milliseconds(directive, value));
    else if (key == "exit-after")
        behaviour.exitAfterMs = milliseconds(directive, value);
    else if (directive == "greeting=none")
        behaviour.greet = false;
    else if (directive == "sigterm=ignore" || directive == "sigterm=exit")
        behaviour.exitOnSigterm = value == "exit";
    else
        throw unknown();
}

} // namespace

Behaviour parseBehaviour(const std::string& configuration)
{
    Behaviour behaviour;
    std::istringstream lines(configuration);
    std::string line;
    while (std::getline(lines, line)) {
        line = trimmed(line);
        if (line.rfind(DirectivePrefix, 0) == 0)
            apply(behaviour, trimmed(line.substr(sizeof DirectivePrefix - 1)));
    }
    return behaviour;
}

std::string stateReplyText(StateReply reply)
{
    switch (reply) {
    case StateReply::Connected:
        return "1796889814,CONNECTED,SUCCESS,,127.0.0.1,21194,127.0.0.1,21195\r\nEND\r\n";
    case StateReply::Connecting:
        return "1796889814,CONNECTING,,,,,,\r\nEND\r\n";
    case StateReply::ConnectedAlone:
        return "CONNECTED\r\n";
    case StateReply::EndLf:
        return "END\n";
    case StateReply::EndCrLf:
        return "END\r\n";
    case StateReply::Long: {
        const std::string head = "1796889814,CONNECTED,SUCCESS,,127.0.0.1,21194,127.0.0.1,";
        const std::string tail = "\r\nEND\r\n";
        return head + std::string(LongReplySize - head.size() - tail.size(), 'x') + tail;
    }
    case StateReply::None:
        break;
    }
    return std::string();
}
