#include "ClientRegistry.h"

#include "ServiceState.h"

#include <map>
#include <mutex>

namespace {

using ClientMap = std::map<DWORD, std::shared_ptr<CommandsClient>>;

// Held for a whole getClient or replaceClient, service start and pipe waits included.
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

// The client itself once it holds a pipe; otherwise the pipe is tried once more, then the service
// is started and the pipe tried again.
std::shared_ptr<CommandsClient> connected(const std::shared_ptr<CommandsClient>& client)
{
    if (client->pipe() != INVALID_HANDLE_VALUE || client->connect())
        return client;
    if (startAndCheckService() && client->connect())
        return client;
    return nullptr;
}

} // namespace

std::shared_ptr<CommandsClient> getClient()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    std::shared_ptr<CommandsClient>& client = clients()[GetCurrentThreadId()];
    // A new client connects at once.
    if (!client)
        client = std::make_shared<CommandsClient>(CommandsPipeName);
    return connected(client);
}

std::shared_ptr<CommandsClient> replaceClient()
{
    std::lock_guard<std::mutex> lock(registryMutex());
    std::shared_ptr<CommandsClient>& client = clients()[GetCurrentThreadId()];
    client = std::make_shared<CommandsClient>(CommandsPipeName);
    return connected(client);
}

bool pipeGone(DWORD error)
{
    return error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED || error == ERROR_NO_DATA;
}
