// The library's pipe exports against a stand-in for the service's side of the command pipe, with
// the real service kept away from the pipe name.
#include "CallingThread.h"
#include "CmdApiLibrary.h"
#include "FakeServicePipe.h"
#include "ServiceFixture.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

// A string field: its byte count, then UTF-16LE units.
Bytes stringField(const std::string& ascii)
{
    Bytes field = littleEndian32(static_cast<std::uint32_t>(2 * ascii.size()));
    for (char c : ascii)
        field.insert(field.end(), { static_cast<std::uint8_t>(c), 0 });
    return field;
}

const Bytes StateRequest = { 0x01, 0x00, 0x00, 0x00, 0x0F };

std::vector<std::string> hexOf(const std::vector<Bytes>& connections)
{
    std::vector<std::string> texts;
    for (const Bytes& bytes : connections)
        texts.push_back(hex(bytes));
    return texts;
}

} // namespace

class LibraryOverPipe : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        // An installed service would take the pipe name once it runs.
        if (readService().installed)
            runServiceProgram(L"-remove");
    }

    void SetUp() override
    {
        ASSERT_FALSE(readService().installed);
        ASSERT_TRUE(server->holdsName()) << "something else serves \\\\.\\pipe\\NimbalPipe";
        ASSERT_NE(cmdApi().module, nullptr);
    }

    // Each connection's bytes once `frames` requests have come in altogether.
    std::vector<std::string> receivedAfter(size_t frames)
    {
        EXPECT_TRUE(server->waitForFrames(frames));
        return hexOf(server->received());
    }

    std::unique_ptr<FakeServicePipe> server = std::make_unique<FakeServicePipe>();
    CallingThread caller { [this] { if (server) server->dropConnections(); } };
};

TEST_F(LibraryOverPipe, LogOutRemovesTheFourAccountKeysInOrderAndWaitsForNoReply)
{
    const int state = caller.run([] {
        cmdApi().vpnUserLogOut();
        // Answered on the same connection: nothing of the log-out was left waiting for a reply.
        return cmdApi().getVpnState();
    });
    EXPECT_EQ(state, 3);

    const Bytes expected = frame(Bytes { 6 } + stringField("Hidden.VpnUser.login"))
        + frame(Bytes { 6 } + stringField("Hidden.VpnUser.password"))
        + frame(Bytes { 6 } + stringField("Hidden.VpnUser.token"))
        + frame(Bytes { 6 } + stringField("Hidden.VpnUser.rememberMe")) + StateRequest;
    EXPECT_EQ(receivedAfter(5), std::vector<std::string> { hex(expected) });
}

struct RequiredStateCase {
    const char* name;
    CmdApiLibrary::BoolCall CmdApiLibrary::*call;
    const char* text;
};

class RequiredState : public LibraryOverPipe, public ::testing::WithParamInterface<RequiredStateCase> {};

TEST_P(RequiredState, SendsCodeEightWithItsTextAndReportsTheWrite)
{
    const auto call = cmdApi().*GetParam().call;
    EXPECT_TRUE(caller.run(call));
    EXPECT_EQ(receivedAfter(1), std::vector<std::string> { hex(frame(Bytes { 8 } + stringField(GetParam().text))) });
}

INSTANTIATE_TEST_SUITE_P(CmdApi, RequiredState,
                         ::testing::Values(RequiredStateCase { "connectVPN", &CmdApiLibrary::connectVPN, "true" },
                                           RequiredStateCase { "disconnectVPN", &CmdApiLibrary::disconnectVPN, "false" }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LibraryOverPipe, ConnectFrameToTheByte)
{
    EXPECT_TRUE(caller.run(cmdApi().connectVPN));
    EXPECT_EQ(receivedAfter(1), std::vector<std::string> { "0D 00 00 00 08 08 00 00 00 74 00 72 00 75 00 65 00" });
}

struct StateReplyCase {
    const char* name;
    std::optional<Bytes> reply; // none: the service hangs up instead of answering
    int state;
};

class StateReply : public LibraryOverPipe, public ::testing::WithParamInterface<StateReplyCase> {};

TEST_P(StateReply, GetVpnStateReturnsTheRepliedByteUnchecked)
{
    server->answerStateRequestsWith(GetParam().reply);
    EXPECT_EQ(caller.run(cmdApi().getVpnState), GetParam().state);
    EXPECT_EQ(receivedAfter(1), std::vector<std::string> { hex(StateRequest) });
}

INSTANTIATE_TEST_SUITE_P(CmdApi, StateReply,
                         ::testing::Values(StateReplyCase { "NotConnected", Bytes { 0 }, 0 },
                                           StateReplyCase { "Disconnected", Bytes { 1 }, 1 },
                                           StateReplyCase { "Connecting", Bytes { 2 }, 2 },
                                           StateReplyCase { "Connected", Bytes { 3 }, 3 },
                                           StateReplyCase { "Seven", Bytes { 7 }, 7 },
                                           StateReplyCase { "ByteFF", Bytes { 0xFF }, 255 },
                                           StateReplyCase { "FirstOfTwoBytes", Bytes { 2, 9 }, 2 },
                                           StateReplyCase { "EmptyPayload", Bytes {}, 1 }),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LibraryOverPipe, EachThreadHasAConnectionOfItsOwn)
{
    server->answerStateRequestsWith(Bytes { 2 });
    CallingThread other { [this] { server->dropConnections(); } };
    // Both threads stay alive throughout, so neither can inherit the other's thread id.
    EXPECT_EQ(caller.run(cmdApi().getVpnState), 2);
    EXPECT_EQ(caller.run(cmdApi().getVpnState), 2);
    EXPECT_EQ(other.run(cmdApi().getVpnState), 2);
    EXPECT_TRUE(caller.run(cmdApi().disconnectVPN));

    const Bytes disconnect = frame(Bytes { 8 } + stringField("false"));
    EXPECT_EQ(receivedAfter(4), (std::vector<std::string> { hex(StateRequest + StateRequest + disconnect),
                                                            hex(StateRequest) }));
}

TEST_F(LibraryOverPipe, AThreadReachesTheServiceAgainAfterItsConnectionWasDropped)
{
    EXPECT_EQ(caller.run(cmdApi().getVpnState), 3);
    ASSERT_TRUE(server->waitForFrames(1));
    server->dropConnections();

    server->answerStateRequestsWith(Bytes { 0 });
    EXPECT_EQ(caller.run(cmdApi().getVpnState), 0);
    EXPECT_TRUE(caller.run(cmdApi().connectVPN));
    EXPECT_EQ(receivedAfter(3), (std::vector<std::string> { hex(StateRequest),
                                                            hex(StateRequest + frame(Bytes { 8 } + stringField("true"))) }));
}

TEST_F(LibraryOverPipe, AServiceThatGoesWithTheStateRequestTakenIsAskedOnceMoreOnANewConnection)
{
    server->hangUpOnNextStateRequests(1);
    server->answerStateRequestsWith(Bytes { 2 });
    EXPECT_EQ(caller.run(cmdApi().getVpnState), 2);
    EXPECT_EQ(receivedAfter(2), (std::vector<std::string> { hex(StateRequest), hex(StateRequest) }));
}

TEST_F(LibraryOverPipe, AStateRequestGoesTwiceAtMostWhenEveryConnectionIsHungUp)
{
    server->answerStateRequestsWith(std::nullopt);
    EXPECT_EQ(caller.run(cmdApi().getVpnState), 1);
    // The call has returned: nothing more is on its way.
    EXPECT_EQ(receivedAfter(2), (std::vector<std::string> { hex(StateRequest), hex(StateRequest) }));
}

// A write that fails on a connection whose service has gone, with a frame of it left unread.
class DeadConnection : public LibraryOverPipe {
protected:
    void SetUp() override
    {
        LibraryOverPipe::SetUp();
        server->dieAfterStateRepliesWith(Bytes { 9 });
        EXPECT_EQ(caller.run(cmdApi().getVpnState), 3);
        EXPECT_EQ(receivedAfter(1), std::vector<std::string> { hex(StateRequest) });
    }
};

TEST_F(DeadConnection, ConnectAndDisconnectGoOnANewConnectionWhileTheServiceTakesOne)
{
    EXPECT_TRUE(caller.run(cmdApi().connectVPN));
    EXPECT_TRUE(caller.run(cmdApi().disconnectVPN));
    EXPECT_EQ(receivedAfter(3), (std::vector<std::string> { hex(StateRequest),
                                                            hex(frame(Bytes { 8 } + stringField("true"))
                                                                + frame(Bytes { 8 } + stringField("false"))) }));
}

TEST_F(DeadConnection, ConnectAndDisconnectReportTheFailedWriteWhenTheServiceIsGoneForGood)
{
    server.reset();
    // Each call tries the pipe, then the service start, which fails: the service does not exist.
    EXPECT_FALSE(caller.run(cmdApi().connectVPN));
    EXPECT_FALSE(caller.run(cmdApi().disconnectVPN));
}

struct RestartCase {
    const char* name;
    std::string (*call)();
    const char* result;
    Bytes frames;
    size_t frameCount;
};

std::string boolText(bool value)
{
    return value ? "true" : "false";
}

class ServiceRestart : public LibraryOverPipe, public ::testing::WithParamInterface<RestartCase> {};

TEST_P(ServiceRestart, TheThreadsNextCallReachesTheServiceBackOnOneNewConnection)
{
    EXPECT_EQ(caller.run(cmdApi().getVpnState), 3);
    ASSERT_TRUE(server->waitForFrames(1));
    // The service stops, taking its pipe name with it, and starts again.
    server.reset();
    server = std::make_unique<FakeServicePipe>();
    ASSERT_TRUE(server->holdsName());

    EXPECT_EQ(caller.run(GetParam().call), GetParam().result);
    EXPECT_EQ(receivedAfter(GetParam().frameCount), std::vector<std::string> { hex(GetParam().frames) });
}

INSTANTIATE_TEST_SUITE_P(
    CmdApi, ServiceRestart,
    ::testing::Values(
        RestartCase { "getVpnState", [] { return std::to_string(cmdApi().getVpnState()); }, "3", StateRequest, 1 },
        RestartCase { "connectVPN", [] { return boolText(cmdApi().connectVPN()); }, "true",
                      frame(Bytes { 8 } + stringField("true")), 1 },
        RestartCase { "disconnectVPN", [] { return boolText(cmdApi().disconnectVPN()); }, "true",
                      frame(Bytes { 8 } + stringField("false")), 1 },
        RestartCase { "vpnUserLogOut",
                      [] {
                          cmdApi().vpnUserLogOut();
                          return std::string("done");
                      },
                      "done",
                      frame(Bytes { 6 } + stringField("Hidden.VpnUser.login"))
                          + frame(Bytes { 6 } + stringField("Hidden.VpnUser.password"))
                          + frame(Bytes { 6 } + stringField("Hidden.VpnUser.token"))
                          + frame(Bytes { 6 } + stringField("Hidden.VpnUser.rememberMe")),
                      4 }),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LibraryOverPipe, WithNeitherPipeNorServiceCallsFailUntilThePipeAppears)
{
    server.reset();
    // Each call tries the pipe, then the service start, which fails: the service does not exist.
    EXPECT_EQ(caller.run(cmdApi().getVpnState), 1);
    EXPECT_FALSE(caller.run(cmdApi().connectVPN));
    EXPECT_FALSE(caller.run(cmdApi().disconnectVPN));
    caller.run(cmdApi().vpnUserLogOut);

    server = std::make_unique<FakeServicePipe>();
    ASSERT_TRUE(server->holdsName());
    EXPECT_EQ(caller.run(cmdApi().getVpnState), 3);
    EXPECT_EQ(receivedAfter(1), std::vector<std::string> { hex(StateRequest) });
}

TEST(CmdApiExports, EachNameAndItsOrdinalGiveTheSameFunction)
{
    const HMODULE module = cmdApi().module;
    ASSERT_NE(module, nullptr);
    const char* const names[] = { "connectVPN",       "disconnectVPN",     "getVpnState", "isServiceInstalled",
                                  "isServiceRunning", "tryToStartService", "vpnUserLogOut" };
    for (WORD ordinal = 1; ordinal <= 7; ++ordinal) {
        const FARPROC byName = GetProcAddress(module, names[ordinal - 1]);
        EXPECT_NE(byName, nullptr) << names[ordinal - 1];
        EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(ordinal)), byName) << names[ordinal - 1];
    }
    EXPECT_EQ(GetProcAddress(module, MAKEINTRESOURCEA(8)), nullptr);
}
