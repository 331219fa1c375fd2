// The VPN watchdog: checks the daemon at growing intervals while it fails, repairs what it can,
// uploads the logs at the fourth failure in a row, and ends when vpnCheckEvent is set.
#include "ZazozeControlService.h"

#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"

#include "ComPtr.h"
#include "Logger.h"

#include <exception>
#include <stdexcept>

namespace {

constexpr int UploadAtFailure = 4;

// Logging that an error line switched on goes off again unless it was configured on.
void switchLoggingBackOff()
{
    Logger& logger = Logger::instance();
    if (logger.isLoggingEnabled() && !logger.configuredEnabled)
        logger.setLoggingEnabled(false);
}

// The check's wait: n intervals of seconds, as milliseconds in 32-bit arithmetic.
DWORD checkWait(int n, long intervalSeconds)
{
    return static_cast<DWORD>(n) * static_cast<DWORD>(intervalSeconds) * 1000u;
}

} // namespace

void ZazozeControlService::checkOpenVpnStateThread()
{
    const ComInit com(COINIT_APARTMENTTHREADED);
    Logger::instance().write("Start", "ZazozeControlService::checkOpenVpnStateThread", " Thread ID: ",
                             GetCurrentThreadId());
    checkOpenVpnStateThreadRunning = true;
    int n = 1;
    try {
        for (;;) {
            const long interval = mainSettings().getValue<long>(SettingsKeys::VpnDiagnosticsInterval);
            const DWORD waited = WaitForSingleObject(vpnCheckEvent.get(), checkWait(n, interval));
            if (waited != WAIT_TIMEOUT) {
                if (watchdogEnds(waited))
                    break;
                continue;
            }
            // Nothing is asked of the daemon while the VPN is not wanted.
            const bool failing = mainSettings().getValue<bool>(SettingsKeys::OvpnRequiredState)
                && !vpnController.isVpnConnected();
            if (!failing) {
                Logger::instance().write("ZazozeControlService::checkOpenVpnStateThread", "OpenVPN works correctly");
                if (n >= 2) {
                    switchLoggingBackOff();
                    n = 1;
                }
                continue;
            }
            LOG_INFO << "ZazozeControlService::checkOpenVpnStateThread" << "OpenVPN does not work correctly" << n;
            if (n == UploadAtFailure) {
                postLogs();
                switchLoggingBackOff();
                if (!lastCheckinSucceeded)
                    throw std::runtime_error("Cannot repair VPN connection");
                n = 1;
                continue;
            }
            const bool firstOfSeries = n == 1;
            ++n;
            repairVpnConnection(firstOfSeries);
        }
    } catch (const std::exception& error) {
        LOG_ERROR << "ZazozeControlService::checkOpenVpnStateThread" << " exception caught:" << error.what();
    } catch (...) {
        LOG_ERROR << "ZazozeControlService::checkOpenVpnStateThread" << " exception caught";
    }
    {
        const std::lock_guard<std::mutex> lock(watchdogMutex);
        checkOpenVpnStateThreadRunning = false;
    }
    Logger::instance().write("Stop", "ZazozeControlService::checkOpenVpnStateThread");
}

void ZazozeControlService::repairVpnConnection(bool firstOfSeries)
{
    if (firstOfSeries) {
        if (!Logger::instance().isLoggingEnabled())
            Logger::instance().setLoggingEnabled(true);
        resetVpnAdapter();
    }
    // A daemon that runs is left alone: the next check decides again.
    if (vpnController.isDaemonAlive()) {
        if (!vpnController.isManagementConnected())
            LOG_ERROR << "OVPN controller was not connected";
    } else {
        LOG_ERROR << "OVPN was not started";
        vpnController.stopOVPN();
        startDaemonUnlessStopping(mainSettings().getValue<std::wstring>(SettingsKeys::LastConnectServerId),
                                  "ZazozeControlService::checkOpenVpnStateThread");
    }
    Logger::instance().write("ZazozeControlService::checkOpenVpnStateThread",
                             "OpenVPN connection state is considered incorrect");
}
