// The 26 control URLs over real HTTP: each reply's status, reason and body, the service operations
// each one calls, the log lines it writes and the settings it leaves behind.
#include "HttpServerFixture.h"
#include "UnreadableSettingNames.h"

#include "http/HttpReplies.h"
#include "settings/SettingsKeys.h"

#include <functional>
#include <map>
#include <stdexcept>

using Calls = std::vector<std::string>;
using Settings = std::vector<std::pair<std::wstring, std::wstring>>;
namespace Keys = SettingsKeys;

namespace {

const std::map<std::string, std::string> FirstLogLines = {
    { "TYTUT", "LocalHttpServer: Ping processing start" },
    { "vpn/get/state", "LocalHttpServer: VPN state requested" },
    { "vpn/get/currentServer", "LocalHttpServer: VPN current server requested" },
    { "vpn/get/serversList", "LocalHttpServer: VPN servers list requested" },
    { "vpn/connect", "LocalHttpServer: VPN connect to server requested" },
    { "vpn/disconnect", "LocalHttpServer: VPN disconnect from server requested" },
    { "update/check", "LocalHttpServer: Check for update requested" },
    { "update/start", "LocalHttpServer: Start update requested" },
    { "user/relogin", "LocalHttpServer: VPN server relogin requested" },
    { "user/set", "LocalHttpServer: set logged windows user requested" },
    { "user/get", "LocalHttpServer: get logged windows user requested" },
    { "logfiles/enable", "LocalHttpServer: enable logging requested" },
    { "logfiles/disable", "LocalHttpServer: disable logging requested" },
    { "logfiles/post", "LocalHttpServer: post log files requested" },
    { "products/list", "LocalHttpServer: fetch products list requested" },
    { "accounts/register", "LocalHttpServer: account register requested" },
    { "accounts/login", "LocalHttpServer: account login requested" },
    { "accounts/logout", "LocalHttpServer: user logged out" },
    { "accounts/reset", "LocalHttpServer: account reset password requested" },
    { "accounts/orders", "LocalHttpServer: fetch products list requested" },
    { "accounts/token", "LocalHttpServer: account token requested" },
    { "setting/get", "LocalHttpServer: setting requested" },
    { "setting/set", "LocalHttpServer: setting requested" },
    { "support", "LocalHttpServer: send support message" },
    { "limits", "LocalHttpServer: fetch access limits" },
    { "remote/login", "LocalHttpServer: remote login requested" },
};

// One request and what it must lead to.
struct UrlCase {
    std::string label;
    std::string path;
    std::string body;
    std::string headers;
    Settings before;  // stored in the general section first
    std::function<void(FakeConfigSectionManager&)> arrange;
    int status = 200;
    std::string reason = "OK";
    std::string replyBody;
    Calls calls;
    std::vector<std::string> log;  // beginnings of lines after the first log line, in order
    Settings after;                // values in the general section afterwards
    std::vector<std::wstring> absent;

    UrlCase& withBody(std::string text)
    {
        body = std::move(text);
        return *this;
    }
    UrlCase& withHeaders(std::string lines)
    {
        headers = std::move(lines);
        return *this;
    }
    UrlCase& stored(Settings values)
    {
        before = std::move(values);
        return *this;
    }
    UrlCase& given(std::function<void(FakeConfigSectionManager&)> setup)
    {
        arrange = std::move(setup);
        return *this;
    }
    UrlCase& answers(int code, std::string reasonText, std::string text)
    {
        status = code;
        reason = std::move(reasonText);
        replyBody = std::move(text);
        return *this;
    }
    UrlCase& calling(Calls expected)
    {
        calls = std::move(expected);
        return *this;
    }
    UrlCase& logging(std::vector<std::string> lines)
    {
        log = std::move(lines);
        return *this;
    }
    UrlCase& leaving(Settings values)
    {
        after = std::move(values);
        return *this;
    }
    UrlCase& removing(std::vector<std::wstring> keys)
    {
        absent = std::move(keys);
        return *this;
    }
};

void PrintTo(const UrlCase& c, std::ostream* os)
{
    *os << c.label;
}

UrlCase request(std::string label, std::string path)
{
    UrlCase c;
    c.label = std::move(label);
    c.path = std::move(path);
    return c;
}

std::function<void(FakeConfigSectionManager&)> result(const std::string& operation, RemoteServerResponse response)
{
    return [operation, response](FakeConfigSectionManager& manager) { manager.setResult(operation, response); };
}

std::function<void(FakeConfigSectionManager&)> vpnState(int state)
{
    return [state](FakeConfigSectionManager& manager) { manager.vpnState = state; };
}

const Settings AllCredentials = { { Keys::VpnUserLogin, L"old@example.com" },
                                  { Keys::VpnUserPassword, L"old-pass" },
                                  { Keys::VpnUserToken, L"old-token" },
                                  { Keys::VpnUserRememberMe, L"true" } };
const std::vector<std::wstring> CredentialKeys = { Keys::VpnUserLogin, Keys::VpnUserPassword, Keys::VpnUserToken,
                                                   Keys::VpnUserRememberMe };

const std::string LoopFailure = errorLine({ "LocalHttpServer::processRequests" });

const std::vector<UrlCase> UrlCases = {
    request("Ping", "TYTUT").answers(200, "OK", "GDEZHESCHIO!"),

    request("StateNotConnected", "vpn/get/state").given(vpnState(0)).answers(200, "OK", "NOTCONNECTED")
        .calling({ "getVpnState()" }).logging({ "VPN state is NOTCONNECTED" }),
    request("StateDisconnected", "vpn/get/state").given(vpnState(1)).answers(200, "OK", "DISCONNECTED")
        .calling({ "getVpnState()" }).logging({ "VPN state is DISCONNECTED" }),
    request("StateConnecting", "vpn/get/state").given(vpnState(2)).answers(200, "OK", "CONNECTING")
        .calling({ "getVpnState()" }).logging({ "VPN state is CONNECTING" }),
    request("StateConnected", "vpn/get/state").given(vpnState(3)).answers(200, "OK", "CONNECTED")
        .calling({ "getVpnState()" }).logging({ "VPN state is CONNECTED" }),
    request("StateOutOfRange", "vpn/get/state").given(vpnState(4))
        .answers(500, "Internal Server Error", "Not a VPN state: 4").calling({ "getVpnState()" })
        .logging({ LoopFailure + "Not a VPN state: 4 " }),
    request("StateNegative", "vpn/get/state").given(vpnState(-1))
        .answers(500, "Internal Server Error", "Not a VPN state: -1").calling({ "getVpnState()" }),

    request("CurrentServer", "vpn/get/currentServer").stored({ { Keys::LastConnectServerId, L"de-12" } })
        .answers(200, "OK", "de-12").logging({ "VPN current server ID is de-12" }),
    request("NoCurrentServer", "vpn/get/currentServer").answers(200, "OK", "")
        .logging({ "VPN current server ID is " }),

    request("ServersList", "vpn/get/serversList").answers(200, "OK", "requestServersList reply")
        .calling({ "requestServersList()" }),
    request("ServersListRefused", "vpn/get/serversList")
        .given(result("requestServersList", { 401, "Unauthorized", L"Token expired" }))
        .answers(401, "Unauthorized", "Token expired").calling({ "requestServersList()" }),

    request("Connect", "vpn/connect").withBody("server=de-12").answers(200, "OK", "connectToServer reply")
        .calling({ "connectToServer(de-12)", "setRequiredState(true)" }).logging({ "Connect to server with ID de-12" }),
    request("ConnectWithoutServer", "vpn/connect").answers(200, "OK", "connectToServer reply")
        .calling({ "connectToServer()", "setRequiredState(true)" }),
    request("ConnectIdNotDecoded", "vpn/connect").withBody("x=1&server=ab_c&y=2")
        .answers(200, "OK", "connectToServer reply").calling({ "connectToServer(ab_c)", "setRequiredState(true)" }),
    // The connect refuses such ids; the VPN is not wanted because of them.
    request("ConnectRefusedIdIsNotWanted", "vpn/connect").withBody("x=1&server=a%20b+c&y=2")
        .answers(200, "OK", "connectToServer reply").calling({ "connectToServer(a%20b+c)" }),
    request("ConnectDeviceNameIsNotWanted", "vpn/connect").withBody("server=NUL.ovpn")
        .answers(200, "OK", "connectToServer reply").calling({ "connectToServer(NUL.ovpn)" }),
    request("ConnectRefusedStillWanted", "vpn/connect").withBody("server=de-12")
        .given(result("connectToServer", { 500, "Internal Server Error", L"Concurrent calls detected" }))
        .answers(500, "Internal Server Error", "Concurrent calls detected")
        .calling({ "connectToServer(de-12)", "setRequiredState(true)" }),
    request("ConnectFails", "vpn/connect").withBody("server=de-12")
        .given([](FakeConfigSectionManager& manager) {
            manager.onCall = [](const std::string& operation) {
                if (operation == "connectToServer")
                    throw std::runtime_error("daemon missing");
            };
        })
        .answers(500, "Internal Server Error", "daemon missing").calling({ "connectToServer(de-12)" })
        .logging({ errorLine({ "LocalHttpServer::connectToVPN", "daemon missing" }) }),

    request("Disconnect", "vpn/disconnect").answers(200, "OK", "Disconnecting").calling({ "setRequiredState(false)" }),

    request("UpdateCheckBeforeCheckin", "update/check").answers(200, "OK", ""),
    request("UpdateOffered", "update/check")
        .stored({ { Keys::OfferedVersion, L"1.2.0.0" }, { Keys::UpdateType, L"manual" } })
        .answers(200, "OK", "manual"),
    request("UpdateOfSameVersion", "update/check")
        .stored({ { Keys::OfferedVersion, L"1.1.0.33" }, { Keys::UpdateType, L"manual" } })
        .answers(200, "OK", "Up-to-date"),
    request("SilentUpdate", "update/check")
        .stored({ { Keys::OfferedVersion, L"1.2.0.0" }, { Keys::UpdateType, L"silent" } })
        .answers(200, "OK", "Up-to-date"),
    request("SilentComparedExactly", "update/check")
        .stored({ { Keys::OfferedVersion, L"1.2.0.0" }, { Keys::UpdateType, L"Silent" } })
        .answers(200, "OK", "Silent"),

    request("UpdateStarts", "update/start").answers(200, "OK", "Updating").calling({ "runUpdate()" }),
    request("UpdateRefused", "update/start")
        .given([](FakeConfigSectionManager& manager) { manager.runUpdateResult = false; })
        .answers(500, "Internal Server Error", "Update type got from server isn't manual").calling({ "runUpdate()" }),

    request("Relogin", "user/relogin").answers(200, "OK", "Relogining").calling({ "restartUpdateCheck()" }),

    request("SetUser", "user/set").withBody("user=S-1-5-21-42").answers(200, "OK", "Setting")
        .calling({ "saveUserAndMainSettings()" }).logging({ "New user SID is S-1-5-21-42" }),
    request("SetUserWithoutUser", "user/set").withBody("sid=S-1-5-21-42")
        .answers(400, "Bad request", "Param \"user\" not found").calling({ "saveUserAndMainSettings()" })
        .logging({ errorLine({ "LocalHttpServer::setUser", "no such parameter" }) }),
    request("GetUserBeforeAnySet", "user/get").answers(200, "OK", ""),

    request("EnableLogging", "logfiles/enable").stored({ { Keys::LoggingEnabled, L"false" } })
        .answers(200, "OK", "Logging enabled").leaving({ { Keys::LoggingEnabled, L"true" } }),
    request("DisableLogging", "logfiles/disable").stored({ { Keys::LoggingEnabled, L"true" } })
        .answers(200, "OK", "Logging disabled").leaving({ { Keys::LoggingEnabled, L"false" } }),

    request("PostLogs", "logfiles/post").answers(200, "OK", "Posted").calling({ "postLogs()" }),
    request("PostLogsFails", "logfiles/post")
        .given([](FakeConfigSectionManager& manager) { manager.postLogsResult = false; })
        .answers(500, "Internal Server Error", "Failed to post log files").calling({ "postLogs()" }),

    request("ProductsList", "products/list")
        .given(result("requestProductsList", { 200, "OK", L"[{\"id\":\"month\"}]" }))
        .answers(200, "OK", "[{\"id\":\"month\"}]").calling({ "requestProductsList()" }),

    request("Register", "accounts/register").withBody("login=new@example.com&pass=pw1&rememberMe=true")
        .answers(200, "OK", "requestRegister reply").calling({ "requestRegister()" })
        .leaving({ { Keys::VpnUserLogin, L"new@example.com" },
                   { Keys::VpnUserPassword, L"pw1" },
                   { Keys::VpnUserRememberMe, L"true" } }),
    request("RegisterRefusedForgetsCredentials", "accounts/register")
        .withBody("login=new@example.com&pass=pw1&rememberMe=true").stored(AllCredentials)
        .given(result("requestRegister", { 409, "Conflict", L"Email taken" }))
        .answers(409, "Conflict", "Email taken").calling({ "requestRegister()" }).removing(CredentialKeys),
    request("RegisterEmptyLogin", "accounts/register").withBody("login=&pass=pw1")
        .answers(400, "Bad request", "Please, enter correct email and password")
        .removing({ Keys::VpnUserLogin, Keys::VpnUserPassword }),
    request("RegisterWithoutPass", "accounts/register").withBody("login=new@example.com")
        .answers(400, "Bad request", "Param \"login\" or \"pass\" not found")
        .logging({ errorLine({ "LocalHttpServer::updateAccCredentials", "no such parameter" }) })
        .removing({ Keys::VpnUserLogin }),

    request("Login", "accounts/login").withBody("login=new@example.com&pass=pw1&rememberMe=")
        .stored({ { Keys::VpnUserRememberMe, L"true" } })
        .answers(200, "OK", "requestLogin reply").calling({ "requestLogin()" })
        .leaving({ { Keys::VpnUserLogin, L"new@example.com" },
                   { Keys::VpnUserPassword, L"pw1" },
                   { Keys::VpnUserRememberMe, L"true" } }),
    request("LoginRefusedForgetsCredentials", "accounts/login").withBody("login=new@example.com&pass=wrong")
        .stored(AllCredentials).given(result("requestLogin", { 401, "Unauthorized", L"Wrong password" }))
        .answers(401, "Unauthorized", "Wrong password").calling({ "requestLogin()" }).removing(CredentialKeys),
    request("LoginEmptyLogin", "accounts/login").withBody("login=&pass=x").stored(AllCredentials)
        .answers(400, "Bad request", "Please, enter correct email and password").leaving(AllCredentials),
    request("LoginEmptyPass", "accounts/login").withBody("login=new@example.com&pass=")
        .answers(400, "Bad request", "Please, enter correct email and password").removing({ Keys::VpnUserLogin }),
    request("LoginWithoutPass", "accounts/login").withBody("login=new@example.com")
        .answers(400, "Bad request", "Param \"login\" or \"pass\" not found")
        .logging({ errorLine({ "LocalHttpServer::updateAccCredentials", "no such parameter" }) })
        .removing({ Keys::VpnUserLogin }),
    request("LoginWithoutLogin", "accounts/login").withBody("pass=pw1")
        .answers(400, "Bad request", "Param \"login\" or \"pass\" not found").removing({ Keys::VpnUserPassword }),

    request("Logout", "accounts/logout").stored(AllCredentials).answers(200, "OK", "Success").removing(CredentialKeys),
    request("LogoutWhenLoggedOut", "accounts/logout").answers(200, "OK", "Success"),

    request("ResetPassword", "accounts/reset").withBody("email=new@example.com")
        .answers(200, "OK", "requestPasswordReset reply").calling({ "requestPasswordReset(new@example.com)" }),
    request("ResetWithoutEmail", "accounts/reset").withBody("mail=new@example.com")
        .answers(400, "Bad request", "Param \"name\" not found")
        .logging({ errorLine({ "LocalHttpServer::accountResetPass", "no such parameter" }) }),

    request("Orders", "accounts/orders").answers(200, "OK", "requestOrders reply").calling({ "requestOrders()" }),

    request("Token", "accounts/token").stored({ { Keys::VpnUserToken, L"tok-1" } }).answers(200, "OK", "tok-1"),
    request("NoToken", "accounts/token").answers(200, "Token not exist", ""),
    request("EmptyToken", "accounts/token").stored({ { Keys::VpnUserToken, L"" } })
        .answers(200, "Token not exist", ""),

    request("GetSetting", "setting/get").withBody("name=Internal.ovpnRequiredState")
        .stored({ { Keys::OvpnRequiredState, L"true" } }).answers(200, "OK", "true")
        .logging({ "Requested setting by name Internal.ovpnRequiredState" }),
    request("GetHiddenSetting", "setting/get").withBody("name=Hidden.VpnUser.login").stored(AllCredentials)
        .answers(200, "OK", "old@example.com"),
    request("GetPasswordIsEmpty", "setting/get").withBody("name=Hidden.VpnUser.password").stored(AllCredentials)
        .answers(200, "OK", ""),
    request("GetMissingSetting", "setting/get").withBody("name=Test.missing").answers(200, "OK", ""),
    request("GetWithoutName", "setting/get").withBody("value=1").answers(400, "Bad request", "Param \"name\" not found")
        .logging({ errorLine({ "LocalHttpServer::getSetting", "no such parameter" }) }),
    request("GetTakesNoHeaders", "setting/get").withHeaders("name: Internal.ovpnRequiredState\r\n")
        .answers(400, "Bad request", "Param \"name\" not found"),

    request("SetSetting", "setting/set").withHeaders("name: Internal.ovpnRequiredState\r\nvalue: true\r\n")
        .answers(200, "OK", "Success").leaving({ { Keys::OvpnRequiredState, L"true" } }),
    request("SetHiddenSetting", "setting/set").withHeaders("value: tok-2\r\nname: Hidden.VpnUser.token\r\n")
        .answers(200, "OK", "Success").leaving({ { Keys::VpnUserToken, L"tok-2" } }),
    request("SetEmptyValue", "setting/set").withHeaders("name: Test.empty\r\nvalue:\r\n")
        .answers(200, "OK", "Success").leaving({ { L"Test.empty", L"" } }),
    request("SetWithoutValue", "setting/set").withHeaders("name: Internal.ovpnRequiredState\r\n")
        .answers(400, "Bad request", "Param \"name\" or \"value\" not found").removing({ Keys::OvpnRequiredState }),
    request("SetTakesNoBody", "setting/set").withBody("name=Test.a&value=1")
        .answers(400, "Bad request", "Param \"name\" or \"value\" not found").removing({ L"Test.a" }),
    request("SetHeaderNamesExact", "setting/set").withHeaders("Name: Test.a\r\nValue: 1\r\n")
        .answers(400, "Bad request", "Param \"name\" or \"value\" not found").removing({ L"Test.a" }),
    request("SetCheckinAnswerRefused", "setting/set")
        .withHeaders("name: LastLoginRequestInfo.updateUrl\r\nvalue: http://127.0.0.1/other.exe\r\n")
        .stored({ { Keys::UpdateUrl, L"https://example.com/setup.exe" } })
        .answers(400, "Bad request", "Settings under \"LastLoginRequestInfo\" can't be changed")
        .logging({ errorLine({ "LocalHttpServer::setSetting", "refused to change", "LastLoginRequestInfo.updateUrl" }) })
        .leaving({ { Keys::UpdateUrl, L"https://example.com/setup.exe" } }),
    request("SetCheckinBranchRefused", "setting/set").withHeaders("name: LastLoginRequestInfo\r\nvalue: x\r\n")
        .answers(400, "Bad request", "Settings under \"LastLoginRequestInfo\" can't be changed")
        .removing({ Keys::LastLoginRequestInfo }),
    // A value beside children: the general document could not be saved again.
    request("SetFolderRefused", "setting/set").withHeaders("name: Internal\r\nvalue: x\r\n")
        .stored({ { Keys::OvpnRequiredState, L"false" } })
        .answers(400, "Bad request", HttpBody::NotASettingName)
        .logging({ errorLine({ "LocalHttpServer::setSetting refused a name that cannot hold a value:", "Internal" }) })
        .leaving({ { Keys::OvpnRequiredState, L"false" }, { L"Internal", L"" } }),
    request("SetBelowASettingRefused", "setting/set").withHeaders("name: Internal.ovpnRequiredState.x\r\nvalue: x\r\n")
        .stored({ { Keys::OvpnRequiredState, L"false" } })
        .answers(400, "Bad request", HttpBody::NotASettingName)
        .leaving({ { Keys::OvpnRequiredState, L"false" } }).removing({ L"Internal.ovpnRequiredState.x" }),
    request("SetEmptyNameRefused", "setting/set").withHeaders("name:\r\nvalue: x\r\n")
        .answers(400, "Bad request", HttpBody::NotASettingName),
    request("SetEmptyPartRefused", "setting/set").withHeaders("name: Test..a\r\nvalue: x\r\n")
        .answers(400, "Bad request", HttpBody::NotASettingName).removing({ L"Test" }),
    request("SetUnderAnEmptiedFolder", "setting/set").withHeaders("name: Test.folder.key\r\nvalue: x\r\n")
        .stored({ { L"Test.folder", L"" } })
        .answers(200, "OK", "Success").leaving({ { L"Test.folder.key", L"x" } }),
    request("SetSimilarBranch", "setting/set").withHeaders("name: LastLoginRequestInfoCopy.a\r\nvalue: x\r\n")
        .answers(200, "OK", "Success").leaving({ { L"LastLoginRequestInfoCopy.a", L"x" } }),

    request("SupportWithAddress", "support").withBody("message=Hello+there&address=me@example.com")
        .answers(200, "OK", "requestSupport reply").calling({ "requestSupport(Hello+there, me@example.com)" }),
    request("SupportWithToken", "support").withBody("message=Hello").stored({ { Keys::VpnUserToken, L"tok-1" } })
        .answers(200, "OK", "requestSupport reply").calling({ "requestSupport(Hello, )" }),
    request("SupportWithEmptyToken", "support").withBody("message=Hello").stored({ { Keys::VpnUserToken, L"" } })
        .answers(200, "OK", "requestSupport reply").calling({ "requestSupport(Hello, )" }),
    request("SupportWithoutAddressOrToken", "support").withBody("message=Hello&address=")
        .answers(400, "Bad request", "Address couldn't be empty"),
    request("SupportWithoutMessage", "support").withBody("address=me@example.com")
        .answers(500, "Internal Server Error", "no such parameter").logging({ LoopFailure + "no such parameter " }),
    request("SupportRefused", "support").withBody("message=Hello&address=me@example.com")
        .given(result("requestSupport", { 422, "Unprocessable Entity", L"Message too short" }))
        .answers(422, "Unprocessable Entity", "Message too short").calling({ "requestSupport(Hello, me@example.com)" }),

    request("Limits", "limits").answers(200, "OK", "requestAccountLimits reply").calling({ "requestAccountLimits()" }),

    request("RemoteLogin", "remote/login").withBody("token=tok-3&lifetime=3600&creationtime=5")
        .answers(200, "OK", "notifyAutologin reply").calling({ "notifyAutologin()" })
        .leaving({ { Keys::VpnUserToken, L"tok-3" } }),
    request("RemoteLoginNotifyFails", "remote/login").withBody("token=tok-3&lifetime=3600&creationtime=5")
        .given(result("notifyAutologin", { 500, "Internal Server Error", L"notify failed" }))
        .answers(200, "Internal Server Error", "notify failed").calling({ "notifyAutologin()" })
        .leaving({ { Keys::VpnUserToken, L"tok-3" } }),
    request("RemoteLoginEmptyLifetime", "remote/login").withBody("token=tok-3&lifetime=&creationtime=5")
        .answers(400, "Bad request", "None of params \"token\", \"lifeTime\" or \"creationtime\" can be empty")
        .removing({ Keys::VpnUserToken }),
    request("RemoteLoginWithoutCreationTime", "remote/login").withBody("token=tok-3&lifetime=3600")
        .answers(400, "Bad request", "Param \"token\", \"lifeTime\" or \"creationtime\" not found")
        .logging({ errorLine({ "LocalHttpServer::processRemoteLogin", "no such parameter" }) })
        .removing({ Keys::VpnUserToken }),
};

class ControlUrlTest : public HttpServerFixture, public ::testing::WithParamInterface<UrlCase> {
protected:
    // True when lines beginning with `expected` occur in the log in this order.
    bool logHasBeginningsInOrder(const std::vector<std::string>& expected) const
    {
        const std::vector<std::string> all = rawLogLines();
        auto next = all.begin();
        for (const std::string& beginning : expected) {
            next = std::find_if(next, all.end(), [&beginning](const std::string& line) {
                return line.compare(0, beginning.size(), beginning) == 0;
            });
            if (next == all.end())
                return false;
            ++next;
        }
        return true;
    }
};

} // namespace

TEST_P(ControlUrlTest, AnswersAsSpecified)
{
    const UrlCase& c = GetParam();
    for (const auto& [key, value] : c.before)
        mainSettings().setValue(key, value);
    if (c.arrange)
        c.arrange(manager);

    const HttpReply reply = post(c.path, c.body, c.headers);
    EXPECT_EQ(reply.status, c.status);
    EXPECT_EQ(reply.reason, c.reason);
    EXPECT_EQ(reply.body, c.replyBody);
    EXPECT_NE(reply.headers.find("Content-Type: text/html\r\n"), std::string::npos) << reply.headers;
    EXPECT_EQ(manager.calls(), c.calls);

    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/" + c.path;
    std::vector<std::string> log = { "Got a POST request " + url, infoLine({ "calling handler of", url }),
                                     FirstLogLines.at(c.path) };
    log.insert(log.end(), c.log.begin(), c.log.end());
    EXPECT_TRUE(logHasBeginningsInOrder(log)) << logText();
    EXPECT_EQ(countLines(FirstLogLines.at(c.path)), 1u);

    for (const auto& [key, value] : c.after) {
        EXPECT_TRUE(mainSettings().hasValue(key)) << toNarrowString(key);
        EXPECT_EQ(mainSettings().getValue<std::wstring>(key), value) << toNarrowString(key);
    }
    for (const std::wstring& key : c.absent)
        EXPECT_FALSE(mainSettings().hasValue(key)) << toNarrowString(key);
}

INSTANTIATE_TEST_SUITE_P(Urls, ControlUrlTest, ::testing::ValuesIn(UrlCases),
                         [](const ::testing::TestParamInfo<UrlCase>& info) { return info.param.label; });

TEST(ControlUrlCases, CoverEveryUrl)
{
    std::map<std::string, int> cases;
    for (const UrlCase& c : UrlCases)
        ++cases[c.path];
    EXPECT_EQ(cases.size(), FirstLogLines.size());
    for (const auto& entry : FirstLogLines)
        EXPECT_GT(cases[entry.first], 0) << entry.first;
}

TEST_F(HttpServerFixture, SettingGetAnswersNoAliasOfTheStoredPasswordAndNoNameWithAnEmptyComponent)
{
    mainSettings().setValue(Keys::VpnUserPassword, L"old-pass");
    mainSettings().setValue(Keys::LoggingEnabled, L"true");
    // A key of its own below an empty one: only a name with an empty component reaches it.
    storeKeyBelowAnEmptyKey(mainSettings());
    const struct { const char* name; const char* value; } cases[] = {
        { "Hidden.VpnUser.password", "" },
        { "Hidden.VpnUser.password.", "" },
        { "Hidden.VpnUser.password..", "" },
        { "Hidden..VpnUser.password", "" },
        { ".Hidden.VpnUser.password", "" },
        // Keys are compared with their case: these name other, missing settings.
        { "Hidden.VpnUser.Password", "" },
        { "HIDDEN.VPNUSER.PASSWORD", "" },
        { "Internal.LoggingEnabled", "true" },
        { "Internal.LoggingEnabled.", "" },
        { "Internal..LoggingEnabled", "" },
        { "Odd..key", "" },
        { ".", "" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const HttpReply reply = post("setting/get", std::string("name=") + c.name);
        EXPECT_EQ(reply.status, 200);
        EXPECT_EQ(reply.reason, "OK");
        EXPECT_EQ(reply.body, c.value);
    }
    EXPECT_EQ(mainSettings().getValue<std::wstring>(Keys::VpnUserPassword), L"old-pass");
}

TEST_F(HttpServerFixture, UserSetIsReadBackAndSurvivesAFailedSet)
{
    EXPECT_EQ(post("user/set", "user=S-1-5-21-1").body, "Setting");
    EXPECT_EQ(post("user/get").body, "S-1-5-21-1");
    EXPECT_EQ(post("user/set", "user=S-1-5-21-2").body, "Setting");
    EXPECT_EQ(post("user/set", "name=S-1-5-21-3").status, 400);
    EXPECT_EQ(post("user/get").body, "S-1-5-21-2");
    stopServer();
    // Each user's settings are saved before the next one takes over, and the last one's at stop.
    EXPECT_EQ(manager.calls(), (Calls { "saveUserAndMainSettings()", "saveUserAndMainSettings(S-1-5-21-1)",
                                        "saveUserAndMainSettings(S-1-5-21-2)", "saveUserAndMainSettings(S-1-5-21-2)" }));
}

TEST_F(HttpServerFixture, RemoteLoginTokenIsWhatAccountsTokenGives)
{
    EXPECT_EQ(post("remote/login", "token=tok-9&lifetime=60&creationtime=1").status, 200);
    const HttpReply reply = post("accounts/token");
    EXPECT_EQ(reply.reason, "OK");
    EXPECT_EQ(reply.body, "tok-9");
    EXPECT_EQ(post("accounts/logout").body, "Success");
    EXPECT_EQ(post("accounts/token").reason, "Token not exist");
}
