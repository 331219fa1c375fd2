// The log upload: plain HTTP without a token, the machine's facts, the caller's fields and the
// routing table, whose file is gone afterwards.
#include "ApiClientFixture.h"

#include "api/LogUpload.h"
#include "settings/GlobalPaths.h"

#include "SystemInfo.h"
#include "TempFolder.h"

#include <thread>

using namespace api_test;

namespace {

const std::string LogPath = "/user/log/";
const std::wstring LogFields = L"&srvLog=service%20log&ovpnLog=daemon%0D%0Alog&installLog=installer";

// Points the log upload elsewhere for one test.
class UploadUrl {
public:
    explicit UploadUrl(const std::wstring& url) : saved(LogUploadUrl) { LogUploadUrl = url; }
    ~UploadUrl() { LogUploadUrl = saved; }
    UploadUrl(const UploadUrl&) = delete;
    UploadUrl& operator=(const UploadUrl&) = delete;

private:
    const std::wstring saved;
};

} // namespace

class LogUploadTest : public ApiClientFixture {
protected:
    void SetUp() override
    {
        ApiClientFixture::SetUp();
        knownDevice();
        settings().setValue(SettingsKeys::VpnUserToken, widen(StoredToken));
    }
};

class LogUploadReply : public LogUploadTest, public ::testing::WithParamInterface<int> {};

TEST_P(LogUploadReply, PostsEveryFieldAndRemovesTheRoutingTable)
{
    mock.setReply(LogPath, GetParam(), R"({"status":"false"})");

    EXPECT_TRUE(api.postLogfiles(LogFields));

    const auto sent = mock.requestsTo(LogPath);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].scheme, "http");
    EXPECT_FALSE(sent[0].hasHeader("Authorization"));
    EXPECT_EQ(sent[0].header("Content-Type"), "application/x-www-form-urlencoded");
    ASSERT_EQ(sent[0].form.size(), 12u) << sent[0].body;
    const NameValueList facts { { "user", KnownGuid },
                                { "version", Version },
                                { "brand", "Nimbal Privacy" },
                                { "platform", "windows" },
                                { "osBitness", narrow(getBitness()) },
                                { "osVersion", narrow(getOsVersion()) },
                                { "osSpVersion", narrow(getServicePackVersion()) },
                                { "osLocale", narrow(getLocaleName()) },
                                { "srvLog", "service log" },
                                { "ovpnLog", "daemon\r\nlog" },
                                { "installLog", "installer" } };
    EXPECT_EQ(NameValueList(sent[0].form.begin(), sent[0].form.begin() + 11), facts);
    EXPECT_EQ(sent[0].form[11].first, "routingTable");
    // The table was made: the field holds no reader's failure text.
    EXPECT_EQ(sent[0].form[11].second.find("reading"), std::string::npos) << sent[0].form[11].second;
    EXPECT_FALSE(fileExists(routingTablePath()));
    EXPECT_EQ(checkins().size(), 0u);

    EXPECT_TRUE(logHas("ServerApiOperator::postLogfiles posting logfile Nimbal Privacy Service, version 1.1.0.33 "
                       "built Mon Aug 24 18:04:29 2015"));
    EXPECT_TRUE(logHas("[INFO]: \t response:  {\"status\":\"false\"} "));
}

INSTANTIATE_TEST_SUITE_P(LogUpload, LogUploadReply, ::testing::Values(200, 401, 500));

TEST_F(LogUploadTest, UnreachableServerIsAFailureAndTheTableIsGoneToo)
{
    const UploadUrl unreachable(L"http://localhost:1/user/log/");

    EXPECT_FALSE(api.postLogfiles(LogFields));

    EXPECT_TRUE(logHas("[ERROR]:\t ServerApiOperator::postLogfiles Cannot send request "));
    EXPECT_FALSE(fileExists(routingTablePath()));
}

TEST_F(LogUploadTest, RoutingTableFilesAreApartPerThread)
{
    std::wstring other;
    std::thread([&other] { other = routingTablePath(); }).join();

    EXPECT_NE(other, routingTablePath());
    EXPECT_EQ(routingTablePath().rfind(TempPath, 0), 0u);
}
