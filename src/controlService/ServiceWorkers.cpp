// The service's permanent workers, the choice of the HTTP port and the check-in callback.
#include "ZazozeControlService.h"

#include "ProductVersion.h"
#include "RunningFlag.h"
#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"

#include "ComPtr.h"
#include "Logger.h"
#include "NetworkHelpers.h"

#include <exception>

using namespace ServiceLog;

namespace {

constexpr int FirstHttpPort = 666;
constexpr int LastHttpPort = 999;
const char* const LoopbackHost = "127.0.0.1";

// Seconds as the millisecond time-out of a wait, in 32-bit arithmetic.
DWORD milliseconds(int seconds)
{
    return static_cast<DWORD>(seconds) * 1000u;
}

} // namespace

void ZazozeControlService::UpdateCheckThread()
{
    const ComInit com(COINIT_APARTMENTTHREADED);
    Logger::instance().write(StartUpdateCheck);
    {
        const RunningFlag running(updateCheckThreadRunning);
        runUpdateChecks();
    }
    Logger::instance().write(StopUpdate);
}

void ZazozeControlService::runCheckinLoop(const std::function<bool()>& checkin)
{
    for (;;) {
        const bool succeeded = checkin();
        lastCheckinSucceeded = succeeded;
        DWORD wait = 0;
        if (succeeded) {
            // Read at every pass: the check-in may just have changed them.
            wait = milliseconds(mainSettings().getValue<int>(SettingsKeys::UpdateRequestInterval));
            ConfigManager::instance().saveMainSettings();
        } else {
            wait = milliseconds(mainSettings().getValue<int>(SettingsKeys::UpdateRequestIntervalIfFailed));
            Logger::instance().write(LoginFailed, wait / 1000, Seconds);
        }
        if (WaitForSingleObject(updateEvent.get(), wait) != WAIT_TIMEOUT)
            return;
    }
}

void ZazozeControlService::SettingsThread()
{
    const ComInit com(COINIT_APARTMENTTHREADED);
    Logger::instance().write(StartSettings);
    try {
        serverPool.acceptLoop();
    } catch (const std::exception& error) {
        Logger::instance().write(SettingsCaught, error.what());
    } catch (...) {
        Logger::instance().write(SettingsCaughtUnknown);
    }
    Logger::instance().write(StopSettings);
}

void ZazozeControlService::winServerThread()
{
    const ComInit com(COINIT_APARTMENTTHREADED);
    Logger::instance().write(StartWinServer);
    try {
        runHttpServer();
    } catch (const std::exception& error) {
        Logger::instance().write(WinServerCaught, error.what());
    } catch (...) {
        Logger::instance().write(WinServerCaughtUnknown);
    }
}

int ZazozeControlService::chooseLocalHttpPort()
{
    int port = mainSettings().getValue<int>(SettingsKeys::LocalHttpsPort);
    if (port < FirstHttpPort || port > LastHttpPort)
        port = FirstHttpPort;
    // Upward from the stored port; never round to the first one again.
    for (; port <= LastHttpPort; ++port) {
        if (checkPort(LoopbackHost, port)) {
            mainSettings().setValue(SettingsKeys::LocalHttpsPort, port);
            return port;
        }
    }
    LOG_ERROR << NoFreePort;
    return LastHttpPort + 1;
}

void ZazozeControlService::onSettingsUpdated()
{
    ConfigSection& settings = mainSettings();
    if (settings.getValue<std::wstring>(SettingsKeys::OfferedVersion) != ProductVersion
        && settings.getValue<std::wstring>(SettingsKeys::UpdateType) == L"silent") {
        static_cast<IConfigSectionManager*>(this)->runUpdate();
    } else {
        const int port = settings.getValue<int>(SettingsKeys::OvpnControlPort);
        if (port > 0)
            vpnController.setManagementPort(port);
    }
    applyRequiredState();
}
