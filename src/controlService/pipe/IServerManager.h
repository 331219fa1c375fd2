#pragma once
// How a pipe server reaches the pool that made it.

class CommandsServer;

class IServerManager {
public:
    // The current counter value, then increments it. Ids label log lines only and may repeat.
    virtual int nextServerId() = 0;
    // Decrements the counter; returns the value before.
    virtual int releaseServerId() = 0;
    // Drops a server whose connection has ended; the server may be destroyed inside the call.
    virtual void removeServer(CommandsServer* server) = 0;
    virtual ~IServerManager() = default;
};
