#include "ClientRegistry.h"

#include "ServiceState.h"

#include <map>
#include <mutex>

namespace {

using ClientMap = std::map<DWORD, std::shared_ptr<CommandsClient>>;

// Held for a whole getClient, service start and pipe waits included.
std::mutex& registryMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Never pruned: a thread's connection outlives the thread.
ClientMap& clients()
{
    static ClientMap map;
    return map;
}

// A server end that has gone (the service stopped or restarted) leaves the handle open but dead.
bool pipeBroken(HANDLE pipe)
{
    DWORD available = 0;
    if (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr))
        return false;
    const DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA;
}

} // namespace

std::shared_ptr<CommandsClient> getClient()
{
    std::lock_guard<std::mutex> lock(registryMutex());

    std::shared_ptr<CommandsClient>& client = clients()[GetCurrentThreadId()];
    // A new client connects at once; one whose server has gone is replaced, so that the thread
    // reaches the service again once it is back.
    if (!client || (client->pipe() != INVALID_HANDLE_VALUE && pipeBroken(client->pipe())))
        client = std::make_shared<CommandsClient>(CommandsPipeName);
    if (client->pipe() != INVALID_HANDLE_VALUE)
        return client;
    if (client->connect())
        return client;

    if (startAndCheckService() && client->connect())
        return client;
    return nullptr;
}
