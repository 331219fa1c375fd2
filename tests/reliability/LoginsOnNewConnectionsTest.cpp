// Account logins on a new connection each, as a program that opens and closes a connection per
// request makes them: one client after another, and four clients at once. Every login asks the
// mock vendor API, and the control server answers every one, and a ping after them.
#include "ReliabilityService.h"

#include "LoopbackHttp.h"

#include <future>
#include <vector>

namespace {

constexpr int Logins = 1000;
const std::string LoginPath = "/v3/accounts/login";
const std::string LoginBody = "login=a@b.test&pass=pw";

// How far one client got: the logins answered, and what became of the first that was not.
struct ClientRun {
    int answered = 0;
    std::string failure;
};

// `count` logins on a new connection each, up to the first that is not answered as a success.
ClientRun logIn(unsigned short port, int count)
{
    ClientRun run;
    try {
        for (; run.answered < count; ++run.answered) {
            const HttpReply reply = loopbackHttp(port, "POST", "/accounts/login", LoginBody);
            if (reply.status != 200 || reply.reason != "OK" || reply.body != "Success") {
                run.failure = std::to_string(reply.status) + " " + reply.reason + " '" + reply.body + "'";
                break;
            }
        }
    } catch (const std::exception& error) {
        run.failure = error.what();
    }
    return run;
}

class LoginsOnNewConnections : public ReliabilityService, public ::testing::WithParamInterface<int> {
protected:
    void scriptMock() override { mock.setReply(LoginPath, 200, R"({"status":"true","token":"t"})"); }
};

} // namespace

TEST_P(LoginsOnNewConnections, AreAllAnsweredAndThePingAfterThem)
{
    const int clients = GetParam();
    ASSERT_TRUE(logGets("Waiting for HTTP request"));
    const auto port = static_cast<unsigned short>(httpPort());
    ASSERT_NE(port, 0);

    std::vector<std::future<ClientRun>> runs;
    for (int c = 0; c < clients; ++c)
        runs.push_back(std::async(std::launch::async, logIn, port, Logins / clients));
    int answered = 0;
    for (auto& run : runs) {
        const ClientRun done = run.get();
        answered += done.answered;
        EXPECT_EQ(done.answered, Logins / clients) << "then: " << done.failure;
    }
    EXPECT_EQ(answered, Logins);
    EXPECT_EQ(mock.requestsTo(LoginPath).size(), static_cast<size_t>(Logins));

    const HttpReply ping = loopbackHttp(port, "POST", "/TYTUT");
    EXPECT_EQ(ping.status, 200);
    EXPECT_EQ(ping.body, "GDEZHESCHIO!");
}

INSTANTIATE_TEST_SUITE_P(Clients, LoginsOnNewConnections, ::testing::Values(1, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 1 ? "OneAfterAnother" : "FourAtOnce";
                         });
