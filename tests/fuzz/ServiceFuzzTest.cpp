// The installed service fed random, damaged and lying frames on its pipe and random requests on its
// control server, case after case: after each, a new pipe client is told the VPN state, the control
// server answers the ping, and the service process is the one that started.
#include "DuplexPipe.h"
#include "FuzzRun.h"
#include "HttpRequests.h"
#include "PipeFrames.h"

#include "InstalledServiceFixture.h"
#include "PipeTestClient.h"

#include "CommandsClient.h"
#include "LoopbackHttp.h"

#include <winsock2.h>

#include <algorithm>
#include <map>
#include <set>

namespace {

constexpr unsigned DefaultCases = 150;
// The service answers the VPN state at once; a connect or a log upload on another connection may
// hold it for seconds.
constexpr DWORD PipeReplyWithinMs = 30000;
constexpr unsigned HttpWaitMs = 30000;
// A request whose reply is not foreseen may be one Wine waits on for more bytes, or one that a
// handler takes its time over; the ping after it shows whether the service still answers.
constexpr unsigned UnforeseenWaitMs = 3000;
// A request the service never saw (Wine closed its connection without a byte) is sent again.
constexpr int HttpAttempts = 3;
const std::vector<std::string> StateNames { "NOTCONNECTED", "DISCONNECTED", "CONNECTING", "CONNECTED" };

class WinsockUse {
public:
    WinsockUse()
    {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~WinsockUse()
    {
        if (started)
            WSACleanup();
    }
    bool started = false;
};

// The files of a folder when the test began; the ones that came later are removed at its end.
class NewFilesRemoved {
public:
    explicit NewFilesRemoved(std::wstring folder) : folder(std::move(folder)), before(names()) {}
    ~NewFilesRemoved()
    {
        for (const std::wstring& name : names())
            if (before.count(name) == 0)
                DeleteFileW((folder + L"\\" + name).c_str());
    }

private:
    std::set<std::wstring> names() const
    {
        std::set<std::wstring> found;
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE)
            return found;
        do {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                found.insert(entry.cFileName);
        } while (FindNextFileW(search, &entry));
        FindClose(search);
        return found;
    }

    const std::wstring folder;
    const std::set<std::wstring> before;
};

struct ServiceProcess {
    DWORD state = 0;
    DWORD processId = 0;
};

ServiceProcess serviceProcess()
{
    ServiceProcess process;
    const ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager)
        return process;
    const ScHandle service(OpenServiceW(manager.get(), L"Nimbal", SERVICE_QUERY_STATUS));
    if (!service)
        return process;
    SERVICE_STATUS_PROCESS status {};
    DWORD needed = 0;
    if (QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &needed)) {
        process.state = status.dwCurrentState;
        process.processId = status.dwProcessId;
    }
    return process;
}

std::string shownReply(const RawReply& reply)
{
    if (!reply.answered)
        return "<no whole reply> " + reply.raw.substr(0, 200);
    return std::to_string(reply.status) + " " + reply.reason + " [" + reply.body.substr(0, 200) + "]";
}

// A reply that the request decided, as the request decided it.
void expectForeseen(const HttpCase& c, const RawReply& reply)
{
    if (c.expect == HttpCase::Expect::Anything)
        return;
    ASSERT_TRUE(reply.answered) << shownReply(reply);
    EXPECT_TRUE(reply.fromService) << reply.headers;
    switch (c.expect) {
    case HttpCase::Expect::Exactly:
        EXPECT_EQ(reply.status, c.status) << shownReply(reply);
        EXPECT_EQ(reply.body, c.body) << shownReply(reply);
        break;
    case HttpCase::Expect::Status:
        EXPECT_EQ(reply.status, c.status) << shownReply(reply);
        break;
    case HttpCase::Expect::StateName:
        EXPECT_EQ(reply.status, 200) << shownReply(reply);
        EXPECT_NE(std::find(StateNames.begin(), StateNames.end(), reply.body), StateNames.end()) << shownReply(reply);
        break;
    case HttpCase::Expect::Anything:
        break;
    }
}

} // namespace

class ServiceFuzz : public InstalledService {
protected:
    void TearDown() override
    {
        InstalledService::TearDown();
        // What the run wrote into the settings: nothing of it is any other test's starting point.
        for (const wchar_t* pattern : { L"settings.params*", L"user.*.params*" }) {
            WIN32_FIND_DATAW entry;
            HANDLE search = FindFirstFileW((AppdataPath + pattern).c_str(), &entry);
            if (search == INVALID_HANDLE_VALUE)
                continue;
            do {
                DeleteFileW((AppdataPath + entry.cFileName).c_str());
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
    }

    // A new pipe client asks the VPN state: one byte, 0 to 3.
    void expectPipeServed()
    {
        PipeConnection probe(CommandsPipeName, PipeReplyWithinMs);
        ASSERT_TRUE(probe.connected());
        ASSERT_TRUE(probe.send(request(CMD_GET_VPN_STATE)));
        const std::optional<Bytes> state = probe.reply(PipeReplyWithinMs);
        ASSERT_TRUE(state);
        ASSERT_EQ(state->size(), 1u) << shown(state);
        EXPECT_LE((*state)[0], 3) << shown(state);
    }

    void expectServiceAlive(DWORD processId)
    {
        const ServiceProcess now = serviceProcess();
        EXPECT_EQ(now.state, static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(now.processId, processId) << "the service process is not the one that started";
    }

    // Sends the request, again on a new connection while Wine closes it without a byte of reply.
    RawReply exchange(unsigned short port, const HttpCase& c)
    {
        RawReply reply;
        for (int attempt = 0; attempt < HttpAttempts; ++attempt) {
            reply = rawExchange(port, c.request, c.expect == HttpCase::Expect::Anything ? UnforeseenWaitMs : HttpWaitMs);
            if (!reply.raw.empty() || c.expect == HttpCase::Expect::Anything)
                break;
        }
        return reply;
    }
};

TEST_F(ServiceFuzz, TheServiceKeepsServingItsPipeAndItsControlServer)
{
    const FuzzRun run = fuzzRun("installed service, pipe and control server", DefaultCases);
    const WinsockUse winsock;
    ASSERT_TRUE(winsock.started);
    const NewFilesRemoved vpnFiles(AppdataPath + L"ovpn_config");
    ASSERT_TRUE(logGets("Waiting for client connection server_id= 0"));
    const int port = httpPort();
    ASSERT_GT(port, 0);
    ASSERT_TRUE(logGets("Waiting for HTTP request"));
    const ServiceProcess started = serviceProcess();
    ASSERT_EQ(started.state, static_cast<DWORD>(SERVICE_RUNNING));
    ASSERT_NE(started.processId, 0u);

    // The ping on a connection kept open: Wine's server keeps serving those when new ones stall.
    LoopbackConnection liveness(static_cast<unsigned short>(port));
    const auto ping = [&liveness]() -> std::string {
        try {
            const HttpReply reply = liveness.request("POST", "/TYTUT");
            return std::to_string(reply.status) + " " + reply.body;
        } catch (const std::exception& error) {
            return error.what();
        }
    };
    const std::string pong = "200 GDEZHESCHIO!";
    ASSERT_EQ(ping(), pong);

    const PipeProfile profile { true };
    std::map<HttpCase::Expect, unsigned> foreseen;
    for (unsigned number = 0; number < run.count; ++number) {
        Random random(run.seed, number);
        const PipeBatch batch = makePipeBatch(random, profile);
        const HttpCase httpCase = makeHttpCase(random, static_cast<unsigned short>(port));
        const std::string description = "case " + std::to_string(number) + ", pipe: " + batch.kind + ": " +
                                        hexDump(batch.stream(), 65536) + "\nHTTP: " + httpCase.kind + ": " +
                                        hexDump(httpCase.request, 65536);
        noteCase("fuzz_service_test.case.txt", description);
        SCOPED_TRACE("case " + std::to_string(number) + ", pipe: " + batch.kind + ": " + hexDump(batch.stream()) +
                     "\nHTTP: " + httpCase.kind + ": " + httpCase.request.substr(0, 600));

        {
            DuplexPipe client(CommandsPipeName, PipeReplyWithinMs);
            ASSERT_TRUE(client.connected());
            for (const Bytes& write : batch.writes) {
                const DuplexPipe::Written written = client.write(write, PipeReplyWithinMs);
                ASSERT_NE(written, DuplexPipe::Written::TimedOut) << "the server stopped reading";
                if (written == DuplexPipe::Written::Ended)
                    break;
            }
        }
        expectPipeServed();
        if (HasFatalFailure())
            return;

        const RawReply reply = exchange(static_cast<unsigned short>(port), httpCase);
        if (reply.answered) {
            EXPECT_TRUE(reply.status >= 100 && reply.status <= 599) << shownReply(reply);
        }
        expectForeseen(httpCase, reply);
        ++foreseen[httpCase.expect];
        ASSERT_EQ(ping(), pong);

        if (number % 10 == 9)
            expectServiceAlive(started.processId);
        if (HasFatalFailure())
            return;
    }

    expectServiceAlive(started.processId);
    expectPipeServed();
    // A new connection is taken, too.
    HttpReply fresh;
    EXPECT_NO_THROW(fresh = loopbackHttp(static_cast<unsigned short>(port), "POST", "/TYTUT"));
    EXPECT_EQ(fresh.body, "GDEZHESCHIO!");

    // The run reached the requests it is meant for: frames the server could not read, handlers of
    // most URLs, and replies that the requests decided.
    size_t malformed = 0;
    std::set<std::string> handled;
    const std::string handlerLine = "LocalHttpServer: ";
    for (const std::string& line : logLines()) {
        malformed += line.rfind("Malformed request ignored, server_id=", 0) == 0;
        // Each handler's first line names it.
        if (line.rfind(handlerLine, 0) == 0)
            handled.insert(line);
    }
    std::printf("%u cases: replies foreseen exactly %u, by status %u, as a state %u; %zu handlers reached, "
                "%zu pipe requests the server could not read\n",
                run.count, foreseen[HttpCase::Expect::Exactly], foreseen[HttpCase::Expect::Status],
                foreseen[HttpCase::Expect::StateName], handled.size(), malformed);
    EXPECT_GT(malformed, 0u);
    EXPECT_GE(handled.size(), 15u);
    EXPECT_GT(foreseen[HttpCase::Expect::Exactly], 0u);
}
