// The test daemon, installed as OpenVPN\openvelorn.exe and started with the service's command
// line: its management conversation for each behaviour a configuration can choose, and its record.
#include "ChildProcess.h"
#include "ManagementClient.h"
#include "ManagementTexts.h"
#include "RunningProgram.h"
#include "StringHelpers.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace {

// Test-local management ports: each test takes its own.
const unsigned short ConversationPort = 27310;
const unsigned short FirstReplyPort = 27311;
const unsigned short LateReplyPort = 27320;
const unsigned short NoReplyPort = 27321;
const unsigned short SilentPort = 27322;
const unsigned short LateListenerPort = 27323;
const unsigned short NoListenerPort = 27324;
const unsigned short ExitAfterPort = 27325;
const unsigned short FaultPort = 27326;

const DWORD Patience = 20000;

const std::string Connected = "1796889814,CONNECTED,SUCCESS,,127.0.0.1,21194,127.0.0.1,21195\r\nEND\r\n";

// Longer than the 1024 bytes the service reads at a time.
std::string longReply()
{
    const std::string head = "1796889814,CONNECTED,SUCCESS,,127.0.0.1,21194,127.0.0.1,";
    const std::string tail = "\r\nEND\r\n";
    return head + std::string(1500 - head.size() - tail.size(), 'x') + tail;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        lines.push_back(line);
    return lines;
}

class TestDaemon : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr)); }

    // The daemon's command line as the service builds it.
    std::wstring commandLine(unsigned short port) const
    {
        return quoted(hostPath(NIMBAL_TEST_DAEMON_EXE)) + L" --cd \"" + folder_ + L"\" --config server.ovpn"
            + L" --log-append ovpn.log --verb 3 --management localhost " + std::to_wstring(port);
    }

    // Starts the daemon with a configuration that holds `directives`, one a line.
    std::unique_ptr<RunningProgram> start(unsigned short port, const std::vector<std::string>& directives = {},
                                          const std::wstring& extraArguments = L"")
    {
        std::string configuration = "dev null\n";
        for (const std::string& directive : directives)
            configuration += "# test-daemon: " + directive + "\n";
        writeWholeFile(file(L"server.ovpn"), configuration);
        auto daemon = std::make_unique<RunningProgram>(commandLine(port) + extraArguments);
        EXPECT_TRUE(daemon->started());
        return daemon;
    }


    std::string exchange(ManagementClient& client, const std::string& command, size_t replySize)
    {
        EXPECT_TRUE(client.send(command + "\r\n"));
        return client.readAtLeast(replySize, Patience);
    }

    std::vector<std::string> record() const { return linesOf(readWholeFile(file(L"test-daemon.record"))); }
    std::wstring file(const std::wstring& name) const { return folder_ + L"\\" + name; }

    TempFolder temp_;
    const std::wstring folder_ = temp_.path() + L"ovpn_config";
};

} // namespace

TEST_F(TestDaemon, AnswersAsOpenVpnDoesAndRecordsWhatItSaw)
{
    writeWholeFile(file(L"ovpn.log"), "earlier line\n");
    auto daemon = start(ConversationPort);
    ManagementClient client;
    ASSERT_EQ(client.connectForGreeting(ConversationPort, Patience), ManagementGreeting);
    EXPECT_EQ(exchange(client, "state", Connected.size()), Connected);
    EXPECT_EQ(exchange(client, "signal SIGTERM", SigtermThrown.size()), SigtermThrown);
    EXPECT_TRUE(client.waitForClose(Patience));
    ASSERT_TRUE(daemon->waitForExit(Patience));
    EXPECT_EQ(daemon->exitCode(), 0u);

    const std::vector<std::string> expected = {
        "start: " + toNarrowString(commandLine(ConversationPort)),
        "listening: 127.0.0.1:27310",
        "connected",
        "received: state\\r\\n",
        "received: signal SIGTERM\\r\\n",
        "exit: signal SIGTERM",
    };
    EXPECT_EQ(record(), expected);
    const std::string log = readWholeFile(file(L"ovpn.log"));
    EXPECT_EQ(log.rfind("earlier line\n", 0), 0u) << log;
    EXPECT_NE(log.find(" test daemon start: "), std::string::npos) << log;
}

struct ReplyCase {
    const char* name;
    unsigned short port;
    const char* directive;  // empty: the defaults
    const char* command;
    std::string reply;
};

class RepliesTo : public TestDaemon, public ::testing::WithParamInterface<ReplyCase> {};

// Each command is answered alike twice on one connection, and "state" is still answered after it.
TEST_P(RepliesTo, CommandsToTheByteAndKeepsTheConnection)
{
    const ReplyCase& c = GetParam();
    const std::string stateReply = std::string(c.command) == "state" ? c.reply : Connected;
    auto daemon = start(c.port, *c.directive ? std::vector<std::string> { c.directive } : std::vector<std::string> {});
    ManagementClient client;
    ASSERT_EQ(client.connectForGreeting(c.port, Patience), ManagementGreeting);
    EXPECT_EQ(exchange(client, c.command, c.reply.size()), c.reply);
    EXPECT_EQ(exchange(client, c.command, c.reply.size()), c.reply);
    EXPECT_EQ(exchange(client, "state", stateReply.size()), stateReply);
    EXPECT_TRUE(daemon->running());
}

INSTANTIATE_TEST_SUITE_P(
    Behaviours, RepliesTo,
    ::testing::Values(
        ReplyCase { "Connected", FirstReplyPort, "", "state", Connected },
        ReplyCase { "Connecting", FirstReplyPort + 1, "state=connecting", "state", "1796889814,CONNECTING,,,,,,\r\nEND\r\n" },
        ReplyCase { "ConnectedAlone", FirstReplyPort + 2, "state=connected-alone", "state", "CONNECTED\r\n" },
        ReplyCase { "EndLf", FirstReplyPort + 3, "state=end-lf", "state", "END\n" },
        ReplyCase { "EndCrLf", FirstReplyPort + 4, "state=end-crlf", "state", "END\r\n" },
        ReplyCase { "Long", FirstReplyPort + 5, "state=long", "state", longReply() },
        ReplyCase { "SigtermIgnored", FirstReplyPort + 6, "sigterm=ignore", "signal SIGTERM", SigtermThrown },
        ReplyCase { "UnknownCommand", FirstReplyPort + 7, "", "bogus",
                    "ERROR: unknown command, enter 'help' for more options\r\n" }),
    [](const testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST_F(TestDaemon, LateReplyComesAfterItsDelay)
{
    auto daemon = start(LateReplyPort, { "state-delay=1000" });
    ManagementClient client;
    ASSERT_EQ(client.connectForGreeting(LateReplyPort, Patience), ManagementGreeting);
    const ULONGLONG sent = GetTickCount64();
    ASSERT_TRUE(client.send("state\r\n"));
    EXPECT_EQ(client.readFor(300), "");
    EXPECT_EQ(client.readAtLeast(Connected.size(), Patience), Connected);
    EXPECT_GE(GetTickCount64() - sent, 950u);
}

// With no reply to "state", the first thing to come back is the reply to the next command.
TEST_F(TestDaemon, StateNoneLeavesStateUnanswered)
{
    auto daemon = start(NoReplyPort, { "state=none" });
    ManagementClient client;
    ASSERT_EQ(client.connectForGreeting(NoReplyPort, Patience), ManagementGreeting);
    ASSERT_TRUE(client.send("state\r\n"));
    EXPECT_EQ(exchange(client, "signal SIGTERM", SigtermThrown.size()), SigtermThrown);
    EXPECT_TRUE(client.waitForClose(Patience));
}

TEST_F(TestDaemon, SilentPortSendsNoGreeting)
{
    auto daemon = start(SilentPort, { "greeting=none" });
    ManagementClient client;
    ASSERT_TRUE(client.connectWithin(SilentPort, Patience));
    EXPECT_EQ(exchange(client, "state", Connected.size()), Connected);
}

TEST_F(TestDaemon, LateListenerOpensThePortAfterItsDelay)
{
    auto daemon = start(LateListenerPort, { "listen-delay=2000" });
    ManagementClient client;
    while (record().empty() && daemon->running() && daemon->age() < Patience)
        Sleep(50);
    const int firstAttempt = client.tryConnect(LateListenerPort);
    const std::vector<std::string> seenAfterIt = record();
    ASSERT_EQ(seenAfterIt.size(), 1u) << "the port opened before the first attempt";
    EXPECT_EQ(firstAttempt, WSAECONNREFUSED);

    ASSERT_EQ(client.connectForGreeting(LateListenerPort, Patience), ManagementGreeting);
    EXPECT_GE(daemon->age(), 2000u);
    EXPECT_EQ(record().at(1), "listening: 127.0.0.1:27323");
}

TEST_F(TestDaemon, NoListenerNeverOpensThePort)
{
    auto daemon = start(NoListenerPort, { "listen-delay=never", "exit-after=1500" });
    ManagementClient client;
    int attempts = 0;
    while (!daemon->waitForExit(0) && daemon->age() < Patience) {
        EXPECT_EQ(client.tryConnect(NoListenerPort), WSAECONNREFUSED);
        ++attempts;
        Sleep(100);
    }
    EXPECT_GT(attempts, 0);
    ASSERT_TRUE(daemon->waitForExit(0));
    EXPECT_EQ(daemon->exitCode(), 1u);
    const std::vector<std::string> expected = { "start: " + toNarrowString(commandLine(NoListenerPort)),
                                                "exit: after 1500 ms" };
    EXPECT_EQ(record(), expected);
}

TEST_F(TestDaemon, ExitAfterEndsTheDaemonAndItsConnection)
{
    auto daemon = start(ExitAfterPort, { "exit-after=1500" });
    ManagementClient client;
    ASSERT_EQ(client.connectForGreeting(ExitAfterPort, Patience), ManagementGreeting);
    EXPECT_TRUE(client.waitForClose(Patience));
    ASSERT_TRUE(daemon->waitForExit(Patience));
    EXPECT_EQ(daemon->exitCode(), 1u);
    EXPECT_GE(daemon->age(), 1500u);
    EXPECT_EQ(record().back(), "exit: after 1500 ms");
}

struct FaultCase {
    const char* name;
    const char* directive;
    const wchar_t* extraArguments;
    const char* error;
};

class FailsAtStart : public TestDaemon, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FailsAtStart, WithCodeOneAndTheReason)
{
    const FaultCase& c = GetParam();
    auto daemon = start(FaultPort, *c.directive ? std::vector<std::string> { c.directive } : std::vector<std::string> {},
                        c.extraArguments);
    ASSERT_TRUE(daemon->waitForExit(Patience));
    EXPECT_EQ(daemon->exitCode(), 1u);
    const std::vector<std::string> lines = record();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1], c.error);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FailsAtStart,
    ::testing::Values(
        FaultCase { "UnknownOption", "", L" --bogus",
                    "error: Options error: Unrecognized option or missing or extra parameter(s): --bogus" },
        FaultCase { "MissingParameter", "", L" --verb",
                    "error: Options error: Unrecognized option or missing or extra parameter(s): --verb" },
        FaultCase { "MissingConfiguration", "", L" --config missing.ovpn",
                    "error: Options error: In [CMD-LINE]:1: Error opening configuration file: missing.ovpn" },
        FaultCase { "UnknownDirective", "state=maybe", L"", "error: test-daemon: unknown directive: state=maybe" },
        FaultCase { "BadDelay", "state-delay=soon", L"",
                    "error: test-daemon: not a number of milliseconds: state-delay=soon" }),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });
