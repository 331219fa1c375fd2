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

using namespace ServiceLog;

std::mutex connectToServerMutex;

namespace {

constexpr DWORD WatchdogPollMs = 666;

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
    std::unique_lock<std::mutex> lock_;
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
        LOG_ERROR << ConnectToServer << RefusedServerId << serverId;
        return makeServerResponse(400, BadServerIdMessage);
    }
    const RemoteServerResponse refusal { 500, ConcurrentStatus, ConcurrentMessage };
    const ConnectAttempt attempt;
    if (!attempt.admitted()) {
        LOG_INFO << ConcurrentCallsOf << ConnectToServer << Detected;
        return refusal;
    }

    stopVpnWatch();
    const RemoteServerResponse response = apiOperator.requestServerConnect(serverId);
    if (response.code == 401)
        return response;
    // A failed request still starts the daemon, with a configuration kept from an earlier connect.
    if (response.code != 200 && !serverId.empty()
        && isFile(OpenVpnStateController::getOvpnConfigDir() + L"\\" + serverId + DaemonFiles::ConfigExtension))
        mainSettings().setValue(SettingsKeys::LastConnectServerId, serverId);
    // The stop may already have stopped the daemon: one started now would outlive the service.
    if (stopping) {
        LOG_INFO << ConnectToServer << NotStartedWhileStopping;
        return response;
    }
    vpnController.startOVPN(serverId);

    if (!vpnCheckEvent) {
        Logger::instance().write(NoVpnCheckEvent);
    } else if (!stopping) {
        // Set before it is queued, so that a stopVpnWatch right after this connect waits for it.
        checkOpenVpnStateThreadRunning = true;
        if (!queueWorker(&ZazozeControlService::checkOpenVpnStateThread, UpdateCheckLaunch))
            checkOpenVpnStateThreadRunning = false;
    }
    return response;
}

void ZazozeControlService::stopVpnWatch()
{
    if (checkOpenVpnStateThreadRunning) {
        SetEvent(vpnCheckEvent.get());
        while (checkOpenVpnStateThreadRunning)
            Sleep(WatchdogPollMs);
    }
    if (vpnController.isDaemonAlive())
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
    return connectNetworkConnection(AdapterDevice);
}
