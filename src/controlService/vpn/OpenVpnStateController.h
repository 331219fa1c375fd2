#pragma once
// Starts the VPN daemon (InstallPath + "OpenVPN\openvelorn.exe"), asks it over its management
// connection whether the tunnel is up, and stops or kills it. Every operation runs on its caller's
// thread; the watchdog, the HTTP and pipe threads and the service stop share one process handle
// and one management connection, so each operation holds the controller's lock for its whole
// conversation.

#include "ConnectionChecker.h"

#include "Handles.h"

#include <mutex>
#include <string>

// Held (only ever try-locked) while a daemon is being started: a second start at the same time is dropped.
extern std::mutex startOvpnMutex;

class OpenVpnStateController {
public:
    using ConversationLock = std::unique_lock<std::recursive_mutex>;

    OpenVpnStateController();
    // Leaves the daemon running: the service stop ends it.
    ~OpenVpnStateController() = default;
    OpenVpnStateController(const OpenVpnStateController&) = delete;
    OpenVpnStateController& operator=(const OpenVpnStateController&) = delete;

    // Starts the daemon with configName + ".ovpn" ("default" for an empty name) of the
    // configuration folder, after choosing its management port.
    void startOVPN(const std::wstring& configName);
    // Sends "signal SIGTERM" when the daemon it started answers, then kills what is left;
    // killOVPN's result.
    bool stopOVPN();
    // Terminates the daemon; true when it ended in time, or there was none.
    bool killOVPN();
    // The daemon is alive and reports the tunnel up; a daemon answering the lone "END\n" is killed.
    bool isVpnConnected();

    // The daemon started last has not ended.
    bool isDaemonAlive();
    // The management query (ConnectionChecker::State).
    int checkState();
    // The management connection is open and its greeting was read.
    bool isManagementConnected();
    void setManagementPort(int port);
    int managementPort();

    // For a caller whose several steps above must not interleave with another thread's; the
    // operations take the same lock again.
    ConversationLock lockConversation() { return ConversationLock(conversationMutex); }

    // AppdataPath + "ovpn_config", without a trailing separator: the daemon's working folder.
    static std::wstring getOvpnConfigDir();
    static std::wstring getDaemonExeName();
    // Terminates every running process with the daemon's image name, started here or not.
    static void killAllDaemons();

private:
    bool daemonAlive() const;

    std::recursive_mutex conversationMutex;
    UniqueHandle daemonProcess;
    ConnectionChecker checker;
};
