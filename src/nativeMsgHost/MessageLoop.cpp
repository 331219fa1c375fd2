#include "MessageLoop.h"

#include "Logger.h"
#include "NativeMessageTable.h"

#include <string>

namespace {

struct Reply {
    std::string text;
    bool endsHost;
};

const char* vpnStateName(int state)
{
    // Read as unsigned, so a negative state is out of range too.
    const auto index = static_cast<unsigned>(state);
    if (index < VpnStateNames.size())
        return VpnStateNames[index];
    LOG_ERROR << "Caught an unexpected vpn state, error message:" << "invalid array<T, N> subscript";
    return VpnStateNames[UnexpectedVpnStateShownAs];
}

std::string vpnStateReply(int state)
{
    std::string reply = HostReplies::VpnStateReply;
    return reply.insert(HostReplies::VpnStateNameAt, vpnStateName(state));
}

// The reply to one request text, asking the library where the request needs it.
Reply answerMessage(const std::string& request, const CmdApi& api)
{
    for (const NativeMessage& message : NativeMessageTable) {
        if (request != message.request)
            continue;
        if (!message.query)
            return { vpnStateReply(api.getVpnState()), false };
        const std::string reply = (api.*message.query)() ? message.replyWhenTrue : message.replyWhenFalse;
        return { reply, reply == HostReplies::ServiceStarting };
    }
    return { HostReplies::UnknownMessage, false };
}

} // namespace

int serveMessages(MessageChannel& channel, const CmdApi& api)
{
    for (;;) {
        const std::optional<std::string> request = channel.read();
        if (!request) {
            Logger::instance().write("Native msg host: no new messages");
            return 0;
        }
        Logger::instance().write("Native msg host: received", *request);

        const Reply reply = answerMessage(*request, api);
        Logger::instance().write("Native msg host: send", reply.text);
        if (!channel.write(reply.text) || reply.endsHost)
            return 0;
    }
}
