// The vendor API answering slowly with failures, or not there at all: the check-ins fail and are
// retried after the failure interval of the last good reply, no sooner, while the control server
// goes on answering; once the API is back, the next check-in succeeds and is saved.
#include "ReliabilityService.h"

#include "LoopbackHttp.h"

#include <vector>

namespace {

const std::string CheckinPath = "/v3/client/checkin";
// The shortest wait between check-ins there is.
constexpr int RetrySeconds = 5;
// The first reply: the next check-in and a retry after each failure, both as soon as may be.
const std::string FirstCheckin = R"({"status":true,"version":"1.1.0.33","updateType":"manual",)"
                                 R"("updateRequestInterval":5,"updateRequestIntervalIfFailed":5})";
const std::string RetryLine = "Login failed - will retry in 5 seconds(s).";
const std::string PingReply = "GDEZHESCHIO!";

// The mock API's own program, stopped to take the API away and started again after.
class MockApiProcess {
public:
    ~MockApiProcess()
    {
        if (stopped_)
            start();
    }
    bool stop()
    {
        stopped_ = true;
        return runLinuxShell(command("stop --state-dir " + shellQuoted(NIMBAL_MOCK_API_STATE)), reliability::Patience) == 0;
    }
    bool start()
    {
        const std::string port = std::to_string(MockApi().port());
        const bool started = runLinuxShell(command("start --port " + port + " --cert-dir " + shellQuoted(NIMBAL_MOCK_API_CERT_DIR)
                                                   + " --state-dir " + shellQuoted(NIMBAL_MOCK_API_STATE)),
                                           reliability::Patience)
            == 0;
        stopped_ = !started;
        return started;
    }

private:
    // Its output goes nowhere: the mock outlives the shell and must not hold the test's output open.
    static std::string command(const std::string& arguments)
    {
        return shellQuoted(NIMBAL_PYTHON3) + " " + shellQuoted(NIMBAL_MOCK_API_SCRIPT) + " " + arguments + " >/dev/null 2>&1";
    }
    bool stopped_ = false;
};

// Pings the control server on one kept-alive connection and keeps count of the replies.
class Pinger {
public:
    explicit Pinger(unsigned short port) : http_(port) {}
    bool ping()
    {
        ++sent_;
        try {
            const HttpReply reply = http_.request("POST", "/TYTUT");
            if (reply.status == 200 && reply.body == PingReply)
                return true;
            wrong_.push_back(std::to_string(reply.status) + " " + reply.reason + " '" + reply.body + "'");
        } catch (const std::exception& error) {
            wrong_.push_back(error.what());
        }
        return false;
    }
    int sent() const { return sent_; }
    const std::vector<std::string>& wrong() const { return wrong_; }

private:
    LoopbackConnection http_;
    int sent_ = 0;
    std::vector<std::string> wrong_;
};

class ApiOutage : public ReliabilityService {
protected:
    unsigned short controlPort()
    {
        EXPECT_TRUE(logGets("Waiting for HTTP request"));
        return static_cast<unsigned short>(httpPort());
    }
};

class SlowFailingApi : public ApiOutage {
protected:
    static constexpr unsigned DelayMs = 3000;
    void scriptMock() override
    {
        mock.queueReply(CheckinPath, 200, FirstCheckin);
        mock.setReply(CheckinPath, 503, "", DelayMs);
    }
};

class UnreachableApi : public ApiOutage {
protected:
    void scriptMock() override
    {
        mock.queueReply(CheckinPath, 200, FirstCheckin);
        mock.setReply(CheckinPath, 503, "");
    }
};

} // namespace

TEST_F(SlowFailingApi, CheckinsRetryOnTheirIntervalWhileTheControlServerAnswers)
{
    const unsigned short port = controlPort();
    ASSERT_NE(port, 0);
    Pinger pinger(port);

    // Until three check-ins have failed: each arrival stamped, and a ping between them; a ping
    // counts as answered during a check-in when that check-in had reached the API before the ping
    // and had still not failed after it.
    std::vector<ULONGLONG> arrivals;
    int pingsDuringCheckin = 0;
    const ULONGLONG deadline = GetTickCount64() + 90000;
    while (arrivals.size() < 4 && GetTickCount64() < deadline) {
        const size_t checkins = mock.requestsTo(CheckinPath).size();
        while (arrivals.size() < checkins)
            arrivals.push_back(GetTickCount64());
        const size_t failedBefore = count(RetryLine);
        const bool pending = checkins >= 2 && failedBefore < checkins - 1;
        pinger.ping();
        if (pending && count(RetryLine) == failedBefore && mock.requestsTo(CheckinPath).size() == checkins)
            ++pingsDuringCheckin;
        Sleep(100);
    }

    ASSERT_EQ(arrivals.size(), 4u) << "check-ins seen";
    EXPECT_TRUE(pinger.wrong().empty()) << pinger.wrong().front();
    EXPECT_GT(pinger.sent(), 0);
    EXPECT_GT(pingsDuringCheckin, 0);
    // Each retry follows the failure, which took the API's delay, and then the failure interval.
    for (size_t i = 2; i < arrivals.size(); ++i)
        EXPECT_GE(arrivals[i] - arrivals[i - 1], RetrySeconds * 1000 + DelayMs - 500) << "between check-ins " << i - 1 << " and " << i;
    EXPECT_GE(count(RetryLine), 2u);
}

TEST_F(UnreachableApi, CheckinsRetryOnTheirIntervalAndTheFirstAfterItsReturnIsSaved)
{
    const unsigned short port = controlPort();
    ASSERT_NE(port, 0);
    // The first check-in succeeded and the next one failed: the failure interval is in force.
    ASSERT_TRUE(logGets(RetryLine));
    MockApiProcess api;
    ASSERT_TRUE(api.stop());

    Pinger pinger(port);
    const size_t failedBefore = count(RetryLine);
    std::vector<ULONGLONG> failures;
    const ULONGLONG deadline = GetTickCount64() + 60000;
    while (failures.size() < 3 && GetTickCount64() < deadline) {
        while (count(RetryLine) > failedBefore + failures.size())
            failures.push_back(GetTickCount64());
        pinger.ping();
        Sleep(100);
    }
    ASSERT_EQ(failures.size(), 3u) << "failed check-ins while the API was away";
    for (size_t i = 1; i < failures.size(); ++i)
        EXPECT_GE(failures[i] - failures[i - 1], RetrySeconds * 1000 - 500) << "between failures " << i - 1 << " and " << i;
    EXPECT_TRUE(pinger.wrong().empty()) << pinger.wrong().front();
    EXPECT_GT(pinger.sent(), 0);

    // Back, with its built-in reply: the next check-in succeeds and the general document keeps it.
    ASSERT_TRUE(api.start());
    ASSERT_TRUE(checkinsGet(1));
    EXPECT_TRUE(reliability::waitUntil([] { return document(L"settings.params").find("nimbalprivacy") != std::string::npos; }))
        << document(L"settings.params");
    EXPECT_TRUE(pinger.ping()) << pinger.wrong().back();
}
