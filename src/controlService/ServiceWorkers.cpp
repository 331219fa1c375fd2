// The service's permanent workers, the choice of the HTTP port and the check-in callback.
#include "ZazozeControlService.h"

#include "CheckinWait.h"
#include "ProductVersion.h"
#include "RunningFlag.h"
#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"

#include "ComPtr.h"
#include "Logger.h"
#include "NetworkHelpers.h"

#include <exception>

namespace {

constexpr int FirstHttpPort = 666;
constexpr int LastHttpPort = 999;
const char* const LoopbackHost = "127.0.0.1";

} // namespace

void ZazozeControlService::UpdateCheckThread()
{
    const ComInit com(COINIT_APARTMENTTHREADED);
    Logger::instance().write("Start Update Check thread");
    {
        const RunningFlag running(updateCheckThreadRunning);
        runUpdateChecks();
    }
    Logger::instance().write("Stop Update thread");
}

void ZazozeControlService::runCheckinLoop(const std::function<bool()>& checkin)
{
    for (;;) {
        const bool succeeded = checkin();
        lastCheckinSucceeded = succeeded;
        DWORD wait = 0;
        if (succeeded) {
            // Read at every pass: the check-in may just have changed them.
            wait = checkinWaitMs(mainSettings().getValue<int>(SettingsKeys::UpdateRequestInterval));
            ConfigManager::instance().saveMainSettings();
        } else {
            wait = checkinWaitMs(mainSettings().getValue<int>(SettingsKeys::UpdateRequestIntervalIfFailed));
            Logger::instance().write("Login failed - will retry in", wait / 1000, "seconds(s).");
        }
        if (WaitForSingleObject(updateEvent.get(), wait) != WAIT_TIMEOUT)
            return;
    }
}

void ZazozeControlService::SettingsThread()
{
    const ComInit com(COINIT_APARTMENTTHREADED);
    Logger::instance().write("Start Settings thread");
    try {
        serverPool.acceptLoop();
    } catch (const std::exception& error) {
        Logger::instance().write("SettingsThread caught", error.what());
    } catch (...) {
        Logger::instance().write("SettingsThread caught unknown exception");
    }
    Logger::instance().write("Stop Settings thread");
}

void ZazozeControlService::winServerThread()
{
    {
        const ComInit com(COINIT_APARTMENTTHREADED);
        Logger::instance().write("Start WinServer thread");
        try {
            const int port = chooseLocalHttpPort();
            if (startHttpServer(port))
                httpServer.processRequests();
        } catch (const std::exception& error) {
            Logger::instance().write("WinServer thread caught", error.what());
        } catch (...) {
            Logger::instance().write("WinServer thread caught unknown exception");
        }
    }
    // Last: the service object may be gone as soon as this is seen.
    std::lock_guard<std::mutex> lock(httpServerMutex);
    --httpWorkers;
    httpWorkerEnded.notify_all();
}

bool ZazozeControlService::startHttpServer(int port)
{
    std::lock_guard<std::mutex> lock(httpServerMutex);
    if (stopping)
        return false;
    return httpServer.start(port);
}

void ZazozeControlService::stopHttpServer()
{
    std::lock_guard<std::mutex> lock(httpServerMutex);
    httpServer.stop();
}

void ZazozeControlService::waitForHttpWorker()
{
    std::unique_lock<std::mutex> lock(httpServerMutex);
    httpWorkerEnded.wait(lock, [this] { return httpWorkers == 0; });
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
    LOG_ERROR << "No available port found for HTTPS local server";
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
