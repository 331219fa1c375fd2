#include "ServerPool.h"


#include "Logger.h"

#include <cstdio>

namespace {

// After a failed pipe creation: the next attempt comes this much later, not at once, so that a
// pipe name that cannot be had does not turn the loop into a busy one filling the log.
constexpr DWORD RetryPauseMs = 1000;
// How long the pool's end waits for the accept loop, which Close has already woken.
constexpr DWORD AcceptLoopEndMs = 5000;
// How long Close waits for the client threads, all of them together: a thread busy with a request
// that does not end (an operation stuck in the service) is left running past it.
constexpr ULONGLONG ClientThreadsEndMs = 5000;
// How much longer the pool's end gives the threads that Close left running.
constexpr ULONGLONG LeftThreadsEndMs = 10000;

DWORD remainingUntil(ULONGLONG deadline)
{
    const ULONGLONG now = GetTickCount64();
    return now < deadline ? static_cast<DWORD>(deadline - now) : 0;
}

} // namespace

ServerPool::ServerPool(const std::wstring& pipeName, IConfigSectionManager* manager)
    : manager(manager)
    , pipeName(pipeName)
    , stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr))
    , loopEnded(CreateEventW(nullptr, TRUE, TRUE, nullptr))
{
}

ServerPool::~ServerPool()
{
    bool running = false;
    {
        std::lock_guard<std::mutex> lock(serversMutex);
        const bool loopRunning = WaitForSingleObject(loopEnded.get(), 0) == WAIT_TIMEOUT;
        running = !stopping && (loopRunning || !servers.empty());
    }
    // A pool that was never closed still has threads that use it.
    if (running)
        Close();
    if (WaitForSingleObject(loopEnded.get(), AcceptLoopEndMs) == WAIT_TIMEOUT)
        Logger::instance().write("ServerPool::~ServerPool: the accept loop did not end");
    // What Close left running still uses its server and this pool. A server whose thread does not
    // end in time either is left to the process's end rather than destroyed under its thread.
    const ULONGLONG deadline = GetTickCount64() + LeftThreadsEndMs;
    for (Entry& entry : servers) {
        if (WaitForSingleObject(entry.thread.get(), remainingUntil(deadline)) == WAIT_TIMEOUT) {
            Logger::instance().write("ServerPool::~ServerPool the client thread of server_id=", entry.server->id(),
                                     "still runs: its server is not destroyed");
            // A reference that is never released.
            static_cast<void>(new std::shared_ptr<CommandsServer>(std::move(entry.server)));
        }
    }
}

void ServerPool::acceptLoop()
{
    ResetEvent(loopEnded.get());
    for (;;) {
        const auto server = std::make_shared<CommandsServer>(this, manager, pipeName);
        {
            std::lock_guard<std::mutex> lock(serversMutex);
            if (stopping)
                break;
            // Close finds the instance here, or the loop finds stopping set: never neither.
            waitingServer = server;
        }
        if (!server->waitForClient()) {
            if (!server->hasPipe())
                WaitForSingleObject(stopEvent.get(), RetryPauseMs);
            continue;
        }
        Logger::instance().write("Server connected");

        std::lock_guard<std::mutex> lock(serversMutex);
        if (stopping)
            break;
        HANDLE thread = CreateThread(nullptr, 0, CommandsServer::InstanceThread, server.get(), 0, nullptr);
        if (thread != nullptr) {
            servers.push_back(Entry { UniqueHandle(thread), server });
        } else {
            char line[64];
            std::snprintf(line, sizeof line, "CreateThread failed, GLE=%d.\n", static_cast<int>(GetLastError()));
            Logger::instance().write(line);
        }
    }
    Logger::instance().write("Finish Pool Thread:");
    SetEvent(loopEnded.get());
}

bool ServerPool::isActive()
{
    std::lock_guard<std::mutex> lock(serversMutex);
    if (stopping)
        return false;
    for (const Entry& entry : servers) {
        if (!entry.server->hasPipe())
            return false;
    }
    return waitingServer != nullptr && waitingServer->hasPipe();
}

void ServerPool::Close()
{
    Logger::instance().write("ServerPool::Close-- CLOSE ALL");
    {
        std::lock_guard<std::mutex> lock(serversMutex);
        stopping = true;
    }
    SetEvent(stopEvent.get());

    // With stopping set nobody else changes the list.
    const ULONGLONG deadline = GetTickCount64() + ClientThreadsEndMs;
    for (Entry& entry : servers) {
        entry.server->Close(entry.thread.get());
        if (WaitForSingleObject(entry.thread.get(), remainingUntil(deadline)) == WAIT_TIMEOUT) {
            Logger::instance().write("ServerPool::Close the client thread of server_id=", entry.server->id(),
                                     "did not end within 5 s: left running");
            continue;
        }
        entry.thread.reset();
        Logger::instance().write("thread closed server_id= ", entry.server->id());
    }
    // A thread left running keeps its entry, and with it the server it still uses.
    servers.remove_if([](const Entry& entry) { return !entry.thread; });

    std::shared_ptr<CommandsServer> waiting;
    {
        std::lock_guard<std::mutex> lock(serversMutex);
        waiting = std::move(waitingServer);
    }
    if (waiting)
        waiting->Close(nullptr);
    waiting.reset();
    Logger::instance().write("ServerPool::Close-- DONE.");
}

int ServerPool::nextServerId()
{
    return serverIdCounter++;
}

int ServerPool::releaseServerId()
{
    return serverIdCounter--;
}

void ServerPool::removeServer(CommandsServer* server)
{
    std::lock_guard<std::mutex> lock(serversMutex);
    if (stopping)
        return;
    for (auto entry = servers.begin(); entry != servers.end(); ++entry) {
        if (entry->server.get() == server) {
            servers.erase(entry);
            return;
        }
    }
}
