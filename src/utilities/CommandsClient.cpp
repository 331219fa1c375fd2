#include "CommandsClient.h"

#include "Logger.h"
#include "PipeCommands.h"

namespace {

constexpr DWORD BusyPipeWaitMs = 4000;
constexpr int VpnStateWithoutReply = 1;

} // namespace

CommandsClient::CommandsClient(const std::wstring& pipeName)
    : pipeName_(pipeName)
{
    connect();
}

bool CommandsClient::connect()
{
    if (!pipe_.valid()) {
        LOG_INFO << "Connecting to: " << pipeName_;
        for (;;) {
            pipe_.reset(CreateFileW(pipeName_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    0, nullptr));
            if (pipe_.valid() || GetLastError() != ERROR_PIPE_BUSY)
                break;
            if (!WaitNamedPipeW(pipeName_.c_str(), BusyPipeWaitMs))
                break;
        }
    }
    const bool connected = pipe_.valid();
    LOG_INFO << "Client connected: " << (connected ? "true" : "false");
    return connected;
}

bool CommandsClient::removeSetting(const std::wstring& key)
{
    buffer_.startMessage();
    buffer_.appendByte(CMD_REMOVE_SETTING);
    buffer_.appendString(key);
    return buffer_.send(pipe());
}

bool CommandsClient::setConnection(bool enable)
{
    buffer_.startMessage();
    buffer_.appendByte(CMD_SET_REQUIRED_STATE);
    buffer_.appendString(enable ? L"true" : L"false");
    return buffer_.send(pipe());
}

int CommandsClient::requestVpnState()
{
    buffer_.startMessage();
    buffer_.appendByte(CMD_GET_VPN_STATE);
    // No request went out, so there is no answer to wait for.
    if (!buffer_.send(pipe()) || !buffer_.readFrom(pipe()) || buffer_.remaining() == 0)
        return VpnStateWithoutReply;
    return buffer_.readByte();
}
