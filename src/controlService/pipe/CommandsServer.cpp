#include "CommandsServer.h"

#include "PipeLogTexts.h"
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
    Logger::instance().write(PipeLog::ServerCreated);
    EveryoneSecurity security;
    pipe.reset(CreateNamedPipeW(pipeName.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT,
                                PIPE_UNLIMITED_INSTANCES, PipeBufferSize, PipeBufferSize, 0, security.attributes()));
}

CommandsServer::~CommandsServer()
{
    Logger::instance().write(PipeLog::Destructor, serverId);
    // Nobody holds the server any more, so nobody waits on it for a client.
    shut(nullptr, false);
    pool->releaseServerId();
}

bool CommandsServer::waitForClient()
{
    if (!hasPipe())
        return clientConnected;
    Logger::instance().write(PipeLog::WaitingForClient, serverId);
    const bool connected = ConnectNamedPipe(pipe.get(), nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
    clientConnected = connected;
    return connected;
}

void CommandsServer::communicate()
{
    if (!clientConnected)
        return;
    Logger::instance().write(PipeLog::ClientConnected, serverId);

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
        Logger::instance().write(PipeLog::ClientDisconnected);

    Logger::instance().write(PipeLog::ClosingSection);
    try {
        manager->saveUserAndMainSettings(userSid);
    } catch (const std::exception& error) {
        Logger::instance().write(PipeLog::SaveFailed, serverId, error.what());
    } catch (...) {
        Logger::instance().write(PipeLog::SaveFailed, serverId, PipeLog::UnknownError);
    }
    Logger::instance().write(PipeLog::EndOfCommunicate);
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
    Logger::instance().write(PipeLog::CloseServer, serverId);
    closing = true;

    if (clientConnected) {
        if (thread != nullptr) {
            if (cancelSynchronousIo != nullptr) {
                Logger::instance().write(PipeLog::CancelingIo);
                cancelSynchronousIo(thread);
            } else {
                Logger::instance().write(PipeLog::TerminatingIoThread);
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
            Logger::instance().write(PipeLog::FakeClientNotConnected);
    }
}

DWORD WINAPI CommandsServer::InstanceThread(LPVOID parameter)
{
    if (parameter == nullptr) {
        Logger::instance().write(PipeLog::NullThreadParameter);
        return static_cast<DWORD>(-1);
    }
    const ComInit com(COINIT_APARTMENTTHREADED);
    try {
        static_cast<CommandsServer*>(parameter)->communicate();
    } catch (...) {
        // Nothing may leave a thread procedure; the server may already be gone.
        Logger::instance().write(PipeLog::ConnectionEndedByException);
    }
    return 1;
}
