// The mock vendor API as the service reaches it: the WinHTTP request object, called through
// IDispatch, on the build's API host, with WinHTTP's default certificate checks.
#include "ComPtr.h"
#include "DispatchObject.h"
#include "MockApi.h"

#include <boost/property_tree/json_parser.hpp>
#include <boost/property_tree/ptree.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

const std::string ApiHost = NIMBAL_TEST_API_HOST;
const std::string CheckinPath = "/v3/client/checkin";
const std::string LogUploadPath = "/user/log/";
const std::string FormType = "application/x-www-form-urlencoded";

std::wstring widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

std::string narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result += c < 0x80 ? static_cast<char>(c) : '?';
    return result;
}

std::wstring urlOf(const std::string& scheme, const std::string& path)
{
    return widen(scheme + "://" + ApiHost + path);
}

struct Answer {
    long status = 0;
    std::string statusText;
    std::string text;
};

Answer post(const std::wstring& url, const std::string& body, const NameValueList& headers)
{
    DispatchObject request = DispatchObject::create(L"WinHttp.WinHttpRequest.5.1");
    request.call(L"Open", Variant::text(L"POST"), Variant::text(url), Variant::boolean(false));
    for (const auto& [name, value] : headers)
        request.call(L"SetRequestHeader", Variant::text(widen(name)), Variant::text(widen(value)));
    request.call(L"Send", Variant::text(widen(body)));
    // Wine's StatusText counts the terminating NUL in the string's length.
    std::wstring statusText = request.get(L"StatusText").asText();
    statusText.erase(std::find(statusText.begin(), statusText.end(), L'\0'), statusText.end());
    return { request.get(L"Status").asInt(), narrow(statusText), narrow(request.get(L"ResponseText").asText()) };
}

Answer postForm(const std::string& scheme, const std::string& path, const std::string& body = "a=1")
{
    return post(urlOf(scheme, path), body, { { "Content-Type", FormType } });
}

boost::property_tree::ptree parseJson(const std::string& text)
{
    std::istringstream stream(text);
    boost::property_tree::ptree tree;
    boost::property_tree::read_json(stream, tree);
    return tree;
}

class MockApiTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(com.result()));
        mock.reset();
    }

    ComInit com { COINIT_APARTMENTTHREADED };
    MockApi mock;
};

} // namespace

TEST_F(MockApiTest, CheckinOverHttpsGetsTheScriptedReplyAndIsRecordedAsSent)
{
    const std::string reply = R"({"status":true,"version":"1.1.0.34","updateType":"silent"})";
    mock.setReply(CheckinPath, 200, reply);
    const std::string body =
        "deviceId=0f8fad5b-d9cb-469f-a165-70867728950e&version=1.1.0.33&brand=Nimbal%20Privacy&method=install";

    const Answer answer = post(urlOf("https", CheckinPath), body,
                               { { "Authorization", "Bearer token-123" }, { "Content-Type", FormType } });

    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(answer.text, reply);
    const std::vector<MockRequest> requests = mock.requests();
    ASSERT_EQ(requests.size(), 1u);
    const MockRequest& request = requests[0];
    EXPECT_EQ(request.seq, 1);
    EXPECT_EQ(request.scheme, "https");
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.path, CheckinPath);
    EXPECT_EQ(request.query, "");
    EXPECT_EQ(request.header("host"), ApiHost);
    EXPECT_EQ(request.header("Authorization"), "Bearer token-123");
    EXPECT_EQ(request.header("content-type"), FormType);
    EXPECT_EQ(request.header("Content-Length"), std::to_string(body.size()));
    EXPECT_EQ(request.body, body);
    const NameValueList form { { "deviceId", "0f8fad5b-d9cb-469f-a165-70867728950e" },
                               { "version", "1.1.0.33" },
                               { "brand", "Nimbal Privacy" },
                               { "method", "install" } };
    EXPECT_EQ(request.form, form);
}

TEST_F(MockApiTest, LogUploadOverPlainHttpIsRecordedWithoutAnAuthorizationHeader)
{
    const std::string body = "user=0f8fad5b&version=1.1.0.33&routingTable=line%201%0D%0Aline%202";

    const Answer answer = postForm("http", LogUploadPath, body);

    EXPECT_EQ(answer.status, 200);
    const std::vector<MockRequest> requests = mock.requestsTo(LogUploadPath);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].scheme, "http");
    EXPECT_FALSE(requests[0].hasHeader("Authorization"));
    EXPECT_EQ(requests[0].header("Content-Type"), FormType);
    const NameValueList form { { "user", "0f8fad5b" }, { "version", "1.1.0.33" }, { "routingTable", "line 1\r\nline 2" } };
    EXPECT_EQ(requests[0].form, form);
}

struct EndpointCase {
    const char* scheme;
    const char* path;
};

class EveryEndpoint : public MockApiTest, public ::testing::WithParamInterface<EndpointCase> {};

TEST_P(EveryEndpoint, AnswersASuccessfulJsonReplyByDefault)
{
    const Answer answer = postForm(GetParam().scheme, GetParam().path, "deviceId=d1&platform=windows");

    EXPECT_EQ(answer.status, 200);
    EXPECT_EQ(parseJson(answer.text).get<std::string>("status"), "true") << answer.text;
    const std::vector<MockRequest> requests = mock.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].scheme, GetParam().scheme);
    EXPECT_EQ(requests[0].path, GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(MockApi, EveryEndpoint,
                         ::testing::Values(EndpointCase { "https", "/v3/client/checkin" },
                                           EndpointCase { "https", "/v3/servers/list" },
                                           EndpointCase { "https", "/v3/server/connect" },
                                           EndpointCase { "https", "/v3/products/list" },
                                           EndpointCase { "https", "/v3/accounts/register" },
                                           EndpointCase { "https", "/v3/accounts/login" },
                                           EndpointCase { "https", "/v3/accounts/orders" },
                                           EndpointCase { "https", "/v3/accounts/reset" },
                                           EndpointCase { "https", "/v3/accounts/limits" },
                                           EndpointCase { "https", "/v3/support" },
                                           EndpointCase { "https", "/v3/accounts/autologined" },
                                           EndpointCase { "http", "/user/log/" }));

struct StatusCase {
    int status;
    const char* reason;
};

class ScriptedStatus : public MockApiTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ScriptedStatus, ReachesTheClientWithItsReasonAndBody)
{
    mock.setReply("/v3/accounts/login", GetParam().status, R"({"status":"false","error_message":"no"})");

    const Answer answer = postForm("https", "/v3/accounts/login");

    EXPECT_EQ(answer.status, GetParam().status);
    EXPECT_EQ(answer.statusText, GetParam().reason);
    EXPECT_EQ(answer.text, R"({"status":"false","error_message":"no"})");
}

INSTANTIATE_TEST_SUITE_P(MockApi, ScriptedStatus,
                         ::testing::Values(StatusCase { 400, "Bad Request" }, StatusCase { 401, "Unauthorized" },
                                           StatusCase { 500, "Internal Server Error" },
                                           StatusCase { 503, "Service Unavailable" }));

TEST_F(MockApiTest, QueuedRepliesComeFirstInOrderThenTheStandingOne)
{
    const std::string path = "/v3/server/connect";
    mock.queueReply(path, 200, "first");
    mock.queueReply(path, 500, "second");
    mock.setReply(path, 200, "standing");

    const Answer first = postForm("https", path);
    const Answer second = postForm("https", path);
    const Answer third = postForm("https", path);
    const Answer fourth = postForm("https", path);

    EXPECT_EQ(first.text, "first");
    EXPECT_EQ(second.status, 500);
    EXPECT_EQ(second.text, "second");
    EXPECT_EQ(third.text, "standing");
    EXPECT_EQ(fourth.text, "standing");
    EXPECT_EQ(mock.requestsTo(path).size(), 4u);
}

TEST_F(MockApiTest, ResetForgetsRequestsAndScriptedReplies)
{
    mock.setReply("/v3/accounts/limits", 200, R"({"time_left":"5"})");
    postForm("https", "/v3/accounts/limits");
    postForm("http", LogUploadPath);

    mock.reset();

    EXPECT_TRUE(mock.requests().empty());
    const Answer answer = postForm("https", "/v3/accounts/limits");
    EXPECT_NE(parseJson(answer.text).get<std::string>("time_left"), "5");
    EXPECT_EQ(mock.requests().size(), 1u);
}

TEST_F(MockApiTest, ScriptingAPathThatIsNoEndpointIsRefused)
{
    EXPECT_THROW(mock.setReply("/v3/client/checkin/", 200, "{}"), std::runtime_error);
    EXPECT_THROW(mock.queueReply("/v2/client/checkin", 200, "{}"), std::runtime_error);
}
