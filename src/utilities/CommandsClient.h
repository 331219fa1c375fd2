#pragma once
// The client end of one connection to the service's command pipe.

#include "Handles.h"
#include "PipeMessage.h"

#include <string>

// The pipe on which the service takes commands.
constexpr const wchar_t* CommandsPipeName = L"\\\\.\\pipe\\NimbalPipe";

class CommandsClient {
public:
    // Connects at once; the holder looks at pipe() to see whether that worked.
    explicit CommandsClient(const std::wstring& pipeName);
    CommandsClient(const CommandsClient&) = delete;
    CommandsClient& operator=(const CommandsClient&) = delete;

    // True when the client holds an open pipe afterwards. While every instance is busy it
    // waits for one to come free, 4 s at a time; with no server at all it fails at once.
    bool connect();

    // The command API library's requests. Each writes one frame on the pipe as it stands and
    // never reconnects; the first two expect no reply.
    bool removeSetting(const std::wstring& key);
    bool setConnection(bool enable);
    // The byte the service answers with, unchecked; 1 (disconnected) when no answer can be read.
    int requestVpnState();

    // INVALID_HANDLE_VALUE until connected. A pipe broken later still counts as connected:
    // that shows only as failing writes and reads.
    HANDLE pipe() const noexcept { return pipe_.get(); }
    PipeMessage& buffer() noexcept { return buffer_; }
    const std::wstring& pipeName() const noexcept { return pipeName_; }

private:
    PipeMessage buffer_;
    std::wstring pipeName_;
    FileHandle pipe_; // declared last so that it is closed first
};
