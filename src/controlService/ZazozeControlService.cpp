// The service object's life: construction, the start-up sequence, stop and shutdown.
#include "ZazozeControlService.h"

#include "BuildStamp.h"
#include "ProductVersion.h"
#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"
#include "settings/SettingsKeys.h"

#include "CommandsClient.h"
#include "Logger.h"
#include "RunAsync.h"
#include "ServiceIdentity.h"

#include <objbase.h>

#include <exception>

ZazozeControlService::ZazozeControlService()
    : CServiceBase(ServiceName)
    , serverPool(CommandsPipeName, this)
    , httpServer(this)
{
    apiOperator.setSettingsChangedCallback([this] { onSettingsUpdated(); });
}

ZazozeControlService::~ZazozeControlService()
{
    Logger::instance().write("ZazozeControlService::~ZazozeControlService");
    // A service destroyed without its stop routine (or one whose HTTP worker began only after it)
    // still ends the request loop before the members it runs on are gone.
    bool serverStarted = false;
    {
        std::lock_guard<std::mutex> lock(httpServerMutex);
        stopping = true;
        serverStarted = httpServer.started();
    }
    if (serverStarted) {
        try {
            stopHttpServer();
        } catch (...) {
            // stop saves the current user's settings; a failed save must not keep the loop alive
        }
    }
    waitForHttpWorker();
}

void ZazozeControlService::OnStart(DWORD, LPWSTR*)
{
    CoInitialize(nullptr);
    writeEventLogEntry(L"Nimbal Privacy Service started", EVENTLOG_INFORMATION_TYPE);
    Logger::instance().fileName = AppdataPath + L"Nimbal Privacy Service.log";
    checkInstalledVersion();
    Logger::instance().truncateLogIfNeeded();
    const bool loggingEnabled = mainSettings().getValue<bool>(SettingsKeys::LoggingEnabled);
    Logger::instance().configuredEnabled = loggingEnabled;
    Logger::instance().setLoggingEnabled(loggingEnabled);
    Logger::instance().write("Starting Nimbal Privacy Service, version " NIMBAL_VERSION " built", buildStamp());

    asyncUpdateRunning = false;
    updateCheckThreadRunning = false;
    checkOpenVpnStateThreadRunning = false;
    stopping = false;
    apiOperator.allowRequests();

    updateEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    if (!updateEvent) {
        const DWORD error = GetLastError();
        LOG_ERROR << "Error creating update event object" << error;
    } else if (!stopping) {
        queueWorker(&ZazozeControlService::UpdateCheckThread, "UpdateCheckThread");
    }
    if (!stopping)
        queueWorker(&ZazozeControlService::SettingsThread, "SettingsThread");
    if (!stopping)
        queueHttpWorker();
    vpnCheckEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

void ZazozeControlService::checkInstalledVersion()
{
    resetUpdatableSettings();
    ConfigSection& settings = mainSettings();
    setDefaultUpdateIntervals(settings);
    settings.loadAndDecrypt();
    // After a version change the defaults replace what the document held.
    if (settings.getValue<std::wstring>(SettingsKeys::InstalledVersion) != ProductVersion)
        resetUpdatableSettings();
}

void ZazozeControlService::resetUpdatableSettings()
{
    ConfigSection& settings = mainSettings();
    settings.setValue(SettingsKeys::UpdateRequestInterval, SettingsDefaults::UpdateRequestInterval);
    settings.setValue(SettingsKeys::UpdateRequestIntervalIfFailed, SettingsDefaults::UpdateRequestIntervalIfFailed);
    settings.setValue(SettingsKeys::VpnDiagnosticsInterval, SettingsDefaults::VpnDiagnosticsInterval);
    settings.setValue(SettingsKeys::OvpnControlPort, SettingsDefaults::OvpnControlPort);
    settings.setValue(SettingsKeys::RemindOnBrowserDays, SettingsDefaults::RemindOnBrowserDays);
    settings.setValue(SettingsKeys::OvpnRequiredState, SettingsDefaults::OvpnRequiredState);
    settings.setValue(SettingsKeys::AgentIconUpdTimeout, SettingsDefaults::AgentIconUpdTimeout);
    vpnController.setManagementPort(settings.getValue<int>(SettingsKeys::OvpnControlPort));
}

void ZazozeControlService::launchServiceWorker(Worker worker)
{
    runAsync([this, worker] { (this->*worker)(); }, WT_EXECUTELONGFUNCTION);
}

bool ZazozeControlService::queueWorker(Worker worker, const char* workerName)
{
    try {
        launchServiceWorker(worker);
        return true;
    } catch (DWORD error) {
        Logger::instance().write("ZazozeControlService::" + std::string(workerName) + " launch failed with error",
                                 error);
    } catch (const std::exception& error) {
        Logger::instance().write("ZazozeControlService::" + std::string(workerName) + " launch failed with: ",
                                 error.what());
    } catch (...) {
        Logger::instance().write("ZazozeControlService::" + std::string(workerName)
                                 + " launch failed with unknown error");
    }
    return false;
}

void ZazozeControlService::queueHttpWorker()
{
    // Counted before it is queued: the destructor waits also for a worker that has not begun.
    {
        std::lock_guard<std::mutex> lock(httpServerMutex);
        ++httpWorkers;
    }
    if (queueWorker(&ZazozeControlService::winServerThread, "winServerThread"))
        return;
    std::lock_guard<std::mutex> lock(httpServerMutex);
    --httpWorkers;
    httpWorkerEnded.notify_all();
}

void ZazozeControlService::OnStop()
{
    const auto began = std::chrono::steady_clock::now();
    writeEventLogEntry(L"Nimbal Privacy is stopping", EVENTLOG_INFORMATION_TYPE);
    stopAll([this, began] { waitThreadsOnStop(began); });
}

void ZazozeControlService::OnShutdown()
{
    writeEventLogEntry(L"Nimbal Privacy Shutdown", EVENTLOG_INFORMATION_TYPE);
    stopAll([this] { skipThreadsOnShutdown(); });
}

void ZazozeControlService::stopAll(const std::function<void()>& waitStep)
{
    stopping = true;
    Logger::instance().write("Nimbal Privacy terminating");
    if (updateEvent)
        SetEvent(updateEvent.get());
    if (vpnCheckEvent)
        SetEvent(vpnCheckEvent.get());
    cancelUpdateDownload();
    // A pipe client or an HTTP request waiting for the API would hold up the steps below that
    // wait for them, for as long as the API takes.
    apiOperator.abandonRequests();
    if (serverPool.isActive())
        serverPool.Close();
    ConfigManager::instance().saveUsersConfigurations();
    stopDaemonForStop();
    stopHttpServer();
    waitStep();
    updateEvent.reset();
    vpnCheckEvent.reset();
    CoUninitialize();
    Logger::instance().write("Nimbal Privacy terminated");
}

bool ZazozeControlService::anyWorkerRunning() const
{
    return asyncUpdateRunning || updateCheckThreadRunning || updateDownloadRunning() || checkOpenVpnStateThreadRunning;
}

void ZazozeControlService::waitThreadsOnStop(std::chrono::steady_clock::time_point stopBegan)
{
    Logger::instance().write("Waiting for end of all threads");
    for (;;) {
        if (!anyWorkerRunning())
            return;
        setServiceStatus(SERVICE_STOP_PENDING);
        const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - stopBegan);
        if (elapsed.count() > 3)
            break;
        Sleep(200);
    }
    Logger::instance().write("ZazozeControlService::OnStop::waitThreadsOnStop",
                             "Waiting too long for threads!!! Aborting", "updateCheckThreadRunning=",
                             updateCheckThreadRunning.load(), "updDownloader",
                             updateDownloadRunning() ? "hanged" : "stopped");
}

void ZazozeControlService::skipThreadsOnShutdown()
{
    if (!anyWorkerRunning())
        return;
    Logger::instance().write("Ignoring unfinished threads to speed-up exit");
    Sleep(1);
}
