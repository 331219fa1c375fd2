// Stopping a service whose worker never ends: it reports stop-pending, and gives up once more
// than three whole seconds have passed since the stop began. Stopping a service while a connect
// waits for a watchdog that never ends: the stop ends within its bound all the same.
#include "InstalledServiceFixture.h"
#include "PipeTestClient.h"

#include "CommandsClient.h"
#include "Handles.h"

#include <chrono>
#include <set>
#include <thread>

class HungWorker : public InstalledService {
protected:
    HungWorker() : InstalledService(hostPath(NIMBAL_HUNG_WORKER_SERVICE_EXE)) {}
};

TEST_F(HungWorker, TheStopReportsStopPendingAndGivesUpAfterItsLimit)
{
    ASSERT_TRUE(logGets("Waiting for client connection server_id= 0"));
    // The update worker is past its check-in, in the wait that the stop ends.
    ASSERT_TRUE(checkinSaved());
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceW(manager.get(), L"Nimbal", SERVICE_STOP | SERVICE_QUERY_STATUS));
    ASSERT_TRUE(service);

    const auto sent = std::chrono::steady_clock::now();
    std::thread stopper = sendStopInBackground();
    std::set<DWORD> pendingCheckPoints;
    SERVICE_STATUS status {};
    for (int i = 0; i < 6000; ++i) {
        if (!QueryServiceStatus(service.get(), &status) || status.dwCurrentState == SERVICE_STOPPED)
            break;
        if (status.dwCurrentState == SERVICE_STOP_PENDING)
            pendingCheckPoints.insert(status.dwCheckPoint);
        Sleep(20);
    }
    const auto stopped = std::chrono::steady_clock::now();
    stopper.join();

    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    // Reported again and again while it waited, each time with the next check point.
    EXPECT_GE(pendingCheckPoints.size(), 2u);
    EXPECT_GT(std::chrono::duration_cast<std::chrono::seconds>(stopped - sent).count(), 3);
    EXPECT_TRUE(logHasInOrder({ "Nimbal Privacy terminating", "Waiting for end of all threads",
                                "ZazozeControlService::OnStop::waitThreadsOnStop Waiting too long for threads!!! Aborting "
                                "updateCheckThreadRunning= 0 updDownloader stopped",
                                "Nimbal Privacy terminated" }));
}

class HungWatchdog : public InstalledService {
protected:
    HungWatchdog() : InstalledService(hostPath(NIMBAL_HUNG_WATCHDOG_SERVICE_EXE)) {}
};

TEST_F(HungWatchdog, AStopUnderAConnectStuckBehindTheWatchdogEndsWithinItsBound)
{
    // Its own wait of about 3 s, its steps, and room for a slow Wine; a stop that waited for the
    // connect would not end at all.
    constexpr auto StopBound = std::chrono::seconds(20);
    ASSERT_TRUE(logGets("Waiting for client connection server_id= 0"));
    ASSERT_TRUE(checkinSaved());
    PipeConnection client(CommandsPipeName);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(request(CMD_CONNECT_TO_SERVER, { L"nl1" })));
    // The connect waits for the watchdog: it has not asked the API.
    Sleep(2000);
    ASSERT_TRUE(mock.requestsTo("/v3/server/connect").empty());

    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceW(manager.get(), L"Nimbal", SERVICE_QUERY_STATUS));
    ASSERT_TRUE(service);
    const auto sent = std::chrono::steady_clock::now();
    std::thread stopper = sendStopInBackground();
    SERVICE_STATUS status {};
    for (int i = 0; i < 3000; ++i) {
        if (!QueryServiceStatus(service.get(), &status) || status.dwCurrentState == SERVICE_STOPPED)
            break;
        Sleep(20);
    }
    const auto took = std::chrono::steady_clock::now() - sent;
    stopper.join();

    EXPECT_EQ(status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_LT(took, StopBound) << "the stop took "
                               << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    // The connect gave up on the watchdog once the stop began, and its client was let go.
    EXPECT_TRUE(client.endedByServer(10000));
    EXPECT_TRUE(logHasInOrder({ "Nimbal Privacy terminating", "ServerPool::Close-- CLOSE ALL", "ServerPool::Close-- DONE.",
                                "ZazozeControlService::OnStop::waitThreadsOnStop Waiting too long for threads!!! Aborting "
                                "updateCheckThreadRunning= 0 updDownloader stopped",
                                "Nimbal Privacy terminated" }));
}
