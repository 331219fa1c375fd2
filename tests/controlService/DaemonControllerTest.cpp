// The daemon controller against the test daemon, installed beside this program as
// OpenVPN\openvelorn.exe: the command line, the management conversation and its field rules, the
// port search, stopping and killing.
#include "DaemonControllerFixture.h"
#include "RunningProgram.h"

#include "vpn/ConnectionChecker.h"
#include "vpn/ManagementIo.h"

#include "NetworkHelpers.h"
#include "SocketHandle.h"

#include <gtest/gtest.h>

#include <future>

using namespace daemon_test;

namespace {

// Test-local management ports.
const int CommandLinePort = 28001;        // and the next
const int FieldRulePort = 28010;          // and the next few
const int FailurePort = 28020;            // and the next few
const int LongReplyPort = 28030;
const int EndKillsPort = 28031;           // and the next
const int ConcurrentPort = 28033;
const int SerialisedPort = 28034;
const int DeadDaemonPort = 28035;
const int PoliteStopPort = 28040;
const int IgnoredSigtermPort = 28041;
const int SilentStopPort = 28042;
const int SweepPort = 28043;              // and the next
const int ForeignPort = 28045;
const int BusyPort = 28060;               // and the next few
const int KeptPort = 28070;
const int NoSocketsPort = 28071;
const int CrowdedPorts = 28100;           // and the next 99

const std::string StateReceived = "received: state\\r\\n";
const std::string SigtermReceived = "received: signal SIGTERM\\r\\n";

std::string infoLine(const std::string& text)
{
    return "[INFO]: \t " + text + " ";
}

std::string errorLine(const std::string& text)
{
    return "[ERROR]:\t " + text + " ";
}

// A listening socket on 127.0.0.1 that keeps a port busy while it lives.
UniqueSocket holdPort(int port)
{
    UniqueSocket holder(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    address.sin_port = htons(static_cast<u_short>(port));
    EXPECT_EQ(bind(holder.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0) << port;
    EXPECT_EQ(listen(holder.get(), 1), 0) << port;
    return holder;
}

// A daemon as the controller would start it, but started by someone else.
std::wstring foreignDaemon(int port)
{
    return L"\"" + InstallPath + L"OpenVPN\\openvelorn.exe\" --cd \"" + OvpnConfigFolder::folder()
        + L"\" --config server.ovpn --log-append ovpn.log --verb 3 --management localhost " + std::to_wstring(port);
}

} // namespace

TEST(SplitByComma, DropsEmptyFieldsAndKeepsLineEnds)
{
    const struct {
        std::string text;
        std::vector<std::string> fields;
    } cases[] = {
        { "1796889814,CONNECTED,SUCCESS,,127.0.0.1,21194\r\nEND\r\n",
          { "1796889814", "CONNECTED", "SUCCESS", "127.0.0.1", "21194\r\nEND\r\n" } },
        { "1796889814,CONNECTING,,,,,,\r\nEND\r\n", { "1796889814", "CONNECTING", "\r\nEND\r\n" } },
        { ",a,,b,", { "a", "b" } },
        { "END\n", { "END\n" } },
        { ",,,", {} },
        { "", {} },
    };
    for (const auto& c : cases)
        EXPECT_EQ(splitByComma(c.text), c.fields) << c.text;
}

class CommandLine : public DaemonControllerFixture,
                    public ::testing::WithParamInterface<std::pair<const wchar_t*, const char*>> {};

TEST_P(CommandLine, NamesTheConfigurationAndThePortToTheByte)
{
    const std::wstring name = GetParam().first;
    const int port = CommandLinePort + (name.empty() ? 1 : 0);
    writeConfiguration(name.empty() ? L"default" : name, directives({}));
    controller->setManagementPort(port);
    controller->startOVPN(name);
    ASSERT_TRUE(eventually([] { return !record().empty(); }));

    const std::string commandLine = expectedCommandLine(GetParam().second, port);
    EXPECT_EQ(record().front(), "start: " + commandLine);
    EXPECT_TRUE(controller->isDaemonAlive());
    const std::vector<std::string> expected = {
        "OpenVpnStateController::ConnectionChecker::updateVpnPort Operation port is  " + std::to_string(port),
        "Launched " + commandLine,
        infoLine("OpenVpnStateController::startOVPN succeeded"),
    };
    std::vector<std::string> startLines = lines();
    startLines.erase(std::remove_if(startLines.begin(), startLines.end(),
                                    [](const std::string& line) { return line.find("checkPort") != std::string::npos; }),
                     startLines.end());
    EXPECT_EQ(startLines, expected);
    // The daemon runs in the configuration folder and writes its log there.
    EXPECT_TRUE(eventually([] { return fileExists(OvpnConfigFolder::file(L"ovpn.log")); }));
}

INSTANTIATE_TEST_SUITE_P(Names, CommandLine,
                         ::testing::Values(std::make_pair(L"nl-ams-01", "nl-ams-01.ovpn"),
                                           std::make_pair(L"", "default.ovpn")));

struct FieldRuleCase {
    const char* name;
    int port;
    const char* directive;
    int result;
    bool keptOpen;
    std::string logged;  // the error line as the log file holds it, or empty when none
};

class FieldRule : public DaemonControllerFixture, public ::testing::WithParamInterface<FieldRuleCase> {};

// Each answer is judged alike twice; an open connection is used again without a second greeting.
TEST_P(FieldRule, JudgesTheStateAnswer)
{
    const FieldRuleCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(startListening(c.port, { c.directive }));

    EXPECT_EQ(controller->checkState(), c.result);
    EXPECT_EQ(controller->isManagementConnected(), c.keptOpen);
    EXPECT_EQ(controller->checkState(), c.result);
    EXPECT_EQ(controller->isManagementConnected(), c.keptOpen);

    EXPECT_EQ(recordCount(StateReceived), 2u);
    EXPECT_EQ(recordCount("connected"), c.keptOpen ? 1u : 2u);
    if (c.logged.empty())
        EXPECT_FALSE(logged("[ERROR]")) << logText();
    else
        EXPECT_TRUE(logged(c.logged)) << logText();
    EXPECT_TRUE(controller->isDaemonAlive());
}

// The log file is written in text mode: each LF of a line, its own included, is stored as CR LF.
INSTANTIATE_TEST_SUITE_P(
    Answers, FieldRule,
    ::testing::Values(FieldRuleCase { "Connected", FieldRulePort, "state=connected", 0, true, "" },
                      FieldRuleCase { "ConnectingWithEmptyFields", FieldRulePort + 1, "state=connecting", 2, true, "" },
                      FieldRuleCase { "ConnectedAlone", FieldRulePort + 2, "state=connected-alone", 2, false,
                                      "[ERROR]:\t Service answer is incorrect: CONNECTED\r\r\n \r\n" },
                      FieldRuleCase { "EndLfAlone", FieldRulePort + 3, "state=end-lf", 1, false,
                                      "[ERROR]:\t Service answer is incorrect: END\r\n \r\n" },
                      FieldRuleCase { "EndCrLfAlone", FieldRulePort + 4, "state=end-crlf", 2, false,
                                      "[ERROR]:\t Service answer is incorrect: END\r\r\n \r\n" }),
    [](const testing::TestParamInfo<FieldRuleCase>& info) { return std::string(info.param.name); });

struct FailureCase {
    const char* name;
    int port;
    const char* directive;
    bool listens;
    std::string logged;
};

class ManagementFailure : public DaemonControllerFixture, public ::testing::WithParamInterface<FailureCase> {};

// Each failure closes the connection and is judged 2, in bounded time even when nothing ever comes.
TEST_P(ManagementFailure, ClosesTheConnection)
{
    const FailureCase& c = GetParam();
    if (c.listens)
        ASSERT_NO_FATAL_FAILURE(startListening(c.port, { c.directive }));
    else
        startDaemon(c.port, directives({ c.directive }));

    EXPECT_EQ(controller->checkState(), 2);
    EXPECT_FALSE(controller->isManagementConnected());
    EXPECT_TRUE(logged(errorLine(c.logged))) << logText();
    // A late answer to the first query is not taken for the answer to the second.
    EXPECT_EQ(controller->checkState(), 2);
    EXPECT_FALSE(controller->isManagementConnected());
    EXPECT_TRUE(controller->isDaemonAlive());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, ManagementFailure,
    ::testing::Values(
        FailureCase { "LateReply", FailurePort, "state-delay=1000", true, "Service reply is empty or timedout" },
        FailureCase { "NoReply", FailurePort + 1, "state=none", true, "Service reply is empty or timedout" },
        FailureCase { "NoGreeting", FailurePort + 2, "greeting=none", true, "Service prompt is empty" },
        FailureCase { "NoListener", FailurePort + 3, "listen-delay=never", false,
                      "Socket not connected, port " + std::to_string(FailurePort + 3) }),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// The first 1024 bytes still show "CONNECTED" second; the rest is read as the next answer. Each
// answer comes a moment late, so that the rest is read before the next answer is there too.
TEST_F(DaemonControllerFixture, LongAnswerIsCutAndItsRestReadNext)
{
    ASSERT_NO_FATAL_FAILURE(startListening(LongReplyPort, { "state=long", "state-delay=300" }));
    EXPECT_EQ(controller->checkState(), 0);
    EXPECT_TRUE(controller->isManagementConnected());
    EXPECT_EQ(controller->checkState(), 2);
    EXPECT_FALSE(controller->isManagementConnected());
    const std::string rest = std::string(1500 - 1024 - 7, 'x') + "\r\r\nEND\r\r\n \r\n";
    EXPECT_TRUE(logged("[ERROR]:\t Service answer is incorrect: " + rest)) << logText();
}

struct EndCase {
    const char* name;
    int port;
    const char* directive;
    bool killed;
};

class LoneEnd : public DaemonControllerFixture, public ::testing::WithParamInterface<EndCase> {};

TEST_P(LoneEnd, KillsTheDaemonOnlyWhenItIsEndLf)
{
    const EndCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(startListening(c.port, { c.directive }));
    EXPECT_FALSE(controller->isVpnConnected());
    EXPECT_EQ(controller->isDaemonAlive(), !c.killed);
    EXPECT_EQ(logged(infoLine("OpenVpnStateController::killOVPN Terminating process")), c.killed);
    EXPECT_EQ(logged("Terminated ok"), c.killed);
}

INSTANTIATE_TEST_SUITE_P(Ends, LoneEnd,
                         ::testing::Values(EndCase { "EndLf", EndKillsPort, "state=end-lf", true },
                                           EndCase { "EndCrLf", EndKillsPort + 1, "state=end-crlf", false }),
                         [](const testing::TestParamInfo<EndCase>& info) { return std::string(info.param.name); });

TEST_F(DaemonControllerFixture, ConnectedDaemonIsReportedConnected)
{
    ASSERT_NO_FATAL_FAILURE(startListening(KeptPort, {}));
    EXPECT_TRUE(controller->isVpnConnected());
    EXPECT_TRUE(controller->isVpnConnected());
    EXPECT_EQ(recordCount("connected"), 1u);
}

// A daemon that ended by itself is not asked anything, and its handle goes with the kill.
TEST_F(DaemonControllerFixture, DeadDaemonIsNotQueried)
{
    ASSERT_NO_FATAL_FAILURE(startListening(DeadDaemonPort, { "exit-after=300" }));
    ASSERT_TRUE(eventually([] { return recorded("exit: after 300 ms"); }));
    ASSERT_TRUE(eventually([this] { return !controller->isDaemonAlive(); }));
    EXPECT_FALSE(controller->isVpnConnected());
    EXPECT_EQ(recordCount("connected"), 0u);
    EXPECT_FALSE(logged("Connecting controlling socket..."));
    EXPECT_TRUE(controller->killOVPN());
    EXPECT_TRUE(logged("Terminated ok"));
}

// The watchdog, the HTTP thread and the pipe threads ask at once: each gets its own answer.
TEST_F(DaemonControllerFixture, ConcurrentQueriesEachGetTheirOwnAnswer)
{
    ASSERT_NO_FATAL_FAILURE(startListening(SerialisedPort, { "state-delay=40" }));
    const int rounds = 12;
    auto asker = [this] {
        int connected = 0;
        for (int i = 0; i < rounds; ++i)
            connected += controller->isVpnConnected() ? 1 : 0;
        return connected;
    };
    std::future<int> first = std::async(std::launch::async, asker);
    std::future<int> second = std::async(std::launch::async, asker);
    const int third = asker();
    EXPECT_EQ(first.get(), rounds);
    EXPECT_EQ(second.get(), rounds);
    EXPECT_EQ(third, rounds);
    EXPECT_EQ(recordCount("connected"), 1u);
    EXPECT_EQ(recordCount(StateReceived), 3u * rounds);
}

TEST_F(DaemonControllerFixture, SecondStartWhileOneRunsIsDropped)
{
    writeConfiguration(L"server", directives({}));
    controller->setManagementPort(ConcurrentPort);
    {
        const HeldElsewhere starting(startOvpnMutex);
        controller->startOVPN(L"server");
    }

    EXPECT_TRUE(logged(infoLine("Concurrent call of  OpenVpnStateController::startOVPN  ignored"))) << logText();
    EXPECT_FALSE(controller->isDaemonAlive());
    EXPECT_FALSE(fileExists(OvpnConfigFolder::file(L"test-daemon.record")));
    EXPECT_FALSE(logged("Launched"));
}

TEST_F(DaemonControllerFixture, StopAsksTheDaemonToEndFirst)
{
    ASSERT_NO_FATAL_FAILURE(startListening(PoliteStopPort, {}));
    EXPECT_TRUE(controller->stopOVPN());
    EXPECT_FALSE(controller->isDaemonAlive());
    EXPECT_TRUE(recorded(SigtermReceived));
    EXPECT_TRUE(recorded("exit: signal SIGTERM"));
    EXPECT_TRUE(logged(infoLine("OpenVpnStateController::stopOVPN Connected, sending stop command")));
    EXPECT_TRUE(logged(infoLine("OpenVpnStateController::stopOVPN succeeded")));
    EXPECT_FALSE(controller->isManagementConnected());
}

// The wait for its exit gives up after a while, and the kill ends it.
TEST_F(DaemonControllerFixture, StopKillsADaemonThatIgnoresSigterm)
{
    ASSERT_NO_FATAL_FAILURE(startListening(IgnoredSigtermPort, { "sigterm=ignore" }));
    EXPECT_TRUE(controller->stopOVPN());
    EXPECT_FALSE(controller->isDaemonAlive());
    EXPECT_TRUE(recorded(SigtermReceived));
    EXPECT_EQ(recordCountStarting("exit:"), 0u);
    EXPECT_GT(recordCount(StateReceived), 2u);
    EXPECT_TRUE(logged("OpenVpnStateController::ConnectionChecker::waitForDaemonExit the daemon still answers"));
    EXPECT_TRUE(logged(infoLine("OpenVpnStateController::killOVPN Terminating process")));
    EXPECT_TRUE(logged(infoLine("OpenVpnStateController::stopOVPN succeeded")));
}

TEST_F(DaemonControllerFixture, StopWithoutAnAnswerGoesStraightToTheKill)
{
    startDaemon(SilentStopPort, directives({ "listen-delay=never" }));
    ASSERT_TRUE(eventually([] { return !record().empty(); }));
    EXPECT_TRUE(controller->stopOVPN());
    EXPECT_FALSE(controller->isDaemonAlive());
    EXPECT_EQ(recordCountStarting("received:"), 0u);
    EXPECT_FALSE(logged("sending stop command"));
    EXPECT_TRUE(logged(infoLine("OpenVpnStateController::killOVPN Terminating process")));
}

TEST_F(DaemonControllerFixture, NothingToKillIsSuccessAndSilent)
{
    EXPECT_TRUE(controller->killOVPN());
    EXPECT_EQ(lines(), std::vector<std::string> {});
    controller->setManagementPort(SilentStopPort);
    EXPECT_TRUE(controller->stopOVPN());
    EXPECT_TRUE(logged(infoLine("OpenVpnStateController::stopOVPN succeeded")));
}

// Without a daemon of its own the controller does not talk to whatever listens on its port.
TEST_F(DaemonControllerFixture, StopLeavesAForeignProgramOnThePortAlone)
{
    writeConfiguration(L"server", directives({}));
    RunningProgram foreign(foreignDaemon(ForeignPort));
    ASSERT_NO_FATAL_FAILURE(waitForListening(ForeignPort));
    controller->setManagementPort(ForeignPort);
    EXPECT_TRUE(controller->stopOVPN());
    EXPECT_FALSE(recorded("connected"));
    EXPECT_TRUE(foreign.running());
}

// Every openvelorn.exe goes, also one this controller did not start.
TEST_F(DaemonControllerFixture, SweepEndsEveryDaemon)
{
    writeConfiguration(L"server", directives({}));
    RunningProgram first(foreignDaemon(SweepPort)), second(foreignDaemon(SweepPort + 1));
    ASSERT_TRUE(first.started());
    ASSERT_TRUE(second.started());
    ASSERT_TRUE(eventually([] { return recordCountStarting("listening:") == 2; }));

    OpenVpnStateController::killAllDaemons();
    EXPECT_TRUE(first.waitForExit(Patience));
    EXPECT_TRUE(second.waitForExit(Patience));
}

TEST_F(DaemonControllerFixture, StartRefusesANameThatIsNoServerId)
{
    for (const wchar_t* name : { L"..\\..\\x", L"a b", L"x --up evil.sh", L".hidden", L"a\"b" }) {
        controller->setManagementPort(KeptPort);
        controller->startOVPN(name);
        EXPECT_FALSE(controller->isDaemonAlive()) << narrow(name);
    }
    EXPECT_FALSE(logged("Launched"));
    EXPECT_FALSE(fileExists(OvpnConfigFolder::file(L"test-daemon.record")));
    EXPECT_TRUE(logged(errorLine("OpenVpnStateController::startOVPN refused a configuration name that is no server id: a b")));
}

// Windows Sockets switched off in the whole process for as long as it lives, as after a failed
// WSAStartup; its end starts them again as often as it stopped them.
class SocketsStopped {
public:
    SocketsStopped()
    {
        while (UniqueSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)) && WSACleanup() == 0)
            ++stopped_;
    }
    ~SocketsStopped()
    {
        WSADATA data;
        for (; stopped_ > 0; --stopped_)
            WSAStartup(MAKEWORD(2, 2), &data);
    }
    SocketsStopped(const SocketsStopped&) = delete;
    SocketsStopped& operator=(const SocketsStopped&) = delete;

    static bool noSocketCanBeMade() { return !UniqueSocket(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)); }

private:
    int stopped_ = 0;
};

// Every port would look busy: the start gives up at once instead of searching for ever.
TEST_F(DaemonControllerFixture, WithoutSocketsTheStartFailsAndStartsNothing)
{
    writeConfiguration(L"server", directives({}));
    controller->setManagementPort(NoSocketsPort);
    {
        const SocketsStopped stopped;
        ASSERT_TRUE(SocketsStopped::noSocketCanBeMade());
        controller->startOVPN(L"server");
    }
    EXPECT_FALSE(controller->isDaemonAlive());
    EXPECT_FALSE(logged("Launched"));
    EXPECT_EQ(controller->managementPort(), NoSocketsPort);
    EXPECT_TRUE(logged(errorLine("OpenVpnStateController::ConnectionChecker::updateVpnPort no socket can be made, error 10093")));
    EXPECT_TRUE(logged(errorLine("OpenVpnStateController::startOVPN no management port to be had: the daemon is not started")));
    // With sockets back, the same start goes ahead.
    controller->startOVPN(L"server");
    EXPECT_TRUE(controller->isDaemonAlive());
}

class PortSearch : public SettingsLogFixture {
protected:
    void SetUp() override
    {
        SettingsLogFixture::SetUp();
        checker.initSockets();
        ASSERT_TRUE(checker.socketsReady());
    }

    bool logged(const std::string& text) const { return logText().find(text) != std::string::npos; }

    ConnectionChecker checker;
};

TEST_F(PortSearch, BusyPortsArePassedOverUpward)
{
    const UniqueSocket first = holdPort(BusyPort), second = holdPort(BusyPort + 1);
    checker.setPort(BusyPort);
    checker.updateVpnPort();
    EXPECT_EQ(checker.port(), BusyPort + 2);
    EXPECT_TRUE(logged("OpenVpnStateController::ConnectionChecker::updateVpnPort Operation port is  "
                       + std::to_string(BusyPort + 2)));
}

// The chosen port stays for later starts while it is free.
TEST_F(PortSearch, AFreePortIsKept)
{
    checker.setPort(BusyPort + 5);
    checker.updateVpnPort();
    checker.updateVpnPort();
    EXPECT_EQ(checker.port(), BusyPort + 5);
}

TEST_F(PortSearch, BusyHighestPortWrapsTo1024)
{
    const UniqueSocket highest = holdPort(65535);
    checker.setPort(65535);
    checker.updateVpnPort();
    EXPECT_EQ(checker.port(), 1024);
}

// A hundred busy ports in a row end the search, and the port stays where it was.
TEST_F(PortSearch, AHundredBusyPortsInARowEndTheSearch)
{
    std::vector<UniqueSocket> held;
    for (int port = CrowdedPorts; port < CrowdedPorts + 100; ++port)
        held.push_back(holdPort(port));
    checker.setPort(CrowdedPorts);
    EXPECT_FALSE(checker.updateVpnPort());
    EXPECT_EQ(checker.port(), CrowdedPorts);
    EXPECT_TRUE(logged("OpenVpnStateController::ConnectionChecker::updateVpnPort none of 100 ports from "
                       + std::to_string(CrowdedPorts) + " is free"));
    // One more free one at the end of the row is found.
    held.pop_back();
    EXPECT_TRUE(checker.updateVpnPort());
    EXPECT_EQ(checker.port(), CrowdedPorts + 99);
}

// 5555 may be taken by another test run on this machine: then a later free one.
TEST_F(PortSearch, NoPortMeans5555OrTheNextFree)
{
    checker.setPort(0);
    checker.updateVpnPort();
    EXPECT_GE(checker.port(), 5555);
    EXPECT_LT(checker.port(), 5555 + 1000);
    EXPECT_TRUE(checkPort("127.0.0.1", checker.port()));
}
