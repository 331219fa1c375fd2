// The service's stop against a connect, in process, with the test daemon beside the program: a
// connect still waiting for the API's reply is given up by the stop instead of holding it up, and
// a connect that gets its reply once the stop has begun starts no daemon, which would outlive the
// service.
#include "VpnServiceFixture.h"

#include <atomic>
#include <chrono>
#include <thread>

using namespace daemon_test;
using namespace vpn_test;

namespace {

// Test-local management ports.
const int AbandonedPort = 28821;
const int LateReplyPort = 28822;
const int StuckConnectPort = 28823;

// The connect's reply comes this late, if it is still waited for.
constexpr unsigned ReplyDelayMs = 40000;
// The stop's own wait is about 3 s; a stop that waited for the reply would take ReplyDelayMs.
constexpr auto StopBound = std::chrono::seconds(15);
constexpr DWORD StopBoundMs = 15000;

// The service's stop, named through a class that makes it public.
struct StopAccess : ZazozeControlService {
    using ZazozeControlService::OnStop;
};

void stop(ZazozeControlService& service)
{
    // The stop uninitialises COM on its thread, as the service's main thread has it initialised.
    CoInitialize(nullptr);
    (service.*&StopAccess::OnStop)();
}

class StopDuringConnect : public VpnServiceFixture {};

} // namespace

// A connect that waits for a watchdog that does not end (stuck in its check, or in a log upload)
// holds no stop up: the stop ends within its bound, and the connect, seeing it, starts nothing.
TEST_F(StopDuringConnect, AStopUnderAConnectStuckBehindTheWatchdogEndsWithinItsBound)
{
    scriptApi(StuckConnectPort, 60, directives({}));
    // A watchdog that counts as running and never ends.
    service.checkOpenVpnStateThreadRunning = true;
    std::atomic<bool> returned { false };
    std::thread connecting([&] {
        const ComInit threadCom(COINIT_APARTMENTTHREADED);
        service.connectToServer(L"nl-ams-01");
        returned = true;
    });
    // Stuck: it has not got as far as the API.
    Sleep(2000);
    const bool stuck = !returned && mock.requestsTo(ConnectPath).empty();

    std::atomic<bool> stopped { false };
    const auto began = std::chrono::steady_clock::now();
    std::thread stopper([&] {
        stop(service);
        stopped = true;
    });
    const bool stoppedInTime = eventually([&] { return stopped.load(); }, StopBoundMs);
    const auto took = std::chrono::steady_clock::now() - began;
    const bool connectReturnedFirst = stoppedInTime && returned;
    const bool connectReturned = eventually([&] { return returned.load(); }, StopBoundMs);
    // Whatever happened, the test leaves nothing waiting behind it.
    service.checkOpenVpnStateThreadRunning = false;
    stopper.join();
    connecting.join();

    EXPECT_TRUE(stuck);
    EXPECT_TRUE(stoppedInTime) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_TRUE(connectReturned);
    // The stop does not end before the connect, which saw the stop and gave up its wait.
    EXPECT_TRUE(connectReturnedFirst);
    EXPECT_TRUE(logged("Waiting too long for threads!!! Aborting"));
    EXPECT_FALSE(service.vpnController.isDaemonAlive());
    EXPECT_FALSE(fileExists(OvpnConfigFolder::file(L"test-daemon.record")));
}

TEST_F(StopDuringConnect, TheStopGivesUpTheReplyAConnectWaitsFor)
{
    scriptApi(AbandonedPort, 60, directives({}));
    mock.setReply(ConnectPath, 200, connectReply(configurationText(directives({}))), ReplyDelayMs);
    RemoteServerResponse response {};
    std::atomic<bool> returned { false };
    std::thread connecting([&] {
        const ComInit threadCom(COINIT_APARTMENTTHREADED);
        response = service.connectToServer(L"nl-ams-01");
        returned = true;
    });
    const bool requested = eventually([this] { return !mock.requestsTo(ConnectPath).empty(); });

    const auto began = std::chrono::steady_clock::now();
    stop(service);
    const auto took = std::chrono::steady_clock::now() - began;
    const bool returnedWithinStop = returned;
    connecting.join();

    ASSERT_TRUE(requested);
    EXPECT_LT(took, StopBound) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    // The stop does not end before the connect it gave up on.
    EXPECT_TRUE(returnedWithinStop);
    // What a request that could not be completed answers.
    EXPECT_EQ(response.code, 500);
    EXPECT_EQ(response.message, L"Failed to process request");
    EXPECT_TRUE(logged("WinHttpRequest::send request abandoned: the service is stopping"));
    EXPECT_FALSE(service.vpnController.isDaemonAlive());
    EXPECT_FALSE(fileExists(OvpnConfigFolder::file(L"test-daemon.record")));
}

TEST_F(StopDuringConnect, AConnectWhoseReplyComesAfterTheStopBeganStartsNoDaemon)
{
    scriptApi(LateReplyPort, 60, directives({}));
    service.stopping = true;
    const RemoteServerResponse response = service.connectToServer(L"nl-ams-01");
    // The reply itself is passed on: only the daemon is not started.
    EXPECT_EQ(response.code, 200);
    EXPECT_EQ(response.message, L"Success");
    EXPECT_TRUE(logged("ZazozeControlService::connectToServer the service is stopping: the daemon is not started"));
    EXPECT_FALSE(service.vpnController.isDaemonAlive());
    EXPECT_FALSE(fileExists(OvpnConfigFolder::file(L"test-daemon.record")));
    EXPECT_FALSE(service.checkOpenVpnStateThreadRunning);
}
