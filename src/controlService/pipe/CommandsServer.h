#pragma once
// One instance of the command pipe and, once a client has connected, that client's connection:
// the command loop reads one request at a time and answers it before it reads the next.

#include "IServerManager.h"

#include "Handles.h"
#include "PipeMessage.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

class ConfigSection;
class IConfigSectionManager;

class CommandsServer {
public:
    // Creates the pipe instance; without one the server can never be connected.
    CommandsServer(IServerManager* pool, IConfigSectionManager* manager, const std::wstring& pipeName);
    ~CommandsServer();
    CommandsServer(const CommandsServer&) = delete;
    CommandsServer& operator=(const CommandsServer&) = delete;

    // Blocks until a client connects; false when none did (or there is no pipe).
    bool waitForClient();
    // The command loop of the connection; at its end the server removes itself from its pool.
    void communicate();
    // Ends whatever runs on the instance: the client thread's pending I/O (`thread`), or a pending
    // wait for a client. The handle itself is closed with the server, once nothing can use it.
    void Close(HANDLE thread);

    // The thread procedure of a connection; the parameter is the server.
    static DWORD WINAPI InstanceThread(LPVOID parameter);

    // False without a pipe instance, and from Close on.
    bool hasPipe() const noexcept { return pipe.valid() && !closed; }
    int id() const noexcept { return serverId; }

private:
    void shut(HANDLE thread, bool wakeWaiter);

    // One request: its code and fields read, its command done, its reply sent. A request that
    // cannot be read or carried out is logged and dropped, and the connection goes on; false when
    // it cannot, since the command failed before the reply its client waits for.
    bool serveRequest();
    void runCommand(std::uint8_t code);
    void getSetting();
    void setSetting();
    // False, with the reason logged, when the setting may not be changed on this connection.
    bool mayChange(const std::wstring& name);
    void listChildren(bool folders);
    void removeSetting();
    void setUser();
    // False, with the reason logged, when the client may not use the settings of that user.
    bool clientMayActFor(const std::wstring& sid);
    void launchApp();
    // Sends the reply built in the buffer.
    void sendReply();
    void replyByte(std::uint8_t value);
    void replyString(const std::wstring& value);
    std::wstring readString();
    // The general section is shared by every user of the machine: some of it is not theirs to change.
    bool inGeneralSection() const noexcept { return userSid.empty(); }

    IConfigSectionManager* manager;
    IServerManager* pool;
    ConfigSection* section;
    FileHandle pipe;
    PipeMessage buffer;
    std::atomic<bool> clientConnected { false };
    std::atomic<bool> closing { false };
    std::atomic<bool> closed { false };
    // The current request's reply has gone out.
    bool replySent = false;
    std::wstring pipeName;
    std::wstring userSid;
    int serverId;
};
