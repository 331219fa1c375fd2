#pragma once
// The service object: start-up, the permanent workers, the operations the front ends call, and
// the stop shared by stop and shutdown.

#include "IConfigSectionManager.h"
#include "api/ServerApiOperator.h"
#include "http/LocalHttpServer.h"
#include "pipe/ServerPool.h"
#include "update/UpdateDownloader.h"
#include "vpn/OpenVpnStateController.h"

#include "CrashInvestigatable.h"
#include "Handles.h"
#include "ServiceBase.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>

// Held while a connect runs: a second connect at the same time is refused (it only try-locks),
// and the stop waits for it, for a bounded time.
extern std::timed_mutex connectToServerMutex;

class ZazozeControlService : public CServiceBase, public IConfigSectionManager, public utilities::CrashInvestigatable {
public:
    ZazozeControlService();
    ~ZazozeControlService() override;
    ZazozeControlService(const ZazozeControlService&) = delete;
    ZazozeControlService& operator=(const ZazozeControlService&) = delete;

    ConfigSection* getConfigUser(const std::wstring& sid) override;
    void saveUserAndMainSettings(const std::wstring& sid) override;
    void saveConfigSection(const std::wstring& sid) override;
    bool runUpdate() override;
    bool launchApp(const std::wstring& commandLine) override;
    void setRequiredState(bool enable) override;
    std::wstring getUpdateUrlIfAvailable() override;
    void restartUpdateCheck() override;
    bool postLogs() override;
    int getVpnState() override;
    RemoteServerResponse connectToServer(const std::wstring& serverId) override;
    RemoteServerResponse requestProductsList() override;
    RemoteServerResponse requestOrders() override;
    RemoteServerResponse requestServersList() override;
    RemoteServerResponse requestLogin() override;
    RemoteServerResponse requestRegister() override;
    RemoteServerResponse requestPasswordReset(const std::wstring& email) override;
    RemoteServerResponse requestSupport(const std::wstring& message, std::wstring address) override;
    RemoteServerResponse requestAccountLimits() override;
    RemoteServerResponse notifyAutologin() override;

    // The local HTTP server's port: the stored one or the next free one above it, up to 999.
    int chooseLocalHttpPort();
    // Called by the API client after each check-in reply it has handled.
    void onSettingsUpdated();

protected:
    void OnStart(DWORD argc, LPWSTR* argv) override;
    void OnStop() override;
    void OnShutdown() override;

    // The stop shared by stop and shutdown; `waitStep` decides how long workers may take.
    void stopAll(const std::function<void()>& waitStep);
    void waitThreadsOnStop(std::chrono::steady_clock::time_point stopBegan);
    void skipThreadsOnShutdown();
    bool anyWorkerRunning() const;

    void checkInstalledVersion();
    void resetUpdatableSettings();

    using Worker = void (ZazozeControlService::*)();
    // Queues the worker as a long thread-pool work item; throws the Windows error when it cannot.
    void launchServiceWorker(Worker worker);
    // launchServiceWorker with its failure logged under the worker's name (as in
    // "ZazozeControlService::SettingsThread launch failed with error"); false when it failed.
    bool queueWorker(Worker worker, const char* workerName);

    void UpdateCheckThread();
    // Check-ins until updateEvent is signalled (or its wait fails), each followed by the wait
    // that its outcome asks for.
    void runCheckinLoop(const std::function<bool()>& checkin);
    void SettingsThread();
    void winServerThread();

    // The asynchronous update's work item, and the download and launch it runs.
    void updateAsynchronously();
    void update();

    // The form fields of a log upload: the service's, the daemon's and the installer's logs.
    std::wstring logUploadFields();

    // The VPN: the daemon brought in line with Internal.ovpnRequiredState, the watchdog's end
    // (with the daemon's stop), the watchdog itself and the network adapter's reconnection.
    void applyRequiredState();
    // False when the watchdog did not end (see endWatchdog); the daemon is stopped either way.
    bool stopVpnWatch();
    // Asks the watchdog to end and waits for it, for a bounded time. One that is still busy then
    // is asked no more and goes on; false in that case, and while the service is stopping.
    bool endWatchdog();
    // The next watchdog queued, without what the one before may have left in its event.
    void queueWatchdog();
    // After a wait of the watchdog that did not time out: whether it ends now.
    bool watchdogEnds(DWORD waitResult);
    void checkOpenVpnStateThread();
    // The watchdog's repair after a failed check; `firstOfSeries` for the first failure in a row.
    void repairVpnConnection(bool firstOfSeries);
    bool resetVpnAdapter();
    // The daemon's start, for the connect and the watchdog's repair: nothing is started once the
    // service is stopping; false then, with the line logged for `caller`.
    bool startDaemonUnlessStopping(const std::wstring& configName, const char* caller);
    // The stop's end of the daemon, after a connect and a start that are under way.
    void stopDaemonForStop();

    // The check-in loop over the API client's check-in; the update download's cancel and state.
    void runUpdateChecks();
    void cancelUpdateDownload();
    bool updateDownloadRunning() const;

    // The HTTP server's start and stop, taken in turn: a server that would start after the stop
    // routine has passed it is never started, since nothing would stop it again.
    bool startHttpServer(int port);
    void stopHttpServer();
    // winServerThread queued and counted in httpWorkers.
    void queueHttpWorker();
    // Until no winServerThread is queued or running: its loop must not outlive the service object.
    void waitForHttpWorker();

    ServerPool serverPool;
    UniqueHandle updateEvent;
    UniqueHandle vpnCheckEvent;
    std::atomic<bool> updateCheckThreadRunning { false };
    // Held by restartUpdateCheck for its whole length.
    std::mutex restartMutex;
    std::atomic<bool> asyncUpdateRunning { false };
    std::atomic<bool> checkOpenVpnStateThreadRunning { false };
    // Guards the watchdog's end: the request to end it, and its running flag when it ends.
    std::mutex watchdogMutex;
    bool watchdogEndRequested = false;
    // Held while the daemon is started and while the stop stops it, so that no start comes after
    // the stop's.
    std::timed_mutex daemonStartMutex;
    std::atomic<bool> lastCheckinSucceeded { true };
    UpdateDownloader updDownloader;
    OpenVpnStateController vpnController;
    // Its settings-changed callback is onSettingsUpdated.
    ServerApiOperator apiOperator;
    LocalHttpServer httpServer;
    std::atomic<bool> stopping { false };

    std::mutex httpServerMutex;
    // winServerThread work items queued and not yet ended.
    int httpWorkers = 0;
    std::condition_variable httpWorkerEnded;
};
