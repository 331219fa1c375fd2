// The VPN on request: the connect, the end of the watchdog, the required state, the state report
// and the network adapter.
#include "ZazozeControlService.h"

#include "VpnState.h"
#include "api/ServerResponse.h"
#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"
#include "vpn/ControllerTexts.h"
#include "vpn/ServerId.h"

#include "Logger.h"
#include "NetworkConnection.h"

#include <atomic>
#include <chrono>

std::timed_mutex connectToServerMutex;

namespace {

constexpr DWORD WatchdogPollMs = 666;
// Longer than a check or a repair takes; a watchdog busier than that (a log upload the API does
// not answer) is not waited for any longer.
constexpr ULONGLONG WatchdogEndWaitMs = 10000;
// How long the stop lets a connect under way end (it gives up its waits once it sees the stop),
// and then a daemon start under way, before it stops the daemon.
constexpr auto ConnectWaitForStop = std::chrono::seconds(10);
constexpr auto DaemonStartWaitForStop = std::chrono::seconds(5);

// The connect's try-lock. A connect's check-in may come back to connectToServer on the same
// thread (its settings callback applies the required state): that call is refused like any
// concurrent one, without try-locking a mutex its own thread holds.
std::atomic<DWORD> connectingThread { 0 };

class ConnectAttempt {
public:
    ConnectAttempt() : lock_(connectToServerMutex, std::defer_lock)
    {
        if (connectingThread != GetCurrentThreadId() && lock_.try_lock())
            connectingThread = GetCurrentThreadId();
    }
    ~ConnectAttempt()
    {
        if (lock_.owns_lock())
            connectingThread = 0;
    }
    ConnectAttempt(const ConnectAttempt&) = delete;
    ConnectAttempt& operator=(const ConnectAttempt&) = delete;

    bool admitted() const { return lock_.owns_lock(); }

private:
    std::unique_lock<std::timed_mutex> lock_;
};

bool isFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

} // namespace

RemoteServerResponse ZazozeControlService::connectToServer(const std::wstring& serverId)
{
    // The id names a file and a word of the daemon's command line: anything but a plain name is
    // refused before anything is stopped, requested or written.
    if (!isValidServerId(serverId)) {
        LOG_ERROR << "ZazozeControlService::connectToServer" << "refused a server id that is no plain name:"
                  << serverId;
        return makeServerResponse(400, L"Bad server id: only letters, digits, \"-\", \"_\" and \".\" are allowed, it "
                                       L"may not begin with \".\" or name a device (CON, PRN, AUX, NUL, COM0 to COM9, "
                                       L"LPT0 to LPT9), and it may have at most 128 characters");
    }
    const RemoteServerResponse refusal { 500, "Internal server error", L"Concurrent calls detected" };
    const ConnectAttempt attempt;
    if (!attempt.admitted()) {
        LOG_INFO << "Concurrent calls of " << "ZazozeControlService::connectToServer" << " detected";
        return refusal;
    }

    const bool watchdogEnded = stopVpnWatch();
    const RemoteServerResponse response = apiOperator.requestServerConnect(serverId);
    if (response.code == 401)
        return response;
    // A failed request still starts the daemon, with a configuration kept from an earlier connect.
    if (response.code != 200 && !serverId.empty()
        && isFile(OpenVpnStateController::getOvpnConfigDir() + L"\\" + serverId + DaemonFiles::ConfigExtension))
        mainSettings().setValue(SettingsKeys::LastConnectServerId, serverId);
    if (!startDaemonUnlessStopping(serverId, "ZazozeControlService::connectToServer"))
        return response;

    if (!vpnCheckEvent)
        Logger::instance().write("Vpn check event object not created");
    else if (watchdogEnded)
        queueWatchdog();
    return response;
}

bool ZazozeControlService::stopVpnWatch()
{
    const bool ended = endWatchdog();
    if (vpnController.isDaemonAlive())
        vpnController.stopOVPN();
    return ended;
}

bool ZazozeControlService::endWatchdog()
{
    if (!checkOpenVpnStateThreadRunning)
        return true;
    {
        const std::lock_guard<std::mutex> lock(watchdogMutex);
        watchdogEndRequested = true;
        SetEvent(vpnCheckEvent.get());
    }
    // The stop ends the watchdog itself and waits for it within its own limit.
    const ULONGLONG deadline = GetTickCount64() + WatchdogEndWaitMs;
    while (checkOpenVpnStateThreadRunning && !stopping && GetTickCount64() < deadline)
        Sleep(WatchdogPollMs);

    const std::lock_guard<std::mutex> lock(watchdogMutex);
    if (!checkOpenVpnStateThreadRunning)
        return true;
    if (stopping)
        return false;
    // Asked no more: it goes on, and watches the next connection in place of a new watchdog, so
    // that there is still one at a time.
    watchdogEndRequested = false;
    ResetEvent(vpnCheckEvent.get());
    LOG_ERROR << "ZazozeControlService::stopVpnWatch the watchdog did not end within 10 s: it goes on watching";
    return false;
}

void ZazozeControlService::queueWatchdog()
{
    {
        const std::lock_guard<std::mutex> lock(watchdogMutex);
        // A request or a wake-up that the watchdog before did not see (it ended by an exception
        // first) would end this one at its first wait.
        watchdogEndRequested = false;
        ResetEvent(vpnCheckEvent.get());
        // Tested after the reset: the stop sets `stopping` before it signals the event.
        if (stopping)
            return;
        // Set before it is queued, so that a stopVpnWatch right after this connect waits for it.
        checkOpenVpnStateThreadRunning = true;
    }
    // A watchdog that cannot be queued is logged in the update check's words.
    if (!queueWorker(&ZazozeControlService::checkOpenVpnStateThread, "UpdateCheckThread"))
        checkOpenVpnStateThreadRunning = false;
}

bool ZazozeControlService::watchdogEnds(DWORD waitResult)
{
    const std::lock_guard<std::mutex> lock(watchdogMutex);
    // A wake-up whose request was withdrawn is no reason to end; a failed wait is, since nothing
    // would pace the checks any more.
    if (waitResult == WAIT_OBJECT_0 && !watchdogEndRequested && !stopping)
        return false;
    // Cleared with the decision, under the lock that a withdrawal takes.
    checkOpenVpnStateThreadRunning = false;
    return true;
}

bool ZazozeControlService::startDaemonUnlessStopping(const std::wstring& configName, const char* caller)
{
    const std::lock_guard<std::timed_mutex> starting(daemonStartMutex);
    // The stop may already have stopped the daemon: one started now would outlive the service.
    if (stopping) {
        LOG_INFO << caller << "the service is stopping: the daemon is not started";
        return false;
    }
    vpnController.startOVPN(configName);
    return true;
}

void ZazozeControlService::stopDaemonForStop()
{
    // A connect under way ends first, so that nothing of it runs on past the stop.
    const std::unique_lock<std::timed_mutex> noConnect(connectToServerMutex, ConnectWaitForStop);
    if (!noConnect.owns_lock())
        LOG_ERROR << "ZazozeControlService::stopAll a connect did not end within 10 s: the stop goes on without it";
    // So does a start under way (the connect's, or the watchdog's repair), so that its daemon is the
    // one stopped here; later starts find `stopping` set.
    const std::unique_lock<std::timed_mutex> starting(daemonStartMutex, DaemonStartWaitForStop);
    if (!starting.owns_lock())
        LOG_ERROR << "ZazozeControlService::stopAll a daemon start did not end within 5 s: the daemon is stopped "
                     "without waiting for it";
    vpnController.stopOVPN();
}

void ZazozeControlService::applyRequiredState()
{
    const bool required = mainSettings().getValue<bool>(SettingsKeys::OvpnRequiredState);
    const bool alive = vpnController.isDaemonAlive();
    if (required == alive)
        return;
    if (required) {
        resetVpnAdapter();
        static_cast<IConfigSectionManager*>(this)->connectToServer(
            mainSettings().getValue<std::wstring>(SettingsKeys::LastConnectServerId));
    } else {
        stopVpnWatch();
    }
}

int ZazozeControlService::getVpnState()
{
    {
        // One conversation: no other thread's query or stop comes between the test and the answer.
        const auto conversation = vpnController.lockConversation();
        if (vpnController.isDaemonAlive()) {
            switch (vpnController.checkState()) {
            case ConnectionChecker::TunnelUp:
                return VPN_CONNECTED;
            case ConnectionChecker::EndAlone:
                vpnController.killOVPN();
                return VPN_CONNECTING;
            default:
                return VPN_CONNECTING;
            }
        }
    }
    return mainSettings().getValue<bool>(SettingsKeys::OvpnRequiredState) ? VPN_DISCONNECTED : VPN_NOTCONNECTED;
}

bool ZazozeControlService::resetVpnAdapter()
{
    // The VPN's network adapter, as the installer names it.
    return connectNetworkConnection(L"Nimbal");
}
