#include "CommandsServer.h"

#include "PipeSecurity.h"

#include "IConfigSectionManager.h"

#include "CommandsClient.h"
#include "ComPtr.h"
#include "Logger.h"

namespace {

constexpr DWORD PipeBufferSize = 1024;

// Looked up once: systems before Vista have no CancelSynchronousIo, and the server then ends the
// client thread instead.
using CancelSynchronousIoFunction = BOOL(WINAPI*)(HANDLE);
const CancelSynchronousIoFunction cancelSynchronousIo = reinterpret_cast<CancelSynchronousIoFunction>(
    reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CancelSynchronousIo")));

} // namespace

CommandsServer::CommandsServer(IServerManager* pool, IConfigSectionManager* manager, const std::wstring& pipeName)
    : manager(manager)
    , pool(pool)
    , section(manager->getConfigUser(L""))
    , pipeName(pipeName)
    , serverId(pool->nextServerId())
{
    Logger::instance().write("Server created");
    EveryoneSecurity security;
    pipe.reset(CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                PIPE_UNLIMITED_INSTANCES, PipeBufferSize, PipeBufferSize, 0, security.attributes()));
}

CommandsServer::~CommandsServer()
{
    Logger::instance().write("Destructor, server_id=", serverId);
    // Nobody holds the server any more, so nobody waits on it for a client.
    shut(nullptr, false);
    pool->releaseServerId();
}

bool CommandsServer::waitForClient()
{
    if (!hasPipe())
        return clientConnected;
    Logger::instance().write("Waiting for client connection server_id=", serverId);
    const bool connected = ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
    clientConnected = connected;
    return connected;
}

void CommandsServer::communicate()
{
    if (!clientConnected)
        return;
    Logger::instance().write("Client connected, server_id=", serverId);

    bool disconnected = false;
    while (!closing) {
        if (!pipe.valid() || !buffer.readFrom(pipe.get())) {
            disconnected = true;
            break;
        }
        if (!serveRequest())
            break;
    }
    if (disconnected)
        Logger::instance().write("Client disconnected");

    Logger::instance().write("Closing section");
    try {
        manager->saveUserAndMainSettings(userSid);
    } catch (const std::exception& error) {
        Logger::instance().write("Saving the connection's settings failed, server_id=", serverId, error.what());
    } catch (...) {
        Logger::instance().write("Saving the connection's settings failed, server_id=", serverId, "unknown error");
    }
    Logger::instance().write("End of communicate");
    pool->removeServer(this);
}

void CommandsServer::Close(HANDLE thread)
{
    shut(thread, true);
}

void CommandsServer::shut(HANDLE thread, bool wakeWaiter)
{
    if (!pipe.valid() || closed.exchange(true))
        return;
    Logger::instance().write("CommandsServer::Close, server_id=", serverId);
    closing = true;

    if (clientConnected) {
        if (thread != nullptr) {
            if (cancelSynchronousIo != nullptr) {
                Logger::instance().write("Canceling IO on server");
                cancelSynchronousIo(thread);
            } else {
                Logger::instance().write("Terminating IO thread on server");
                TerminateThread(thread, 0);
            }
        }
        // Every read and write after this fails at once, also one that the cancel came too early for.
        // No flush first: it would wait for as long as the client does not read.
        DisconnectNamedPipe(pipe.get());
    } else if (wakeWaiter) {
        // A client of our own completes a pending ConnectNamedPipe. The instance stays as it is, so
        // that a wait that has not begun yet still finds the client and returns at once.
        const CommandsClient fakeClient(pipeName);
        if (fakeClient.pipe() == INVALID_HANDLE_VALUE)
            Logger::instance().write("Fake client not connected");
    }
}

DWORD WINAPI CommandsServer::InstanceThread(LPVOID parameter)
{
    if (parameter == nullptr) {
        Logger::instance().write("InstanceThread got an unexpected NULL value in lpvParam.\n");
        return static_cast<DWORD>(-1);
    }
    const ComInit com(COINIT_APARTMENTTHREADED);
    try {
        static_cast<CommandsServer*>(parameter)->communicate();
    } catch (...) {
        // Nothing may leave a thread procedure; the server may already be gone.
        Logger::instance().write("InstanceThread: the connection ended by an exception");
    }
    return 1;
}
