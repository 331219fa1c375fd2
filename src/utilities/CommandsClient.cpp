#include "CommandsClient.h"

#include "Logger.h"

namespace {

constexpr DWORD BusyPipeWaitMs = 4000;

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
