// The pipe server pool: connections, requests it cannot read, and closing it in every state.
#include "PipeServerFixture.h"

#include "ChildProcess.h"

#include "pipe/PipeClientLaunch.h"

#include "PipeMessage.h"

#include <chrono>
#include <future>
#include <thread>

namespace {

struct MalformedCase {
    const char* what;
    Bytes bytes;
};

} // namespace

class ServerPoolTest : public PipeServerFixture {};

TEST_F(ServerPoolTest, AClientThatLeavesWithoutARequestEndsItsConnectionInOrder)
{
    {
        PipeConnection client(pipeName);
        ASSERT_TRUE(client.connected());
        ASSERT_TRUE(logGets("Server connected"));
    }
    ASSERT_TRUE(logGets("End of communicate"));
    EXPECT_TRUE(logHasInOrder({ "Server created", "Waiting for client connection server_id= 0", "Server connected",
                                "Client connected, server_id= 0", "Client disconnected", "Closing section",
                                "End of communicate" }));
    const std::vector<std::wstring> calls = operations->calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), L"saveUserAndMainSettings()"), 1);
    EXPECT_TRUE(operations->operationCalls().empty());
}

TEST_F(ServerPoolTest, ConnectionsAreServedOneAfterAnotherAndAtTheSameTime)
{
    ASSERT_TRUE(poolBecomesActive());
    std::vector<std::unique_ptr<PipeConnection>> clients;
    for (int i = 0; i < 4; ++i) {
        clients.push_back(std::make_unique<PipeConnection>(pipeName));
        ASSERT_TRUE(clients.back()->connected()) << i;
    }
    for (int i = 3; i >= 0; --i) {
        operations->vpnState = i;
        EXPECT_EQ(shown(clients[i]->ask(request(CMD_GET_VPN_STATE))), hex({ static_cast<std::uint8_t>(i) })) << i;
    }
    clients.clear();
    PipeConnection later(pipeName);
    EXPECT_EQ(shown(later.ask(request(CMD_GET_VPN_STATE))), "00");
    EXPECT_TRUE(pool->isActive());
}

class MalformedRequest : public ServerPoolTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedRequest, IsIgnoredAndTheConnectionGoesOn)
{
    PipeConnection client(pipeName);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(GetParam().bytes));
    EXPECT_EQ(shown(client.ask(request(CMD_GET_VPN_STATE))), "03");
    EXPECT_EQ(operations->operationCalls(), std::vector<std::wstring> { L"getVpnState()" });
    EXPECT_EQ(countLinesBeginning("Malformed request ignored, server_id= 0 code"), 1u);
    EXPECT_FALSE(general().hasValue(L"Browser"));
}

INSTANTIATE_TEST_SUITE_P(ServerPool, MalformedRequest, ::testing::Values(
    MalformedCase { "empty payload", frame({}) },
    MalformedCase { "string past the frame", frame(Bytes { CMD_GET_SETTING } + littleEndian32(100) + utf16(L"ab")) },
    MalformedCase { "string count cut short", frame(Bytes { CMD_GET_SETTING, 0x04, 0x00 }) },
    MalformedCase { "no field at all", frame(Bytes { CMD_SET_SETTING }) },
    MalformedCase { "absent name", frame(Bytes { CMD_GET_SETTING } + AbsentField) },
    MalformedCase { "absent value", frame(Bytes { CMD_SET_SETTING } + stringField(L"Browser.x") + AbsentField) },
    MalformedCase { "value past the frame", frame(Bytes { CMD_SET_SETTING } + stringField(L"Browser.x") + littleEndian32(0xFFFFFFF0)) },
    MalformedCase { "connect without a server", frame(Bytes { CMD_CONNECT_TO_SERVER }) },
    MalformedCase { "launch with an absent command line", frame(Bytes { CMD_LAUNCH_APP } + AbsentField) }),
    [](const ::testing::TestParamInfo<MalformedCase>& info) {
        std::string name;
        for (const char* c = info.param.what; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name;
    });

TEST_F(ServerPoolTest, AFrameTooLongToTakeEndsTheConnectionAndThePoolGoesOn)
{
    PipeConnection client(pipeName);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(littleEndian32(PipeMessage::MaxPayloadSize + 1) + Bytes { CMD_GET_VPN_STATE }));
    EXPECT_TRUE(client.endedByServer());
    ASSERT_TRUE(logGets("End of communicate"));
    EXPECT_TRUE(logHasInOrder({ "Client connected, server_id= 0", "Client disconnected", "Closing section" }));
    EXPECT_TRUE(operations->operationCalls().empty());

    PipeConnection next(pipeName);
    EXPECT_EQ(shown(next.ask(request(CMD_GET_VPN_STATE))), "03");
}

TEST_F(ServerPoolTest, ClosingWhileNoClientIsConnectedEndsTheAcceptLoop)
{
    ASSERT_TRUE(poolBecomesActive());
    closePool();
    EXPECT_FALSE(pool->isActive());
    EXPECT_TRUE(logHasInOrder({ "ServerPool::Close-- CLOSE ALL", "CommandsServer::Close, server_id= 0" }));
    EXPECT_EQ(countLines("Server connected"), 1u);
    EXPECT_EQ(countLines("Finish Pool Thread:"), 1u);
    EXPECT_EQ(countLines("ServerPool::Close-- DONE."), 1u);
    EXPECT_EQ(countLinesBeginning("Client connected, server_id="), 0u);
    EXPECT_EQ(countLines("Fake client not connected"), 0u);

    // No instance is left to connect to.
    EXPECT_EQ(CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
}

TEST_F(ServerPoolTest, ClosingWhileAClientBlocksInAReadCancelsItAndWaitsForItsThread)
{
    PipeConnection client(pipeName);
    ASSERT_EQ(shown(client.ask(request(CMD_SET_USER, { L"S-1-5-21-7-7-7-1001" }) + request(CMD_GET_VPN_STATE))), "03");
    operations->forgetCalls();
    // The client thread now waits for the next request.
    closePool();
    EXPECT_TRUE(logHasInOrder({ "ServerPool::Close-- CLOSE ALL", "CommandsServer::Close, server_id= 0",
                                "Canceling IO on server", "Client disconnected", "Closing section",
                                "End of communicate", "thread closed server_id=  0", "ServerPool::Close-- DONE." }));
    EXPECT_EQ(operations->calls(), std::vector<std::wstring> { L"saveUserAndMainSettings(S-1-5-21-7-7-7-1001)" });
    EXPECT_TRUE(client.endedByServer());
    EXPECT_FALSE(client.send(request(CMD_GET_VPN_STATE)));
}

// A request whose operation does not end (stuck in the service) holds the close up for a bounded
// time only; its thread is left running, and its server stays until the thread ends.
TEST_F(ServerPoolTest, ClosingWhileARequestDoesNotEndLeavesItsThreadAfterItsBound)
{
    const UniqueHandle release(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    const UniqueHandle entered(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    operations->operationFailure = [&](const std::wstring& operation) {
        if (operation != L"requestServersList")
            return;
        SetEvent(entered.get());
        WaitForSingleObject(release.get(), 120000);
    };
    PipeConnection client(pipeName);
    ASSERT_TRUE(client.send(request(CMD_GET_SERVERS_LIST)));
    ASSERT_EQ(WaitForSingleObject(entered.get(), 30000), WAIT_OBJECT_0);

    std::promise<void> closed;
    std::future<void> closing = closed.get_future();
    std::thread closer([&] {
        pool->Close();
        closed.set_value();
    });
    const bool closedInTime = closing.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    SetEvent(release.get());
    closer.join();
    acceptor.join();
    operations->operationFailure = nullptr;

    EXPECT_TRUE(closedInTime);
    EXPECT_TRUE(logHasInOrder({ "ServerPool::Close-- CLOSE ALL", "CommandsServer::Close, server_id= 0",
                                "ServerPool::Close the client thread of server_id= 0 did not end within 5 s: left running",
                                "ServerPool::Close-- DONE." }));
    // Released, the request ends, and its connection with it; the pool's end finds nothing running.
    EXPECT_TRUE(logGets("End of communicate"));
    pool.reset();
    EXPECT_EQ(countLines("ServerPool::~ServerPool the client thread of server_id= 0 still runs: its server is not "
                         "destroyed"),
              0u);
    EXPECT_TRUE(logGets("Destructor, server_id= 0"));
}

// A client that never reads what it was sent: a reply that waits whole in the pipe, or one far
// larger than the pipe's buffer, in whose write the client thread then blocks.
class UnreadReply : public ServerPoolTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnreadReply, DoesNotHoldUpClosingThePool)
{
    const int settings = GetParam();
    for (int i = 0; i < settings; ++i)
        general().setValue(L"Big.setting" + std::to_wstring(i) + std::wstring(100, L'x'), L"v");
    PipeConnection client(pipeName);
    ASSERT_TRUE(client.send(request(CMD_LIST_SETTINGS, { L"Big" })));
    bool replyWaiting = false;
    for (int i = 0; i < 3000 && !replyWaiting; ++i) {
        DWORD available = 0;
        replyWaiting = PeekNamedPipe(client.handle(), nullptr, 0, nullptr, &available, nullptr) && available > 0;
        if (!replyWaiting)
            Sleep(10);
    }
    ASSERT_TRUE(replyWaiting);
    closePool();
    EXPECT_TRUE(logHasInOrder({ "Canceling IO on server", "Closing section", "End of communicate",
                                "thread closed server_id=  0", "ServerPool::Close-- DONE." }));
}

INSTANTIATE_TEST_SUITE_P(ServerPool, UnreadReply, ::testing::Values(1, 300));

TEST_F(ServerPoolTest, DestroyingAPoolThatWasNotClosedEndsItsThreadsFirst)
{
    PipeConnection client(pipeName);
    ASSERT_EQ(shown(client.ask(request(CMD_GET_VPN_STATE))), "03");
    pool.reset();
    acceptor.join();
    EXPECT_TRUE(logHasInOrder({ "ServerPool::Close-- CLOSE ALL", "Canceling IO on server", "End of communicate",
                                "ServerPool::Close-- DONE." }));
    EXPECT_EQ(countLines("Finish Pool Thread:"), 1u);
    EXPECT_EQ(countLines("ServerPool::~ServerPool: the accept loop did not end"), 0u);
}

TEST_F(ServerPoolTest, ALaunchedProgramRunsAsThePipeClientNotAsTheService)
{
    const std::wstring marker = store.file(L"launched.txt");
    PipeConnection client(pipeName);
    ASSERT_TRUE(client.send(request(CMD_LAUNCH_APP, { quoted(hostPath(NIMBAL_PROBE_CHILD_EXE)) + L" env USERNAME " + quoted(marker) })));
    EXPECT_EQ(shown(client.ask(request(CMD_GET_VPN_STATE))), "03");
    for (int i = 0; i < 3000 && !fileExists(marker); ++i)
        Sleep(10);
    EXPECT_TRUE(fileExists(marker));
    // The client here is not LocalSystem, so the service's own launch is not used.
    EXPECT_EQ(operations->operationCalls(), std::vector<std::wstring> { L"getVpnState()" });
    EXPECT_EQ(countLinesBeginning("CreateProcessAsUser Launched"), 1u);
}

TEST_F(ServerPoolTest, WithoutTheClientsIdentityNothingIsLaunched)
{
    EXPECT_FALSE(launchAsPipeClient(INVALID_HANDLE_VALUE, L"cmd.exe /c exit", *operations));
    EXPECT_TRUE(operations->operationCalls().empty());
    EXPECT_EQ(countLinesBeginning("CMD_LAUNCH_APP: the pipe client's identity cannot be taken, nothing started, error"), 1u);
    EXPECT_EQ(countLinesBeginning("CreateProcessAsUser"), 0u);
}
