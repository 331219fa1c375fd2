// The pipe server in process, over recorded service operations, fed random, damaged and lying
// frames. In the one-client run every array ends at an inaccessible page (GuardedArrays.cpp): a
// frame that fills a fresh connection's buffer to the byte leaves nothing readable after its last
// byte. The side-by-side run takes its arrays from the heap, where many threads do not queue.
#include "DuplexPipe.h"
#include "FuzzRun.h"
#include "GuardedArrays.h"
#include "PipeFrames.h"

#include "FakeServiceOperations.h"
#include "PipeTestClient.h"
#include "SettingsStoreFixture.h"

#include "pipe/ServerPool.h"

#include "PipeMessage.h"

#include <tlhelp32.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

namespace {

constexpr unsigned DefaultCases = 1500;
constexpr unsigned DefaultParallelCases = 2000;
constexpr DWORD ConnectWithinMs = 30000;
constexpr DWORD WriteWithinMs = 10000;
constexpr DWORD ReplyWithinMs = 10000;
// Every eighth case fills a fresh connection's buffer to the byte.
constexpr unsigned EdgeEvery = 8;

// The servers list answers with the current case's own text, so that the answer to a request
// sent after a batch shows that the batch was read through to its end.
class SentinelOperations : public FakeServiceOperations {
public:
    using FakeServiceOperations::FakeServiceOperations;

    RemoteServerResponse requestServersList() override
    {
        FakeServiceOperations::requestServersList();
        std::lock_guard<std::mutex> lock(sentinelMutex);
        return RemoteServerResponse { 200, "OK", sentinel };
    }
    void setSentinel(const std::wstring& text)
    {
        std::lock_guard<std::mutex> lock(sentinelMutex);
        sentinel = text;
    }

private:
    std::mutex sentinelMutex;
    std::wstring sentinel;
};

std::string describe(unsigned number, const PipeBatch& batch)
{
    return "case " + std::to_string(number) + ", " + batch.kind + ": " + hexDump(batch.stream(), 65536);
}

// Sends the batch on a connection of its own. With a sentinel, a batch of whole frames is followed
// by a servers-list request, whose answer (the sentinel) must come after at most one reply per
// frame. Empty when the server did all it must, else what it did not.
std::string servedBatch(const std::wstring& pipeName, const PipeBatch& batch, const std::wstring* sentinel)
{
    DuplexPipe client(pipeName, ConnectWithinMs);
    if (!client.connected())
        return "no connection to the pipe";
    DuplexPipe::Written written = DuplexPipe::Written::All;
    for (const Bytes& write : batch.writes) {
        written = client.write(write, WriteWithinMs);
        if (written != DuplexPipe::Written::All)
            break;
    }
    // The server may end a connection whose frames it cannot take, but never stops reading one.
    if (written == DuplexPipe::Written::TimedOut)
        return "the server stopped reading";
    if (!batch.framed || sentinel == nullptr)
        return std::string();

    if (written != DuplexPipe::Written::All ||
        client.write(request(CMD_GET_SERVERS_LIST), WriteWithinMs) != DuplexPipe::Written::All)
        return "the server ended a connection that kept to the frames";
    const Bytes sentinelReply = stringReply(*sentinel);
    const auto sentinelAt = [&sentinelReply](const Bytes& stream) {
        const std::vector<Bytes> frames = wholeFrames(stream);
        return static_cast<size_t>(std::find(frames.begin(), frames.end(), sentinelReply) - frames.begin());
    };
    if (!client.readUntil([&](const Bytes& stream) { return sentinelAt(stream) < wholeFrames(stream).size(); },
                          ReplyWithinMs))
        return "no reply to the request after the batch; received " + hexDump(client.received());
    if (sentinelAt(client.received()) > batch.frames)
        return "more replies than requests: " + hexDump(client.received());
    return std::string();
}

unsigned threadsOfThisProcess()
{
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot)
        return 0;
    unsigned count = 0;
    THREADENTRY32 entry {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    return count;
}

// A new client asks the VPN state; empty when the answer is the fake's 3.
std::string vpnStateServed(const std::wstring& pipeName)
{
    PipeConnection probe(pipeName, ConnectWithinMs);
    if (!probe.connected())
        return "no connection to the pipe";
    const std::string state = shown(probe.ask(request(CMD_GET_VPN_STATE)));
    return state == "03" ? std::string() : "the VPN state came as " + state;
}

} // namespace

class PipeFuzz : public SettingsStoreFixture {
protected:
    // Whether the arrays of the test, the server's buffers among them, end at a guard page.
    virtual bool guardArrays() const { return false; }

    void SetUp() override
    {
        SettingsStoreFixture::SetUp();
        // Before the pool makes its first waiting server, whose buffer serves the first client.
        if (guardArrays())
            guard.emplace();
        operations = std::make_unique<SentinelOperations>(store.path());
        pool = std::make_unique<ServerPool>(pipeName, operations.get());
        acceptor = std::thread([this] { pool->acceptLoop(); });
    }
    void TearDown() override
    {
        pool->Close();
        acceptor.join();
        pool.reset();
        operations.reset();
        guard.reset();
        SettingsStoreFixture::TearDown();
    }

    bool poolBecomesActive()
    {
        for (int i = 0; i < 3000; ++i) {
            if (pool->isActive())
                return true;
            Sleep(10);
        }
        return false;
    }

    size_t countLinesBeginning(const std::string& prefix) const
    {
        size_t count = 0;
        for (const std::string& line : rawLogLines())
            count += line.compare(0, prefix.size(), prefix) == 0;
        return count;
    }

    std::optional<GuardedArrays> guard;
    const std::wstring pipeName = uniquePipeName(L"fuzz");
    std::unique_ptr<SentinelOperations> operations;
    std::unique_ptr<ServerPool> pool;
    std::thread acceptor;
};

class GuardedPipeFuzz : public PipeFuzz {
protected:
    bool guardArrays() const override { return true; }
};

TEST_F(GuardedPipeFuzz, AnArrayEndsRightBeforeAnInaccessiblePage)
{
    const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[PipeMessage::InitialCapacity]);
    EXPECT_FALSE(IsBadReadPtr(block.get(), PipeMessage::InitialCapacity));
    EXPECT_TRUE(IsBadReadPtr(block.get() + PipeMessage::InitialCapacity, 1));
}

TEST_F(GuardedPipeFuzz, DamagedAndLyingFramesNeitherStopNorDerailTheServer)
{
    const FuzzRun run = fuzzRun("pipe server in process", DefaultCases);
    ASSERT_TRUE(poolBecomesActive());
    const unsigned long arraysBefore = GuardedArrays::count();
    unsigned edgeFrames = 0;
    unsigned followedBatches = 0;
    std::set<std::wstring> operationNames;

    for (unsigned number = 0; number < run.count; ++number) {
        Random random(run.seed, number);
        const bool edge = number % EdgeEvery == 0;
        const PipeBatch batch =
            edge ? makeEdgeBatch(random, PipeMessage::InitialCapacity) : makePipeBatch(random, PipeProfile {});
        const std::string description = describe(number, batch);
        noteCase("fuzz_pipe_test.case.txt", description);
        SCOPED_TRACE(description);
        const std::wstring sentinel = L"sentinel of case " + std::to_wstring(number);
        operations->setSentinel(sentinel);

        ASSERT_EQ(servedBatch(pipeName, batch, &sentinel), "");
        followedBatches += batch.framed;
        edgeFrames += edge;
        // Whatever the last client did, the next one is served.
        ASSERT_EQ(vpnStateServed(pipeName), "");

        // The fake records every call under one lock; a record that only grows would slow the
        // server's threads down more and more.
        for (const std::wstring& call : operations->operationCalls())
            operationNames.insert(call.substr(0, call.find(L'(')));
        operations->forgetCalls();
    }

    EXPECT_TRUE(pool->isActive());
    // The run reached what it is meant to: buffers that end at a guard page, requests the server
    // could not read, and the commands themselves.
    EXPECT_GE(GuardedArrays::count() - arraysBefore, run.count);
    EXPECT_GT(edgeFrames, 0u);
    EXPECT_GT(followedBatches, 0u);
    EXPECT_GT(countLinesBeginning("Malformed request ignored, server_id="), 0u);
    EXPECT_GE(operationNames.size(), 8u);
}

// Clients side by side, each with its own batches: what one connection does to the settings and
// the pool must not stop or take down another. The pool gives every connection a thread of its
// own; under Wine, clients that connect as fast as they can make those threads pile up faster than
// they end, until no more can be made and the pool turns connections away, so the clients wait
// while many are still there.
TEST_F(PipeFuzz, DamagedFramesOnSeveralConnectionsAtOnce)
{
    constexpr unsigned Clients = 4;
    constexpr unsigned ManyThreads = 64;
    const FuzzRun run = fuzzRun("pipe server in process, clients side by side", DefaultParallelCases);
    ASSERT_TRUE(poolBecomesActive());
    std::mutex failuresMutex;
    std::vector<std::string> failures;
    std::vector<std::thread> clients;
    for (unsigned client = 0; client < Clients; ++client) {
        clients.emplace_back([&, client] {
            for (unsigned number = client; number < run.count; number += Clients) {
                // A look at the threads takes a while under Wine: every eighth case of a client.
                for (int i = 0; i < 1000 && number % (8 * Clients) < Clients && threadsOfThisProcess() > ManyThreads; ++i)
                    Sleep(10);
                Random random(run.seed, number, 1);
                const PipeBatch batch = makePipeBatch(random, PipeProfile {});
                noteCase(("fuzz_pipe_test.client" + std::to_string(client) + ".case.txt").c_str(),
                         describe(number, batch));
                std::string failure = servedBatch(pipeName, batch, nullptr);
                if (failure.empty())
                    failure = vpnStateServed(pipeName);
                if (!failure.empty()) {
                    const std::lock_guard<std::mutex> lock(failuresMutex);
                    failures.push_back(describe(number, batch) + ": " + failure);
                    return;
                }
                if (client == 0)
                    operations->forgetCalls();
            }
        });
    }
    for (std::thread& client : clients)
        client.join();
    for (const std::string& failure : failures)
        ADD_FAILURE() << failure;
    EXPECT_TRUE(pool->isActive());
}
