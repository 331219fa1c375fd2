#pragma once
// The command pipe's servers: one instance always waiting for the next client, and a thread for
// every connected client.

#include "CommandsServer.h"
#include "IServerManager.h"

#include "Handles.h"

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>

class IConfigSectionManager;

class ServerPool : public IServerManager {
public:
    // `manager` is not owned; it outlives the pool.
    ServerPool(const std::wstring& pipeName, IConfigSectionManager* manager);
    ~ServerPool() override;
    ServerPool(const ServerPool&) = delete;
    ServerPool& operator=(const ServerPool&) = delete;

    // Makes a waiting instance after another and starts a client thread for each that connects,
    // until Close. Runs once, on a thread of its own.
    void acceptLoop();
    // True while the pool runs with a waiting instance and no server has lost its pipe.
    bool isActive();
    // Ends every connection, waiting for the client threads (5 s for all of them; a thread still
    // busy then is left running), and the accept loop's wait.
    void Close();

    int nextServerId() override;
    int releaseServerId() override;
    void removeServer(CommandsServer* server) override;

private:
    struct Entry {
        UniqueHandle thread;
        std::shared_ptr<CommandsServer> server;
    };

    bool stopping = false;
    IConfigSectionManager* const manager;
    const std::wstring pipeName;
    std::list<Entry> servers;
    std::shared_ptr<CommandsServer> waitingServer;
    // Guards stopping, servers and waitingServer; never held while waiting for a thread.
    std::mutex serversMutex;
    std::atomic<int> serverIdCounter { 0 };
    // Set by Close: ends the pause after a failed pipe creation.
    UniqueHandle stopEvent;
    // Set while no accept loop runs, so that the pool outlives the loop that uses it.
    UniqueHandle loopEnded;
};
