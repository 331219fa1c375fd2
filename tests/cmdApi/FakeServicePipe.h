#pragma once
// Plays the service's side of the command pipe for the library under test: takes any number of
// connections, records every byte each one sends, and answers CMD_GET_VPN_STATE as it is told.

#include "Handles.h"
#include "PipeBytes.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class FakeServicePipe {
public:
    // Takes the service's own pipe name. holdsName() tells whether no one else serves it.
    explicit FakeServicePipe(const std::wstring& name = L"\\\\.\\pipe\\NimbalPipe");
    ~FakeServicePipe();
    FakeServicePipe(const FakeServicePipe&) = delete;
    FakeServicePipe& operator=(const FakeServicePipe&) = delete;

    bool holdsName() const { return holdsName_; }

    // The reply payload to each state request (one byte, 3, unless told); none: hang up instead.
    void answerStateRequestsWith(std::optional<Bytes> payload);
    // The next `count` state requests are not answered: the connection is ended instead, as by a
    // service that goes down with the request taken. Later ones are answered as told above.
    void hangUpOnNextStateRequests(size_t count);
    // After each state reply: send this frame too and close the server's end without
    // disconnecting, as a service that dies just then would; the stray frame stays unread.
    void dieAfterStateRepliesWith(Bytes strayPayload);

    // Ends every connection from the server's side, as a stopping service would; new
    // connections are still taken.
    void dropConnections();

    // What each connection has sent so far, in the order the connections came.
    std::vector<Bytes> received() const;
    // Waits (up to 10 s) until `frames` whole request frames have come in on all connections.
    bool waitForFrames(size_t frames) const;

private:
    struct Connection;

    void acceptLoop(FileHandle instance);
    void serve(Connection& connection);

    const std::wstring name_;
    bool holdsName_ = false;
    UniqueHandle stop_;
    mutable std::mutex mutex_;
    mutable std::condition_variable framesArrived_;
    std::vector<std::shared_ptr<Connection>> connections_; // every connection ever taken
    size_t frames_ = 0;
    std::optional<Bytes> stateReply_ = Bytes { 3 };
    size_t hangUps_ = 0;
    std::optional<Bytes> strayFrame_;
    std::thread acceptor_;
};
