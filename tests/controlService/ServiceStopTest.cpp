// Stopping a service whose worker never ends: it reports stop-pending, and gives up once more
// than three whole seconds have passed since the stop began.
#include "InstalledServiceFixture.h"

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
    // Its own handles: the control manager answers one call at a time on a handle.
    std::thread stopper([] {
        ScHandle stopManager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
        ScHandle stopService(OpenServiceW(stopManager.get(), L"Nimbal", SERVICE_STOP));
        SERVICE_STATUS status {};
        ControlService(stopService.get(), SERVICE_CONTROL_STOP, &status);
    });
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
