// The account and VPN operations against the mock API: URL, body, bearer token and the result record
// of each reply, with the request frame's own failures.
#include "ApiClientFixture.h"
#include "OvpnConfigFolder.h"

#include "api/ReplyJson.h"
#include "api/ServerResponse.h"

#include <boost/property_tree/exceptions.hpp>

#include <functional>
#include <map>

using namespace api_test;

namespace {

enum class Handler { PassThrough, Connect, Login, Register, Limits, Reset, Support };

struct Operation {
    const char* name;
    std::string path;
    std::function<RemoteServerResponse(ServerApiOperator&)> call;
    NameValueList form;  // as the server decodes it
    bool usesToken;
    Handler handler;
    // What the handler logs for an empty object and for text that is not JSON; none for a pass-through.
    const char* emptyLine = nullptr;
    const char* errorLine = nullptr;
};

const std::string Account = "user@example.com";

const Operation Operations[] = {
    { "ServersList", "/v3/servers/list", [](ServerApiOperator& api) { return api.requestServersList(); },
      { { "deviceId", KnownGuid }, { "platform", "windows" } }, true, Handler::PassThrough },
    { "ServerConnect", "/v3/server/connect",
      [](ServerApiOperator& api) { return api.requestServerConnect(L"nl-ams-01"); },
      { { "deviceId", KnownGuid }, { "platform", "windows" }, { "vpnSrvId", "nl-ams-01" } }, true, Handler::Connect, "Connect to server request json is empty", "Error reading Connect response on line: " },
    { "ProductsList", "/v3/products/list", [](ServerApiOperator& api) { return api.requestProductsList(); },
      { { "deviceId", KnownGuid }, { "platform", "windows" } }, true, Handler::PassThrough },
    { "Login", "/v3/accounts/login", [](ServerApiOperator& api) { return api.requestLogin(); },
      { { "deviceId", KnownGuid }, { "email", Account }, { "password", Password } }, false, Handler::Login, "User login response json is empty",
      "Error reading login request on line: " },
    { "Register", "/v3/accounts/register", [](ServerApiOperator& api) { return api.requestRegister(); },
      { { "deviceId", KnownGuid }, { "email", Account }, { "password", Password } }, false, Handler::Register,
      "User register response json is empty", "Error reading register response on line: " },
    { "Orders", "/v3/accounts/orders", [](ServerApiOperator& api) { return api.requestOrders(); },
      { { "deviceId", KnownGuid }, { "platform", "windows" } }, true, Handler::PassThrough },
    { "AccountLimits", "/v3/accounts/limits", [](ServerApiOperator& api) { return api.requestAccountLimits(); },
      { { "deviceId", KnownGuid } }, true, Handler::Limits, "Account limits response json is empty",
      "Error reading account limits request on line: " },
    { "PasswordReset", "/v3/accounts/reset",
      [](ServerApiOperator& api) { return api.requestPasswordReset(L"someone@example.com"); },
      { { "deviceId", KnownGuid }, { "platform", "windows" }, { "email", "someone@example.com" } }, false,
      Handler::Reset, "Reset account password response json is empty",
      "Error reading reset account password request on line: " },
    { "Support", "/v3/support",
      [](ServerApiOperator& api) { return api.requestSupport(L"Cannot-connect", L"me@example.com"); },
      { { "brand", "Nimbal Privacy" },
        { "platform", "windows" },
        { "deviceId", KnownGuid },
        { "address", "me@example.com" },
        { "message", "Cannot-connect" } },
      true, Handler::Support, "Send support message response json is empty",
      "Error reading send support message response on line: " },
    { "SupportWithoutAddress", "/v3/support", [](ServerApiOperator& api) { return api.requestSupport(L"Hello", L""); },
      { { "brand", "Nimbal Privacy" }, { "platform", "windows" }, { "deviceId", KnownGuid }, { "message", "Hello" } },
      true, Handler::Support, "Send support message response json is empty",
      "Error reading send support message response on line: " },
    { "NotifyAutologin", "/v3/accounts/autologined", [](ServerApiOperator& api) { return api.notifyAutologin(); },
      { { "brand", "Nimbal Privacy" }, { "platform", "windows" }, { "deviceId", KnownGuid } }, true,
      Handler::Support, "Autologin notify response json is empty", "Error reading autologin notify response on line: " },
};

void PrintTo(const Operation& op, std::ostream* out)
{
    *out << op.name;
}

std::string operationName(const ::testing::TestParamInfo<Operation>& info)
{
    return info.param.name;
}

} // namespace

// A known device with stored credentials; the connect files are put back afterwards.
class ApiOperationsTest : public ApiClientFixture {
protected:
    void SetUp() override
    {
        ApiClientFixture::SetUp();
        knownDevice();
        storeCredentials();
    }

    const OvpnConfigFolder ovpnFiles { { L"client.auth", L"nl-ams-01.ovpn" } };
};

class OperationRequest : public ApiOperationsTest, public ::testing::WithParamInterface<Operation> {};

TEST_P(OperationRequest, PostsItsFormToItsUrl)
{
    const Operation& op = GetParam();

    op.call(api);

    const auto sent = mock.requestsTo(op.path);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].scheme, "https");
    EXPECT_EQ(sent[0].method, "POST");
    EXPECT_EQ(sent[0].form, op.form);
    EXPECT_EQ(sent[0].header("Content-Type"), "application/x-www-form-urlencoded");
    // The logged request shows everything but the password.
    std::string logged = sent[0].body;
    const size_t password = logged.find("password=" + Password);
    if (password != std::string::npos)
        logged.replace(password, 9 + Password.size(), "password=***");
    EXPECT_TRUE(logHas("ServerApiOperator::requestServerData Request to https://" + narrow(ApiHost) + op.path +
                       " ? " + logged))
        << logged;
}

INSTANTIATE_TEST_SUITE_P(Api, OperationRequest, ::testing::ValuesIn(Operations), operationName);

enum class TokenState { None, Empty, Set };
const char* const TokenStateNames[] = { "NoToken", "EmptyToken", "Token" };

void PrintTo(TokenState state, std::ostream* out)
{
    *out << TokenStateNames[static_cast<int>(state)];
}

std::string tokenCaseName(const ::testing::TestParamInfo<std::tuple<Operation, TokenState>>& info)
{
    return std::string(std::get<0>(info.param).name) + TokenStateNames[static_cast<int>(std::get<1>(info.param))];
}

class OperationToken : public ApiOperationsTest,
                       public ::testing::WithParamInterface<std::tuple<Operation, TokenState>> {};

TEST_P(OperationToken, AuthorizationHeaderOnlyWithAStoredToken)
{
    const auto& [op, token] = GetParam();
    if (token != TokenState::None)
        settings().setValue(SettingsKeys::VpnUserToken, token == TokenState::Set ? widen(api_test::StoredToken) : L"");

    op.call(api);

    const auto sent = mock.requestsTo(op.path);
    ASSERT_EQ(sent.size(), 1u);
    const bool expected = op.usesToken && token != TokenState::None;
    ASSERT_EQ(sent[0].hasHeader("Authorization"), expected);
    if (expected) {
        EXPECT_EQ(sent[0].header("Authorization"),
                  token == TokenState::Set ? "Bearer " + api_test::StoredToken : std::string("Bearer "));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Api, OperationToken,
    ::testing::Combine(::testing::ValuesIn(Operations),
                       ::testing::Values(TokenState::None, TokenState::Empty, TokenState::Set)),
    tokenCaseName);

// The replies every operation is tried with.
enum class Reply { StatusTrue, StatusCapitalTrue, StatusFalse, Http401, Http500, EmptyBody, NotJson, EmptyObject,
                   MissingMember, DeeplyNested };
const char* const ReplyNames[] = { "StatusTrue", "StatusCapitalTrue", "StatusFalse", "Http401",      "Http500",
                                   "EmptyBody",  "NotJson",           "EmptyObject", "MissingMember", "DeeplyNested" };

void PrintTo(Reply reply, std::ostream* out)
{
    *out << ReplyNames[static_cast<int>(reply)];
}

struct Outcome {
    int code;
    const char* reason;
    std::string message;  // "<body>" for the reply text itself
    bool throws = false;
};

const std::string Base64Auth = "dXNlcgpwYXNz";  // "user\npass"
const std::string Base64Config = "Y2xpZW50CmRldiB0dW4K";  // "client\ndev tun\n"

std::string statusReply(const std::string& status)
{
    return R"({"status":")" + status + R"(","token":")" + ReplyToken +
        R"(","message":"Account created","error_message":"Wrong password","time_left":"2592000",)"
        R"("auth":")" + Base64Auth + R"(","config":")" + Base64Config + R"("})";
}

std::pair<int, std::string> replyFor(Reply reply)
{
    switch (reply) {
    case Reply::StatusTrue: return { 200, statusReply("true") };
    case Reply::StatusCapitalTrue: return { 200, statusReply("True") };
    case Reply::StatusFalse: return { 200, statusReply("false") };
    case Reply::Http401: return { 401, statusReply("true") };
    case Reply::Http500: return { 500, statusReply("true") };
    case Reply::EmptyBody: return { 200, "" };
    case Reply::NotJson: return { 200, "{\"status\":" };
    case Reply::EmptyObject: return { 200, "{}" };
    case Reply::MissingMember: return { 200, R"({"unrelated":"1"})" };
    // Nothing but opening brackets: each is one more level of the parser's descent.
    case Reply::DeeplyNested: return { 200, "{\"status\":" + std::string(100000, '[') };
    }
    return { 0, "" };
}

const Outcome Success { 200, "OK", "Success" };
const Outcome Unhandled { 500, "Internal Server Error", "Unhandled server error code" };
const Outcome WrongPassword { 401, "Unauthorized", "Wrong password" };

Outcome expectedOutcome(Handler handler, Reply reply)
{
    if (reply == Reply::Http401)
        return { 401, "Unauthorized", "Token expired, please relogin" };
    // The server's reason phrase.
    if (reply == Reply::Http500)
        return { 500, "Internal Server Error", "Internal Server Error" };
    if (handler == Handler::PassThrough)
        return { 200, "OK", "<body>" };
    const bool connect = handler == Handler::Connect;
    switch (reply) {
    case Reply::EmptyBody:
        return { 500, "Internal Server Error", connect ? "Server response is empty" : "Empty response" };
    case Reply::NotJson:
    case Reply::DeeplyNested:
        return { 500, "Internal Server Error", connect ? "Error reading response json" : "Incorrect response from server" };
    case Reply::EmptyObject:
        return { 500, "Internal Server Error",
                 connect ? "Connect to server response json is empty" : "Response json is empty" };
    case Reply::MissingMember:
        return { 0, "", "", true };
    default:
        break;
    }
    const bool isTrue = reply == Reply::StatusTrue;
    switch (handler) {
    case Handler::Connect: return Success;
    case Handler::Login: return isTrue ? Success : WrongPassword;
    case Handler::Register: return isTrue ? Outcome { 200, "OK", "Account created" } : WrongPassword;
    case Handler::Limits: return { 200, "OK", "2592000" };
    case Handler::Reset: return isTrue ? Success : Outcome { 400, "Bad request", "Not registered" };
    case Handler::Support: return isTrue ? Success : Unhandled;
    case Handler::PassThrough: break;
    }
    return {};
}

std::string replyCaseName(const ::testing::TestParamInfo<std::tuple<Operation, Reply>>& info)
{
    return std::string(std::get<0>(info.param).name) + ReplyNames[static_cast<int>(std::get<1>(info.param))];
}

class OperationReply : public ApiOperationsTest, public ::testing::WithParamInterface<std::tuple<Operation, Reply>> {};

TEST_P(OperationReply, GivesTheResultRecordOfItsHandler)
{
    const auto& [op, reply] = GetParam();
    settings().setValue(SettingsKeys::VpnUserToken, widen(api_test::StoredToken));
    const auto [status, body] = replyFor(reply);
    mock.setReply(op.path, status, body);
    const Outcome expected = expectedOutcome(op.handler, reply);

    if (expected.throws) {
        EXPECT_THROW(op.call(api), boost::property_tree::ptree_bad_path);
    } else {
        const RemoteServerResponse response = op.call(api);
        EXPECT_EQ(response.code, expected.code);
        EXPECT_STREQ(response.statusText, expected.reason);
        EXPECT_EQ(narrow(response.message), expected.message == "<body>" ? body : expected.message);
    }
    const std::map<Reply, std::string> frameLines {
        { Reply::Http401, "ServerApiOperator::requestServerData Got 401 response code" },
        { Reply::Http500, "Unexpected response code 500 with status: Internal Server Error" },
        { Reply::EmptyObject, op.emptyLine ? op.emptyLine : "" },
        { Reply::NotJson, op.errorLine ? std::string(op.errorLine) + " 1" : "" },
        { Reply::DeeplyNested, op.errorLine ? std::string(op.errorLine) + " 1" : "" },
    };
    const auto line = frameLines.find(reply);
    if (line != frameLines.end() && !line->second.empty()) {
        EXPECT_TRUE(logHas(line->second)) << line->second;
    }
    // Only a successful login stores a token.
    const bool newToken = op.handler == Handler::Login && reply == Reply::StatusTrue;
    EXPECT_EQ(setting(SettingsKeys::VpnUserToken), newToken ? ReplyToken : api_test::StoredToken);
    const bool connected = op.handler == Handler::Connect && expected.code == 200;
    EXPECT_EQ(settings().hasValue(SettingsKeys::LastConnectServerId), connected);
}

INSTANTIATE_TEST_SUITE_P(
    Api, OperationReply,
    ::testing::Combine(::testing::ValuesIn(Operations),
                       ::testing::Values(Reply::StatusTrue, Reply::StatusCapitalTrue, Reply::StatusFalse,
                                         Reply::Http401, Reply::Http500, Reply::EmptyBody, Reply::NotJson,
                                         Reply::EmptyObject, Reply::MissingMember, Reply::DeeplyNested)),
    replyCaseName);

TEST_F(ApiOperationsTest, LoginWithoutATokenRaisesAndStoresNothing)
{
    settings().setValue(SettingsKeys::VpnUserToken, widen(api_test::StoredToken));
    mock.setReply("/v3/accounts/login", 200, R"({"status":"true"})");

    EXPECT_THROW(api.requestLogin(), boost::property_tree::ptree_bad_path);

    EXPECT_EQ(setting(SettingsKeys::VpnUserToken), api_test::StoredToken);
}

TEST_F(ApiOperationsTest, LoginReplyIsLoggedWithoutItsToken)
{
    mock.setReply("/v3/accounts/login", 200, "{\"token\" : \"" + ReplyToken + "\", \"status\":\"true\"}");

    EXPECT_EQ(api.requestLogin().code, 200);

    EXPECT_EQ(setting(SettingsKeys::VpnUserToken), ReplyToken);
    EXPECT_TRUE(logHas(R"(Response from user login request {"token" : "***", "status":"true"})"));
    EXPECT_TRUE(logHas("POSTed\n deviceId=" + KnownGuid + "&email=" + Account +
                       "&password=*** \nreceived:\n {\"token\" : \"***\", \"status\":\"true\"}"));
}

TEST_F(ApiOperationsTest, FailedLoginLogsItsStatus)
{
    mock.setReply("/v3/accounts/login", 200, statusReply("false"));

    api.requestLogin();

    EXPECT_TRUE(logHas("User login response status false"));
    EXPECT_FALSE(settings().hasValue(SettingsKeys::VpnUserToken));
}

struct FrameFailure {
    const char* name;
    const wchar_t* url;
    int code;
    const char* message;
};

class RequestFrameFailure : public ApiOperationsTest, public ::testing::WithParamInterface<FrameFailure> {};

TEST_P(RequestFrameFailure, IsReportedWithoutCallingTheHandler)
{
    bool handled = false;
    const RemoteServerResponse response = api.requestServerData(
        GetParam().url,
        [](const std::wstring& id) {
            return FormBody().add(L"deviceId", id).add(L"password", widen(Password));
        },
        [&handled](const std::wstring&) {
            handled = true;
            return makeServerResponse(200, L"");
        },
        true);

    EXPECT_FALSE(handled);
    EXPECT_EQ(response.code, GetParam().code);
    EXPECT_EQ(narrow(response.message), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Api, RequestFrameFailure,
    ::testing::Values(FrameFailure { "NoServer", L"https://localhost:1/v3/accounts/login", 500,
                                     "Failed to process request" },
                      FrameFailure { "NotAUrl", L"no url at all", 500, "Cannot create POST request" }),
    [](const ::testing::TestParamInfo<FrameFailure>& info) { return std::string(info.param.name); });

TEST_F(ApiOperationsTest, FailedSendIsAnErrorLineWithoutThePassword)
{
    api.requestServerData(
        L"https://localhost:1/v3/accounts/login",
        [](const std::wstring& id) { return FormBody().add(L"deviceId", id).add(L"password", widen(Password)); },
        [](const std::wstring&) { return makeServerResponse(200, L""); }, false);

    const std::string start = "[ERROR]:\t ServerApiOperator::requestServerData failed to send request to url "
                              "https://localhost:1/v3/accounts/login with params deviceId=" +
        KnownGuid + "&password=*** ";
    const auto logged = records();
    EXPECT_TRUE(std::any_of(logged.begin(), logged.end(),
                            [&](const std::string& line) { return line.rfind(start, 0) == 0; }));
}

struct MadeResponse {
    int code;
    const wchar_t* message;
    int expectedCode;
    const char* reason;
    const char* expectedMessage;
};

class MakeServerResponse : public ::testing::TestWithParam<MadeResponse> {};

TEST_P(MakeServerResponse, PairsEachCodeWithItsReason)
{
    const RemoteServerResponse response = makeServerResponse(GetParam().code, GetParam().message);
    EXPECT_EQ(response.code, GetParam().expectedCode);
    EXPECT_STREQ(response.statusText, GetParam().reason);
    EXPECT_EQ(narrow(response.message), GetParam().expectedMessage);
}

INSTANTIATE_TEST_SUITE_P(
    Api, MakeServerResponse,
    ::testing::Values(MadeResponse { 200, L"", 200, "OK", "" },
                      MadeResponse { 200, L"Success", 200, "OK", "Success" },
                      MadeResponse { 400, L"Not registered", 400, "Bad request", "Not registered" },
                      MadeResponse { 401, L"Token expired", 401, "Unauthorized", "Token expired" },
                      MadeResponse { 502, L"Success", 500, "Internal Server Error", "Unhandled server error code" },
                      MadeResponse { 500, L"Success", 500, "Internal Server Error", "Unhandled server error code" },
                      MadeResponse { 503, L"Service Unavailable", 500, "Internal Server Error", "Service Unavailable" },
                      MadeResponse { 0, L"Success!", 500, "Internal Server Error", "Success!" }));

namespace {

// `levels` arrays, one inside the other, around a string.
std::wstring nestedArrays(size_t levels)
{
    return std::wstring(levels, L'[') + L"\"x\"" + std::wstring(levels, L']');
}

} // namespace

TEST(ReplyJson, ReadsNestingUpToItsBound)
{
    boost::property_tree::wptree tree;
    readReplyJson(L"{\"a\":" + nestedArrays(MaxReplyNesting - 1) + L"}", tree);
    EXPECT_EQ(tree.size(), 1u);
}

TEST(ReplyJson, CountsNoBracketInsideAString)
{
    boost::property_tree::wptree tree;
    readReplyJson(L"{\"a\":\"" + std::wstring(1000, L'[') + L"\\\"{{\",\"b\":\"1\"}", tree);
    EXPECT_EQ(tree.get<std::wstring>(L"b"), L"1");
    EXPECT_EQ(tree.get<std::wstring>(L"a"), std::wstring(1000, L'[') + L"\"{{");
}

TEST(ReplyJson, RefusesDeeperNestingAsASyntaxErrorOnItsLine)
{
    boost::property_tree::wptree tree;
    try {
        readReplyJson(L"{\n\"status\":\"true\",\n\"a\":" + nestedArrays(MaxReplyNesting) + L"}", tree);
        ADD_FAILURE() << "read";
    } catch (const boost::property_tree::json_parser_error& error) {
        EXPECT_EQ(error.line(), 3u);
    }
    EXPECT_TRUE(tree.empty());
}
