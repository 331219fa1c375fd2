// The service's VPN members in process: the connect with the mock API handing out the test
// daemon's configuration, the state report, the required state, and the watchdog's checks,
// repairs and log upload.
#include "ApiClientFixture.h"
#include "VpnServiceFixture.h"

#include "VpnState.h"

#include <gtest/gtest.h>

#include <ctime>
#include <future>
#include <thread>

using namespace daemon_test;
using namespace vpn_test;

namespace {

// Test-local management ports.
const int StatePort = 28201;              // and the next few
const int ConnectPort = 28210;
const int RefusedPort = 28211;
const int KeptConfigPort = 28212;         // and the next
const int ConcurrentPort = 28214;
const int ReentryPort = 28215;
const int QuickStopPort = 28216;
const int NoEventPort = 28217;
const int RequiredPort = 28220;           // and the next few
const int CheckTimesPort = 28230;
const int DeadDaemonPort = 28231;
const int RecoveryPort = 28232;
const int NotRequiredPort = 28233;
const int StaleEventPort = 28234;
const int StoppingRepairPort = 28235;
const int BusyWatchdogPort = 28236;

const std::string StateReceived = "received: state\\r\\n";

std::string failureLine(int n)
{
    return "[INFO]: \t ZazozeControlService::checkOpenVpnStateThread OpenVPN does not work correctly " + std::to_string(n)
        + " ";
}

// The times of the daemon log's lines that end in `event`, in seconds of the local clock.
std::vector<std::time_t> daemonLogTimes(const std::string& event)
{
    std::vector<std::time_t> times;
    for (const std::string& line : linesOf(readWholeFile(OvpnConfigFolder::file(L"ovpn.log")))) {
        if (line.size() < 20 || line.find(" test daemon " + event) == std::string::npos)
            continue;
        std::tm stamp {};
        if (std::sscanf(line.c_str(), "%d-%d-%d %d:%d:%d", &stamp.tm_year, &stamp.tm_mon, &stamp.tm_mday,
                        &stamp.tm_hour, &stamp.tm_min, &stamp.tm_sec)
            != 6)
            continue;
        stamp.tm_year -= 1900;
        stamp.tm_mon -= 1;
        stamp.tm_isdst = -1;
        times.push_back(std::mktime(&stamp));
    }
    return times;
}

} // namespace

struct StateCase {
    const char* name;
    int port;
    const char* directive;  // empty: no daemon
    bool required;
    int state;
    bool aliveAfter;
};

class VpnStateReport : public VpnServiceFixture, public ::testing::WithParamInterface<StateCase> {};

TEST_P(VpnStateReport, FollowsTheDaemonAndTheWish)
{
    const StateCase& c = GetParam();
    setRequired(c.required);
    if (*c.directive) {
        startDaemon(c.port, { c.directive });
        ASSERT_NO_FATAL_FAILURE(waitForListening(c.port));
    }
    EXPECT_EQ(service.getVpnState(), c.state);
    EXPECT_EQ(service.vpnController.isDaemonAlive(), c.aliveAfter);
}

INSTANTIATE_TEST_SUITE_P(
    States, VpnStateReport,
    ::testing::Values(StateCase { "NotRunningNotWanted", StatePort, "", false, VPN_NOTCONNECTED, false },
                      StateCase { "NotRunningWanted", StatePort, "", true, VPN_DISCONNECTED, false },
                      StateCase { "RunningNotConnected", StatePort + 1, "state=connecting", false, VPN_CONNECTING, true },
                      StateCase { "RunningConnected", StatePort + 2, "state=connected", true, VPN_CONNECTED, true },
                      StateCase { "LoneEndIsKilled", StatePort + 3, "state=end-lf", true, VPN_CONNECTING, false }),
    [](const testing::TestParamInfo<StateCase>& info) { return std::string(info.param.name); });

TEST_F(VpnServiceFixture, ConnectFetchesTheConfigurationStartsTheDaemonAndTheWatchdog)
{
    scriptApi(ConnectPort, 60, directives({}));
    const RemoteServerResponse response = service.connectToServer(L"nl-ams-01");
    EXPECT_EQ(response.code, 200);
    EXPECT_EQ(response.message, L"Success");
    EXPECT_EQ(lastServerId(), L"nl-ams-01");
    const std::vector<MockRequest> connects = mock.requestsTo(ConnectPath);
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_EQ(api_test::field(connects[0], "vpnSrvId"), "nl-ams-01");

    ASSERT_NO_FATAL_FAILURE(waitForListening(ConnectPort));
    EXPECT_EQ(record().front(), "start: " + expectedCommandLine("nl-ams-01.ovpn", ConnectPort));
    EXPECT_EQ(service.getVpnState(), VPN_CONNECTED);
    EXPECT_TRUE(service.checkOpenVpnStateThreadRunning);
    EXPECT_TRUE(eventually([this] { return watchdogStarted(); }));

    // The watch and the daemon end together.
    service.stopVpnWatch();
    EXPECT_FALSE(service.checkOpenVpnStateThreadRunning);
    EXPECT_TRUE(watchdogStopped());
    EXPECT_FALSE(service.vpnController.isDaemonAlive());
    EXPECT_TRUE(recorded("exit: signal SIGTERM"));
    EXPECT_EQ(service.getVpnState(), VPN_NOTCONNECTED);
}

// An expired token leaves the VPN down: no daemon, no watchdog.
TEST_F(VpnServiceFixture, UnauthorisedConnectIsReturnedAtOnce)
{
    scriptApi(RefusedPort, 60, directives({}));
    mock.setReply(ConnectPath, 401, "");
    writeConfiguration(L"nl-ams-01", directives({}));
    const RemoteServerResponse response = service.connectToServer(L"nl-ams-01");
    EXPECT_EQ(response.code, 401);
    EXPECT_FALSE(service.vpnController.isDaemonAlive());
    EXPECT_FALSE(fileExists(OvpnConfigFolder::file(L"test-daemon.record")));
    EXPECT_FALSE(service.checkOpenVpnStateThreadRunning);
    EXPECT_FALSE(logged("checkOpenVpnStateThread"));
}

struct FailedConnectCase {
    const char* name;
    int port;
    const wchar_t* serverId;
    const wchar_t* keptConfiguration;  // written before the connect; empty: none
    const char* configFile;            // the daemon's --config
    const wchar_t* storedId;           // LastConnectResponseInfo.serverId afterwards
};

class FailedConnect : public VpnServiceFixture, public ::testing::WithParamInterface<FailedConnectCase> {};

// A failed request still starts the daemon; a kept configuration's id is stored.
TEST_P(FailedConnect, StillStartsTheDaemon)
{
    const FailedConnectCase& c = GetParam();
    scriptApi(c.port, 60, directives({}));
    mock.setReply(ConnectPath, 503, "");
    mainSettings().setValue(SettingsKeys::LastConnectServerId, L"earlier");
    if (*c.keptConfiguration)
        writeConfiguration(c.keptConfiguration, directives({}));
    const RemoteServerResponse response = service.connectToServer(c.serverId);
    EXPECT_EQ(response.code, 500);
    EXPECT_EQ(lastServerId(), c.storedId);
    ASSERT_TRUE(eventually([] { return !record().empty(); }));
    EXPECT_EQ(record().front(), "start: " + expectedCommandLine(c.configFile, c.port));
    EXPECT_TRUE(service.checkOpenVpnStateThreadRunning);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedConnect,
    ::testing::Values(FailedConnectCase { "KeptConfiguration", KeptConfigPort, L"nl-ams-01", L"nl-ams-01",
                                          "nl-ams-01.ovpn", L"nl-ams-01" },
                      FailedConnectCase { "EmptyId", KeptConfigPort + 1, L"", L"default", "default.ovpn", L"earlier" }),
    [](const testing::TestParamInfo<FailedConnectCase>& info) { return std::string(info.param.name); });

TEST_F(VpnServiceFixture, ConcurrentConnectIsRefused)
{
    scriptApi(ConcurrentPort, 60, directives({}));
    const RemoteServerResponse response = [this] {
        const HeldElsewhere connecting(connectToServerMutex);
        return service.connectToServer(L"nl-ams-01");
    }();

    EXPECT_EQ(response.code, 500);
    EXPECT_STREQ(response.statusText, "Internal server error");
    EXPECT_EQ(response.message, L"Concurrent calls detected");
    EXPECT_TRUE(logged("[INFO]: \t Concurrent calls of  ZazozeControlService::connectToServer  detected "));
    EXPECT_TRUE(mock.requests().empty());
    EXPECT_FALSE(service.vpnController.isDaemonAlive());
}

// The connect's own check-in applies the required state, which asks for a connect again on the
// same thread: that one is refused, and the first goes on.
TEST_F(VpnServiceFixture, ConnectReachedAgainThroughItsCheckinIsRefused)
{
    scriptApi(ReentryPort, 60, directives({}));
    service.setRequiredState(true);
    EXPECT_EQ(loggedCount("Concurrent calls of  ZazozeControlService::connectToServer  detected"), 1u);
    EXPECT_EQ(mock.requestsTo(CheckinPath).size(), 1u);
    EXPECT_EQ(mock.requestsTo(ConnectPath).size(), 1u);
    ASSERT_NO_FATAL_FAILURE(waitForListening(ReentryPort));
    EXPECT_EQ(recordCountStarting("start: "), 1u);
    EXPECT_EQ(service.getVpnState(), VPN_CONNECTED);
}

// Ids that would name a file elsewhere or add options to the daemon's command line.
TEST_F(VpnServiceFixture, ServerIdsThatAreNoPlainNamesAreRefusedAndTouchNothing)
{
    // A VPN that runs is not disturbed by a bad request either.
    ASSERT_NO_FATAL_FAILURE(startDaemon(QuickStopPort, {}));
    ASSERT_NO_FATAL_FAILURE(waitForListening(QuickStopPort));
    scriptApi(QuickStopPort, 60, directives({}));
    mainSettings().setValue(SettingsKeys::LastConnectServerId, L"earlier");
    const std::wstring outside = AppdataPath + L"..\\x.ovpn";
    const std::wstring tooLong(129, L'n');
    for (const std::wstring id : { L"..\\..\\x", L"..\\x", L"a b", L"x --up evil.sh", L".hidden", L"a/b", L"CON",
                                   L"nul.ovpn", L"LPT1", tooLong.c_str() }) {
        const RemoteServerResponse response = service.connectToServer(id);
        EXPECT_EQ(response.code, 400) << narrow(id);
        EXPECT_STREQ(response.statusText, "Bad request");
        EXPECT_NE(response.message.find(L"Bad server id"), std::wstring::npos);
    }
    EXPECT_TRUE(mock.requests().empty());
    EXPECT_FALSE(fileExists(outside));
    EXPECT_FALSE(fileExists(AppdataPath + L"x.ovpn"));
    EXPECT_FALSE(fileExists(OvpnConfigFolder::file(L"a b.ovpn")));
    EXPECT_EQ(lastServerId(), L"earlier");
    EXPECT_EQ(recordCountStarting("start: "), 1u);
    EXPECT_TRUE(service.vpnController.isDaemonAlive());
    EXPECT_FALSE(service.checkOpenVpnStateThreadRunning);
    EXPECT_TRUE(logged("[ERROR]:\t ZazozeControlService::connectToServer refused a server id that is no plain name: a b "));
}

// The watchdog counts as running from its queueing on, so a stop right after the connect ends it.
TEST_F(VpnServiceFixture, StopRightAfterTheConnectEndsTheWatchdog)
{
    scriptApi(QuickStopPort, 60, directives({}));
    service.connectToServer(L"nl-ams-01");
    service.stopVpnWatch();
    EXPECT_FALSE(service.checkOpenVpnStateThreadRunning);
    EXPECT_TRUE(watchdogStarted());
    EXPECT_TRUE(watchdogStopped());
    EXPECT_FALSE(service.vpnController.isDaemonAlive());
}

// The event set for a watchdog that then ended by an exception, before it waited again.
TEST_F(VpnServiceFixture, AWakeUpLeftFromTheWatchdogBeforeDoesNotEndTheNextOne)
{
    scriptApi(StaleEventPort, 60, directives({}));
    SetEvent(service.vpnCheckEvent.get());
    ASSERT_EQ(service.connectToServer(L"nl-ams-01").code, 200);
    ASSERT_TRUE(eventually([this] { return watchdogStarted(); }));
    // It waits for its interval: nothing but the test's end ends it.
    EXPECT_FALSE(eventually([this] { return watchdogStopped(); }, 3000));
    EXPECT_TRUE(service.checkOpenVpnStateThreadRunning);
}

// A watchdog held up in its check for longer than the connect waits for it (here by a conversation
// with the daemon that does not end) is asked no more: it goes on and watches the new connection,
// and no second one is started beside it.
TEST_F(VpnServiceFixture, AWatchdogThatDoesNotEndInTimeGoesOnWatchingAndNoSecondOneStarts)
{
    scriptApi(BusyWatchdogPort, 2, directives({}));
    // Wanted, so that each check asks the daemon.
    setRequired(true);
    ASSERT_EQ(service.connectToServer(L"nl-ams-01").code, 200);
    RemoteServerResponse second {};
    {
        // Taken before the watchdog's first check is due, and held past the connect's wait.
        std::promise<void> held, release;
        std::thread conversation([&] {
            const auto lock = service.vpnController.lockConversation();
            held.set_value();
            release.get_future().wait();
        });
        held.get_future().wait();
        // Past the first check's time: the watchdog waits for the conversation in its check.
        Sleep(4000);
        std::thread connecting([&] {
            const ComInit threadCom(COINIT_APARTMENTTHREADED);
            second = service.connectToServer(L"nl-ams-01");
        });
        const bool gaveUp = eventually([this] { return logged("the watchdog did not end within 10 s"); }, 30000);
        release.set_value();
        conversation.join();
        connecting.join();
        ASSERT_TRUE(gaveUp);
    }
    EXPECT_EQ(second.code, 200);
    // The second connection's daemon (and, had the watchdog found none between the two, its repair).
    EXPECT_TRUE(eventually([] { return recordCountStarting("start: ") >= 2; }));
    // The first watchdog checks the second connection's daemon.
    const size_t checked = loggedCount("OpenVPN works correctly");
    EXPECT_TRUE(eventually([&] { return loggedCount("OpenVPN works correctly") > checked; }, 20000));
    EXPECT_EQ(loggedCount("Start ZazozeControlService::checkOpenVpnStateThread  Thread ID: "), 1u);
    EXPECT_FALSE(watchdogStopped());
    EXPECT_TRUE(service.checkOpenVpnStateThreadRunning);
}

// The stop may come while the watchdog repairs: a daemon started then would outlive the service.
TEST_F(VpnServiceFixture, ARepairDuringTheStopStartsNoDaemon)
{
    writeConfiguration(L"server", directives({}));
    service.vpnController.setManagementPort(StoppingRepairPort);
    mainSettings().setValue(SettingsKeys::LastConnectServerId, L"server");
    service.stopping = true;
    service.repairVpnConnection(false);
    EXPECT_FALSE(service.vpnController.isDaemonAlive());
    EXPECT_EQ(recordCountStarting("start: "), 0u);
    EXPECT_TRUE(logged("ZazozeControlService::checkOpenVpnStateThread the service is stopping: the daemon is not started"));
}

TEST_F(VpnServiceFixture, WithoutTheCheckEventTheDaemonRunsUnwatched)
{
    service.vpnCheckEvent.reset();
    scriptApi(NoEventPort, 60, directives({}));
    EXPECT_EQ(service.connectToServer(L"nl-ams-01").code, 200);
    EXPECT_TRUE(logged("Vpn check event object not created"));
    ASSERT_NO_FATAL_FAILURE(waitForListening(NoEventPort));
    EXPECT_FALSE(service.checkOpenVpnStateThreadRunning);
    EXPECT_FALSE(watchdogStarted());
}

struct RequiredCase {
    const char* name;
    int port;
    bool required;
    bool daemonRunning;
    bool connects;
    bool aliveAfter;
};

class RequiredState : public VpnServiceFixture, public ::testing::WithParamInterface<RequiredCase> {};

TEST_P(RequiredState, BringsTheDaemonInLine)
{
    const RequiredCase& c = GetParam();
    scriptApi(c.port, 60, directives({}));
    if (c.daemonRunning) {
        startDaemon(c.port, {}, L"nl-ams-01");
        ASSERT_NO_FATAL_FAILURE(waitForListening(c.port));
    }
    mainSettings().setValue(SettingsKeys::LastConnectServerId, L"nl-ams-01");
    setRequired(c.required);
    service.applyRequiredState();
    EXPECT_EQ(mock.requestsTo(ConnectPath).size(), c.connects ? 1u : 0u);
    EXPECT_EQ(service.vpnController.isDaemonAlive(), c.aliveAfter);
    const size_t starts = c.daemonRunning || c.connects ? 1u : 0u;
    EXPECT_TRUE(eventually([starts] { return recordCountStarting("start: ") >= starts; }));
    EXPECT_EQ(recordCountStarting("start: "), starts);
}

INSTANTIATE_TEST_SUITE_P(
    Wishes, RequiredState,
    ::testing::Values(RequiredCase { "WantedAndDown", RequiredPort, true, false, true, true },
                      RequiredCase { "WantedAndUp", RequiredPort + 1, true, true, false, true },
                      RequiredCase { "UnwantedAndUp", RequiredPort + 2, false, true, false, false },
                      RequiredCase { "UnwantedAndDown", RequiredPort + 3, false, false, false, false }),
    [](const testing::TestParamInfo<RequiredCase>& info) { return std::string(info.param.name); });

// With interval T and a daemon that keeps answering without "CONNECTED", the checks fall at T,
// 3T, 6T and 10T; the fourth is followed by the log upload, and the series begins again.
TEST_F(VpnServiceFixture, WatchdogChecksAtGrowingIntervalsAndUploadsTheLogsAtTheFourthFailure)
{
    const int interval = 2;
    scriptApi(CheckTimesPort, interval, directives({ "state=connecting" }));
    setRequired(true);
    ASSERT_EQ(service.connectToServer(L"nl-ams-01").code, 200);
    ASSERT_NO_FATAL_FAILURE(waitForListening(CheckTimesPort));
    const std::vector<std::time_t> started = daemonLogTimes("listening:");
    ASSERT_TRUE(eventually([this] { return logged(failureLine(1)); }, 60000));
    ASSERT_TRUE(eventually([this] { return logged(failureLine(4)); }, 60000));
    ASSERT_TRUE(eventually([this] { return mock.requestsTo(LogUploadPath).size() == 1; }, 60000));
    ASSERT_TRUE(eventually([this] { return loggedCount(failureLine(1)) == 2; }, 60000));
    service.stopVpnWatch();

    const std::vector<std::time_t> checks = daemonLogTimes("received: state");
    ASSERT_GE(checks.size(), 5u);
    ASSERT_EQ(started.size(), 1u);
    // Seconds of the daemon's clock, each cut to the whole second: a gap may look one second off.
    const std::vector<int> gaps = { interval, 2 * interval, 3 * interval, 4 * interval, interval };
    std::time_t previous = started[0];
    for (size_t i = 0; i < gaps.size(); ++i) {
        EXPECT_NEAR(static_cast<double>(checks[i] - previous), gaps[i], 1.0) << "check " << i + 1;
        previous = checks[i];
    }
    // The daemon answers, so it is neither restarted nor reported unconnected.
    EXPECT_EQ(recordCountStarting("start: "), 1u);
    // Three repairs in the first series, one after the first failure of the next.
    EXPECT_EQ(loggedCount("OpenVPN connection state is considered incorrect"), 4u);
    EXPECT_FALSE(logged("OVPN was not started"));
    EXPECT_FALSE(logged("OVPN controller was not connected"));
}

// A daemon that dies at once is restarted at the first three failures; after the fourth, with the
// last check-in failed, the watchdog gives up.
TEST_F(VpnServiceFixture, WatchdogRestartsADeadDaemonAndGivesUpWhenItCannotRepair)
{
    scriptApi(DeadDaemonPort, 1, directives({ "exit-after=200" }));
    setRequired(true);
    service.lastCheckinSucceeded = false;
    ASSERT_EQ(service.connectToServer(L"nl-ams-01").code, 200);
    ASSERT_TRUE(eventually([this] { return watchdogStopped(); }, 60000));

    EXPECT_FALSE(service.checkOpenVpnStateThreadRunning);
    EXPECT_EQ(recordCountStarting("start: "), 4u);
    EXPECT_EQ(recordCount("start: " + expectedCommandLine("nl-ams-01.ovpn", DeadDaemonPort)), 4u);
    EXPECT_EQ(loggedCount("[ERROR]:\t OVPN was not started "), 3u);
    EXPECT_TRUE(logged(failureLine(4)));
    EXPECT_EQ(mock.requestsTo(LogUploadPath).size(), 1u);
    EXPECT_TRUE(logged("[ERROR]:\t ZazozeControlService::checkOpenVpnStateThread  exception caught: Cannot repair VPN "
                       "connection "));
}

// Once the repaired daemon works the counter goes back to 1: the next failure is a first one again.
TEST_F(VpnServiceFixture, WatchdogStartsANewSeriesAfterTheRepairWorked)
{
    scriptApi(RecoveryPort, 2, directives({ "exit-after=300" }));
    setRequired(true);
    ASSERT_EQ(service.connectToServer(L"nl-ams-01").code, 200);
    ASSERT_TRUE(eventually([] { return recorded("exit: after 300 ms"); }));
    // The repair starts the configuration that is there by then: one that lives.
    writeConfiguration(L"nl-ams-01", directives({}));
    ASSERT_TRUE(eventually([this] { return loggedCount("OpenVPN works correctly") >= 2; }, 60000));
    OpenVpnStateController::killAllDaemons();
    ASSERT_TRUE(eventually([this] { return loggedCount(failureLine(1)) == 2; }, 60000));
    EXPECT_FALSE(logged(failureLine(2)));
    EXPECT_EQ(loggedCount("[ERROR]:\t OVPN was not started "), 2u);
}

// While the VPN is not wanted every check counts as working and the daemon is not asked.
TEST_F(VpnServiceFixture, WatchdogLeavesAnUnwantedVpnAlone)
{
    scriptApi(NotRequiredPort, 1, directives({ "state=connecting" }));
    setRequired(false);
    ASSERT_EQ(service.connectToServer(L"nl-ams-01").code, 200);
    ASSERT_NO_FATAL_FAILURE(waitForListening(NotRequiredPort));
    ASSERT_TRUE(eventually([this] { return loggedCount("OpenVPN works correctly") >= 3; }, 60000));
    EXPECT_EQ(recordCount(StateReceived), 0u);
    EXPECT_FALSE(logged("does not work correctly"));
}
