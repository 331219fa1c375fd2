// The control server's request loop over real HTTP on loopback: verbs, URL matching, bodies,
// failures of handlers, and starting and stopping while requests run.
#include "HttpServerFixture.h"

#include "vpn/ServerId.h"

#include <future>
#include <stdexcept>
#include <vector>

using Calls = std::vector<std::string>;

namespace {

const std::string Base = "http://127.0.0.1:" + std::to_string(httpTestPort());

struct MethodCase {
    const char* method;
    int verb;  // the API's number of the verb
};

const MethodCase MethodCases[] = {
    { "GET", 4 },
    { "OPTIONS", 3 },
    { "PUT", 7 },
    { "DELETE", 8 },
};

class NonPostTest : public HttpServerFixture, public ::testing::WithParamInterface<MethodCase> {};

struct UnmatchedCase {
    const char* label;
    const char* target;
};

// Registered paths in forms that the handler map must not take for them.
const UnmatchedCase UnmatchedCases[] = {
    { "QueryString", "/TYTUT?x=1" },
    { "EmptyQueryString", "/vpn/get/state?" },
    { "TrailingSlash", "/TYTUT/" },
    { "TrailingSlashLongerPath", "/vpn/get/state/" },
    { "PathBelowAUrl", "/vpn/connect/now" },
};

class UnmatchedUrlTest : public HttpServerFixture, public ::testing::WithParamInterface<UnmatchedCase> {};

} // namespace

TEST_P(NonPostTest, IsAnsweredNotImplemented)
{
    const MethodCase& c = GetParam();
    const HttpReply reply = send(c.method, "/TYTUT");
    EXPECT_EQ(reply.status, 501);
    EXPECT_EQ(reply.reason, "Not Implemented");
    EXPECT_EQ(reply.body, "Got an unsupported request with non-POST method");
    EXPECT_EQ(countLines(errorLine({ "Got an unsupported request with method", std::to_string(c.verb) })), 1u);
    EXPECT_EQ(countLines("LocalHttpServer: Ping processing start"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Verbs, NonPostTest, ::testing::ValuesIn(MethodCases),
                         [](const ::testing::TestParamInfo<MethodCase>& info) { return info.param.method; });

TEST_P(UnmatchedUrlTest, FindsNoHandler)
{
    const UnmatchedCase& c = GetParam();
    const HttpReply reply = send("POST", c.target);
    EXPECT_EQ(reply.status, 501);
    EXPECT_EQ(reply.reason, "Not Implemented");
    EXPECT_EQ(reply.body, "Can't find URL handler");
    EXPECT_TRUE(logHasInOrder({ "Got a POST request " + Base + c.target,
                                infoLine({ "Got unsupported POST request", Base + c.target }) }));
    EXPECT_EQ(manager.calls(), Calls {});
}

INSTANTIATE_TEST_SUITE_P(Targets, UnmatchedUrlTest, ::testing::ValuesIn(UnmatchedCases),
                         [](const ::testing::TestParamInfo<UnmatchedCase>& info) { return info.param.label; });

TEST_F(HttpServerFixture, RegistersEveryUrlAndAnswersWithTextHtml)
{
    const HttpReply reply = post("TYTUT");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.reason, "OK");
    EXPECT_EQ(reply.body, "GDEZHESCHIO!");
    EXPECT_NE(reply.headers.find("Content-Type: text/html\r\n"), std::string::npos) << reply.headers;
    EXPECT_TRUE(logHasInOrder({ "Win server starting on port " + std::to_string(port),
                                "Listening on url " + Base + "/TYTUT", "Listening on url " + Base + "/remote/login",
                                "LocalHttpServer::processRequests begin", "Waiting for HTTP request",
                                "Got a POST request " + Base + "/TYTUT", infoLine({ "calling handler of", Base + "/TYTUT" }),
                                "LocalHttpServer: Ping processing start" }));
    EXPECT_EQ(countLinesStartingWith("Listening on url "), 26u);
}

TEST_F(HttpServerFixture, HandlerFailureIsAnsweredAndTheNextRequestServed)
{
    manager.onCall = [](const std::string& operation) {
        if (operation == "requestServersList")
            throw std::runtime_error("vendor API unreachable");
        if (operation == "requestProductsList")
            throw 42;
    };

    HttpReply reply = post("vpn/get/serversList");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.reason, "Internal Server Error");
    EXPECT_EQ(reply.body, "vendor API unreachable");
    EXPECT_EQ(post("TYTUT").body, "GDEZHESCHIO!");

    reply = post("products/list");
    EXPECT_EQ(reply.status, 500);
    EXPECT_EQ(reply.reason, "Internal Server Error");
    EXPECT_EQ(reply.body, "");
    EXPECT_EQ(post("TYTUT").status, 200);

    EXPECT_EQ(countLinesStartingWith(
                  errorLine({ "LocalHttpServer::processRequests", "vendor API unreachable", "; last error:" })),
              1u);
    EXPECT_EQ(countLinesStartingWith(errorLine({ "LocalHttpServer::processRequests", "last error:" })), 1u);
}

TEST_F(HttpServerFixture, BodyIsReadWholeWithoutPadding)
{
    Calls expected;
    EXPECT_EQ(post("vpn/connect").status, 200);
    expected.insert(expected.end(), { "connectToServer()", "setRequiredState(true)" });
    // Whole read steps, one byte either side of them, and the largest body taken.
    for (const size_t length : { 8u, 259u, 260u, 261u, 520u, 1000u, 65536u }) {
        const std::string server(length - 7, 'x');
        EXPECT_EQ(post("vpn/connect", "server=" + server).status, 200) << length;
        expected.push_back("connectToServer(" + server + ")");
        // A longer id is refused by the connect, and does not make the VPN wanted.
        if (server.size() <= MaxServerIdLength)
            expected.push_back("setRequiredState(true)");
    }
    EXPECT_EQ(manager.calls(), expected);
}

TEST_F(HttpServerFixture, BodyOverTheLimitIsRefusedUnread)
{
    HttpReply reply = post("vpn/connect", "server=" + std::string(65536 - 6, 'x'));
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(reply.reason, "Bad request");
    EXPECT_EQ(reply.body, "Request body is larger than 65536 bytes");
    EXPECT_EQ(manager.calls(), Calls {});

    EXPECT_EQ(countLines(errorLine({ "LocalHttpServer::processRequests", "Request body is larger than 65536 bytes" })),
              1u);

    EXPECT_EQ(post("vpn/connect", "server=de-1").status, 200);
    EXPECT_EQ(manager.calls(), (Calls { "connectToServer(de-1)", "setRequiredState(true)" }));
}

TEST_F(HttpServerFixture, RequestLargerThanTheBufferIsReceivedAgain)
{
    const std::string value(6000, 'v');
    const HttpReply reply = post("setting/set", "", "name: Test.long\r\nvalue: " + value + "\r\n");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "Success");
    EXPECT_EQ(mainSettings().getValue<std::wstring>(L"Test.long"), std::wstring(value.begin(), value.end()));
    EXPECT_TRUE(logHasInOrder({ "Waiting for HTTP request", "Buffer was too small", "Waiting for HTTP request",
                                "Got a POST request " + Base + "/setting/set" }));
    // The grown buffer serves ordinary requests as before.
    EXPECT_EQ(post("TYTUT").body, "GDEZHESCHIO!");
}

TEST_F(HttpServerFixture, SecondStartKeepsTheFirstRegistration)
{
    EXPECT_TRUE(server->start(port + 1));
    EXPECT_EQ(countLines("Win server starting on port " + std::to_string(port + 1)), 1u);
    EXPECT_EQ(countLines("Listening on url " + Base + "/TYTUT"), 1u);
    EXPECT_EQ(post("TYTUT").status, 200);
}

TEST_F(HttpServerFixture, StopSavesTheCurrentUserOnceAndEndsTheLoop)
{
    EXPECT_EQ(post("user/set", "user=S-1-5-21-7").status, 200);
    stopServer();
    server->stop();
    EXPECT_EQ(manager.calls(), (Calls { "saveUserAndMainSettings()", "saveUserAndMainSettings(S-1-5-21-7)" }));
    EXPECT_EQ(countLines("Stopping web server..."), 2u);
    EXPECT_EQ(countLinesStartingWith(
                  errorLine({ "LocalHttpServer::processRequests", "Requests processing aborted", "; last error:" })),
              1u)
        << logText();
    EXPECT_TRUE(logHasInOrder({ "Stopping web server...", "HttpReceiveHttpRequest end" }));
}

TEST_F(HttpServerFixture, StoppedServerCanBeStartedAgain)
{
    stopServer();
    ASSERT_TRUE(server->start(port));
    runLoop();
    EXPECT_EQ(post("TYTUT").body, "GDEZHESCHIO!");
}

TEST_F(HttpServerFixture, LoopDoesNotRunUnlessStarted)
{
    stopServer();
    const size_t begins = countLines("LocalHttpServer::processRequests begin");
    const size_t waits = countLines(WaitingLine);
    // Returns at once: the server is stopped.
    server->processRequests();
    EXPECT_EQ(countLines("LocalHttpServer::processRequests begin"), begins + 1);
    EXPECT_EQ(countLines(WaitingLine), waits);
}

TEST_F(HttpServerFixture, DestructorStopsAndWaitsForTheRunningLoop)
{
    EXPECT_EQ(post("TYTUT").status, 200);
    server.reset();
    // The loop has ended inside the destructor; its thread only returns now.
    loop.join();
    EXPECT_EQ(manager.calls(), Calls { "saveUserAndMainSettings()" });
    EXPECT_TRUE(logHasInOrder({ "Stopping web server...", "HttpReceiveHttpRequest end" }));
}

TEST_F(HttpServerFixture, StopWaitsForTheRequestInHand)
{
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    manager.onCall = [&entered, released](const std::string& operation) {
        if (operation == "requestServersList") {
            entered.set_value();
            released.wait_for(std::chrono::seconds(60));
        }
    };
    auto reply = std::async(std::launch::async, [this] { return connection().request("POST", "/vpn/get/serversList"); });
    ASSERT_EQ(entered.get_future().wait_for(std::chrono::seconds(60)), std::future_status::ready);

    auto stopping = std::async(std::launch::async, [this] { server->stop(); });
    // Let the stop reach the server before the handler ends.
    for (int i = 0; i < 600 && countLines("Stopping web server...") == 0; ++i)
        Sleep(100);
    release.set_value();

    const HttpReply answered = reply.get();
    EXPECT_EQ(answered.status, 200);
    EXPECT_EQ(answered.body, "requestServersList reply");
    stopping.get();
    loop.join();
    EXPECT_EQ(manager.calls(), (Calls { "requestServersList()", "saveUserAndMainSettings()" }));
}

TEST_F(HttpServerFixture, UrlTakenByAnotherQueueIsLeftOut)
{
    stopServer();
    HttpApiUse api;
    ASSERT_EQ(api.initialize(), NO_ERROR);
    UniqueHandle otherQueue;
    ASSERT_EQ(HttpCreateHttpHandle(otherQueue.put(), 0), NO_ERROR);
    const std::wstring ping = L"http://127.0.0.1:" + std::to_wstring(port) + L"/TYTUT";
    ASSERT_EQ(HttpAddUrl(otherQueue.get(), ping.c_str(), nullptr), NO_ERROR);

    ASSERT_TRUE(server->start(port));
    runLoop();
    EXPECT_EQ(countLinesStartingWith("HttpAddUrl failed with error code Error #b7"), 1u);
    // The other URLs are served as ever.
    EXPECT_EQ(post("vpn/disconnect").body, "Disconnecting");
    // Closing a queue ends every listener of Wine's HTTP Server API: the server goes first.
    stopServer();
}

TEST_F(HttpServerFixture, ReceiveFailingWithoutAStopReopensTheQueue)
{
    EXPECT_EQ(post("TYTUT").status, 200);
    const HANDLE first = LocalHttpServerTestPeer::queue(*server);
    // The receives the loop waits in end as if the platform had given them up.
    ASSERT_TRUE(CancelIoEx(first, nullptr)) << GetLastError();
    ASSERT_TRUE(waitForLine("Request queue re-created")) << logText();

    client.reset();
    EXPECT_EQ(post("TYTUT").body, "GDEZHESCHIO!");
    EXPECT_EQ(post("vpn/disconnect").body, "Disconnecting");
    EXPECT_EQ(countLinesStartingWith(
                  errorLine({ "LocalHttpServer::processRequests", "Requests processing aborted", "; last error:" })),
              1u);
    EXPECT_EQ(countLinesStartingWith("Listening on url "), 2 * 26u);
    // Nothing of a stop: no settings saved, the loop goes on.
    EXPECT_EQ(manager.calls(), Calls { "setRequiredState(false)" });
    EXPECT_EQ(countLines("HttpReceiveHttpRequest end"), 0u);
}

TEST_F(HttpServerFixture, IdleServerChecksItselfWithoutATrace)
{
    EXPECT_EQ(post("TYTUT").status, 200);
    const std::vector<std::string> before = rawLogLines();
    // Long enough for a few of the server's requests to itself, each answered by the loop alone.
    Sleep(3500);
    EXPECT_EQ(rawLogLines(), before);
    EXPECT_EQ(manager.calls(), Calls {});
    EXPECT_EQ(post("vpn/disconnect").body, "Disconnecting");
}

TEST_F(HttpServerFixture, QueueThatStopsDeliveringIsReopened)
{
    EXPECT_EQ(post("TYTUT").status, 200);
    // Requests for the ping URL no longer reach the loop, as when the platform stops taking
    // connections: the server's own check finds it out.
    const std::wstring ping = L"http://127.0.0.1:" + std::to_wstring(port) + L"/TYTUT";
    ASSERT_EQ(HttpRemoveUrl(LocalHttpServerTestPeer::queue(*server), ping.c_str()), NO_ERROR);
    ASSERT_TRUE(waitForLine("Request queue re-created")) << logText();
    EXPECT_EQ(countLinesStartingWith(
                  errorLine({ "LocalHttpServer::processRequests", "No request has reached the queue since" })),
              1u)
        << logText();

    client.reset();
    EXPECT_EQ(post("TYTUT").body, "GDEZHESCHIO!");
    EXPECT_EQ(manager.calls(), Calls {});
}

TEST_F(HttpServerFixture, ClientsAtOnceOnNewConnectionsAreAllAnswered)
{
    // Each request holds the loop a little, as a call to the vendor API does, so that the other
    // clients' requests arrive while one is handled.
    manager.onCall = [](const std::string& operation) {
        if (operation == "requestProductsList")
            Sleep(20);
    };
    constexpr int Clients = 4;
    constexpr int Requests = 50;
    // Each client: the requests answered, up to the first that was not, and why that one was not.
    using Outcome = std::pair<int, std::string>;
    std::vector<std::future<Outcome>> clients;
    for (int c = 0; c < Clients; ++c)
        clients.push_back(std::async(std::launch::async, [this] {
            Outcome outcome { 0, "" };
            try {
                for (; outcome.first < Requests; ++outcome.first) {
                    const HttpReply reply = loopbackHttp(port, "POST", "/products/list");
                    if (reply.status != 200 || reply.body != "requestProductsList reply") {
                        outcome.second = std::to_string(reply.status) + " " + reply.body;
                        break;
                    }
                }
            } catch (const std::runtime_error& error) {
                outcome.second = error.what();
            }
            return outcome;
        }));
    for (auto& client : clients) {
        const Outcome outcome = client.get();
        EXPECT_EQ(outcome.first, Requests) << outcome.second << "\n" << logText();
    }
    EXPECT_EQ(manager.calls().size(), static_cast<size_t>(Clients * Requests));
    try { EXPECT_EQ(post("TYTUT").body, "GDEZHESCHIO!"); } catch (...) { ADD_FAILURE() << logText(); }
}
