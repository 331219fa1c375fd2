// Every command of the service's pipe, request and reply to the byte, over recorded operations.
#include "ChildProcess.h"
#include "ProcessTokens.h"
#include "UnreadableSettingNames.h"
#include "PipeServerFixture.h"

#include "api/WinHttpRequest.h"
#include "pipe/PipeClientIdentity.h"
#include "settings/SettingsKeys.h"

#include "StringHelpers.h"

#include <boost/property_tree/ptree.hpp>

#include <algorithm>

namespace {

const std::wstring UserA = L"S-1-5-21-100-200-300-1001";
const std::wstring UserB = L"S-1-5-21-100-200-300-1002";

struct ReplyCase {
    const char* what;
    Bytes request;
    Bytes reply;
    std::vector<std::wstring> calls;
};

struct SilentCase {
    const char* what;
    Bytes request;
    std::vector<std::wstring> calls;
};

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

class PipeCommands : public PipeServerFixture {
protected:
    void SetUp() override
    {
        PipeServerFixture::SetUp();
        general().setValue(L"Browser.homePage", L"https://start.example");
        general().setValue(L"Browser.empty", L"");
        general().setValue(L"Browser.Sub.key", L"v");
        client = std::make_unique<PipeConnection>(pipeName);
        ASSERT_TRUE(client->connected());
    }
    void TearDown() override
    {
        client.reset();
        PipeServerFixture::TearDown();
    }

    // Sends a request that has no reply, then proves it got none and the connection goes on: the
    // next reply is that of a VPN-state request.
    void expectNoReplyAndServed(const Bytes& request, const char* what)
    {
        ASSERT_TRUE(client->send(request)) << what;
        EXPECT_EQ(shown(client->ask(::request(CMD_GET_VPN_STATE))), "03") << what;
    }

    std::optional<Bytes> get(const std::wstring& name) { return client->ask(request(CMD_GET_SETTING, { name })); }

    std::unique_ptr<PipeConnection> client;
};

TEST_F(PipeCommands, RepliesToTheByte)
{
    const ReplyCase cases[] = {
        { "get", request(CMD_GET_SETTING, { L"Browser.homePage" }), stringReply(L"https://start.example"), {} },
        { "get absent", request(CMD_GET_SETTING, { L"Browser.missing" }), AbsentField, {} },
        { "get empty", request(CMD_GET_SETTING, { L"Browser.empty" }), Bytes { 0, 0, 0, 0 }, {} },
        { "list settings", request(CMD_LIST_SETTINGS, { L"Browser" }), listReply({ L"homePage", L"empty" }), {} },
        { "list folders", request(CMD_LIST_FOLDERS, { L"Browser" }), listReply({ L"Sub" }), {} },
        { "list nothing", request(CMD_LIST_SETTINGS, { L"Nothing.here" }), Bytes { 0, 0, 0, 0 }, {} },
        { "update url", request(CMD_GET_UPDATE_URL), stringReply(L"https://example.invalid/update.exe"),
          { L"getUpdateUrlIfAvailable()", L"getUpdateUrlIfAvailable()" } },
        { "run update", request(CMD_RUN_UPDATE), Bytes { 1 }, { L"runUpdate()" } },
        { "post logs", request(CMD_POST_LOGS), Bytes { 0 }, { L"postLogs()" } },
        { "vpn state", request(CMD_GET_VPN_STATE), Bytes { 3 }, { L"getVpnState()" } },
        { "servers list", request(CMD_GET_SERVERS_LIST), stringReply(L"[{\"id\":\"nl1\"}]"), { L"requestServersList()" } },
    };
    for (const ReplyCase& c : cases) {
        operations->forgetCalls();
        EXPECT_EQ(shown(client->ask(c.request)), hex(c.reply)) << c.what;
        EXPECT_EQ(operations->operationCalls(), c.calls) << c.what;
    }
    EXPECT_TRUE(logHasInOrder({
        "Setting requested for  : Browser.homePage == https://start.example",
        "Setting requested for  : Browser.missing == <!!!-MISSING_SETTING-!!!>",
        "Setting requested for  : Browser.empty == <!!!-MISSING_SETTING-!!!>",
        "CMD_LIST_SETTINGS called",
        "CMD_LIST_FOLDERS called",
        "CMD_LIST_SETTINGS called",
        "Update URL: https://example.invalid/update.exe",
    }));
}

TEST_F(PipeCommands, TheOtherAnswersOfTheOperationsComeThroughAsTheyAre)
{
    operations->runUpdateResult = false;
    operations->postLogsResult = true;
    operations->updateUrl.clear();
    operations->serversList.clear();
    const ReplyCase cases[] = {
        { "run update refused", request(CMD_RUN_UPDATE), Bytes { 0 }, { L"runUpdate()" } },
        { "logs posted", request(CMD_POST_LOGS), Bytes { 1 }, { L"postLogs()" } },
        { "no update", request(CMD_GET_UPDATE_URL), Bytes { 0, 0, 0, 0 },
          { L"getUpdateUrlIfAvailable()", L"getUpdateUrlIfAvailable()" } },
        { "empty list", request(CMD_GET_SERVERS_LIST), Bytes { 0, 0, 0, 0 }, { L"requestServersList()" } },
    };
    for (const ReplyCase& c : cases) {
        operations->forgetCalls();
        EXPECT_EQ(shown(client->ask(c.request)), hex(c.reply)) << c.what;
        EXPECT_EQ(operations->operationCalls(), c.calls) << c.what;
    }
    for (int state = 0; state < 4; ++state) {
        operations->vpnState = state;
        EXPECT_EQ(shown(client->ask(request(CMD_GET_VPN_STATE))), hex({ static_cast<std::uint8_t>(state) }));
    }
}

TEST_F(PipeCommands, RequestsAreServedHoweverTheirBytesArrive)
{
    const Bytes two = request(CMD_GET_SETTING, { L"Browser.homePage" }) + request(CMD_GET_VPN_STATE);
    ASSERT_TRUE(client->send(two));
    EXPECT_EQ(shown(client->reply()), hex(stringReply(L"https://start.example"))) << "two requests in one write";
    EXPECT_EQ(shown(client->reply()), "03") << "two requests in one write";

    const Bytes slow = request(CMD_GET_SETTING, { L"Browser.Sub.key" }) + request(CMD_GET_VPN_STATE);
    ASSERT_TRUE(writeInPieces(client->handle(), slow, 1));
    EXPECT_EQ(shown(client->reply()), hex(stringReply(L"v"))) << "one byte at a time";
    EXPECT_EQ(shown(client->reply()), "03") << "one byte at a time";
}

TEST_F(PipeCommands, CommandsWithoutAReplyAreCarriedOutAndTheConnectionGoesOn)
{
    const SilentCase cases[] = {
        { "required state true", request(CMD_SET_REQUIRED_STATE, { L"true" }), { L"setRequiredState(true)" } },
        { "required state TRUE", request(CMD_SET_REQUIRED_STATE, { L"TRUE" }), { L"setRequiredState(false)" } },
        { "required state 1", request(CMD_SET_REQUIRED_STATE, { L"1" }), { L"setRequiredState(false)" } },
        { "restart update check", request(CMD_RESTART_UPDATE_CHECK), { L"restartUpdateCheck()" } },
        // The connect's own answer (here a refusal) does not keep the VPN from being wanted.
        { "connect", request(CMD_CONNECT_TO_SERVER, { L"nl1" }), { L"connectToServer(nl1)", L"setRequiredState(true)" } },
        // An id the connect refuses leaves the wanted state alone.
        { "connect to a path", request(CMD_CONNECT_TO_SERVER, { L"..\\x" }), { L"connectToServer(..\\x)" } },
        { "connect to a device", request(CMD_CONNECT_TO_SERVER, { L"com1" }), { L"connectToServer(com1)" } },
        { "no-op", request(CMD_NOOP, { L"anything" }), {} },
        { "code 0", request(0), {} },
        { "code 12", request(12, { L"ignored" }), {} },
        { "code 200", request(200), {} },
    };
    for (const SilentCase& c : cases) {
        operations->forgetCalls();
        expectNoReplyAndServed(c.request, c.what);
        std::vector<std::wstring> expected = c.calls;
        expected.push_back(L"getVpnState()");
        EXPECT_EQ(operations->operationCalls(), expected) << c.what;
    }
}

TEST_F(PipeCommands, SettingsOfTheGeneralSectionAndOfAUser)
{
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Browser.theme", L"dark" }), "set in general");
    EXPECT_EQ(shown(get(L"Browser.theme")), hex(stringReply(L"dark")));
    EXPECT_EQ(general().getValue<std::wstring>(L"Browser.theme"), L"dark");

    expectNoReplyAndServed(request(CMD_REMOVE_SETTING, { L"Browser.homePage" }), "remove in general");
    EXPECT_EQ(shown(get(L"Browser.homePage")), hex(AbsentField));

    operations->forgetCalls();
    expectNoReplyAndServed(request(CMD_SET_USER, { UserA }), "set user");
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Browser.theme", L"light" }), "set for the user");
    EXPECT_EQ(shown(get(L"Browser.theme")), hex(stringReply(L"light")));
    EXPECT_EQ(shown(client->ask(request(CMD_LIST_SETTINGS, { L"Browser" }))), hex(listReply({ L"theme" })));
    EXPECT_EQ(general().getValue<std::wstring>(L"Browser.theme"), L"dark");

    // The general document was saved before the switch; the user's on each change.
    const std::vector<std::wstring> calls = operations->calls();
    const std::vector<std::wstring> expectedStart { L"saveUserAndMainSettings()", L"getConfigUser(" + UserA + L")" };
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(std::vector<std::wstring>(calls.begin(), calls.begin() + 2), expectedStart);
    EXPECT_NE(std::find(calls.begin(), calls.end(), L"saveConfigSection(" + UserA + L")"), calls.end());
    EXPECT_TRUE(contains(decryptedDocument(L"user." + UserA + L".params"), "\"light\""));
    EXPECT_TRUE(contains(decryptedDocument(L"settings.params"), "\"dark\""));
    EXPECT_FALSE(contains(decryptedDocument(L"settings.params"), "homePage"));

    expectNoReplyAndServed(request(CMD_REMOVE_SETTING, { L"Browser.theme" }), "remove for the user");
    EXPECT_FALSE(contains(decryptedDocument(L"user." + UserA + L".params"), "light"));

    // The end of the connection saves the user it ended with.
    operations->forgetCalls();
    client.reset();
    ASSERT_TRUE(logGets("End of communicate"));
    EXPECT_EQ(operations->calls(), std::vector<std::wstring> { L"saveUserAndMainSettings(" + UserA + L")" });
    EXPECT_TRUE(logHasInOrder({
        "Setting changed for  : Browser.theme := dark",
        "Setting Browser.homePage removed for ",
        "SetUser called with " + std::string(UserA.begin(), UserA.end()),
        "Setting changed for " + std::string(UserA.begin(), UserA.end()) + " : Browser.theme := light",
    }));
}

TEST_F(PipeCommands, SettingAnotherUserSavesThePreviousOneFirst)
{
    expectNoReplyAndServed(request(CMD_SET_USER, { UserA }), "user A");
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Browser.theme", L"a" }), "set for A");
    operations->forgetCalls();
    expectNoReplyAndServed(request(CMD_SET_USER, { UserB }), "user B");
    const std::vector<std::wstring> expected { L"saveUserAndMainSettings(" + UserA + L")", L"getConfigUser(" + UserB + L")",
                                               L"getVpnState()" };
    EXPECT_EQ(operations->calls(), expected);
    EXPECT_EQ(shown(get(L"Browser.theme")), hex(AbsentField));
}

TEST_F(PipeCommands, AMalformedSidKeepsThePreviousUserAndIsNeverLogged)
{
    expectNoReplyAndServed(request(CMD_SET_USER, { UserA }), "user A");
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Browser.theme", L"a" }), "set for A");
    const std::wstring malformed[] = {
        L"..\\settings",
        L"S-1-5-21-1\r\n2016-01-01 00:00:00:\t[ERROR]:\tforged line",
        L"S-1-5-21-1\nforged line",
        L"S-1-5-21-1 ",
    };
    for (const std::wstring& sid : malformed) {
        SCOPED_TRACE(toNarrowString(sid));
        expectNoReplyAndServed(request(CMD_SET_USER, { sid }), "malformed sid");
        EXPECT_EQ(shown(get(L"Browser.theme")), hex(stringReply(L"a")));
    }
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Browser.theme", L"b" }), "set again");
    EXPECT_TRUE(contains(decryptedDocument(L"user." + UserA + L".params"), "\"b\""));
    EXPECT_EQ(filesInStore(), (std::vector<std::wstring> { L"settings.params", L"user." + UserA + L".params" }));
    EXPECT_EQ(countLines("SetUser refused, keeping the previous user: the text sent is no SID"), 4u);
    const std::string log = logText();
    EXPECT_FALSE(contains(log, "..\\settings")) << log;
    EXPECT_FALSE(contains(log, "forged")) << log;

    operations->forgetCalls();
    client.reset();
    ASSERT_TRUE(logGets("End of communicate"));
    EXPECT_EQ(operations->calls(), std::vector<std::wstring> { L"saveUserAndMainSettings(" + UserA + L")" });
}

TEST_F(PipeCommands, AnAdministratorClientMayNameEveryUser)
{
    // Wine runs this program, the pipe client, as an elevated administrator (in process, Wine
    // hands the pipe server the token of its own process, the client's here).
    const UniqueHandle token = processToken();
    const std::optional<PipeClientIdentity> self = tokenIdentity(token.get());
    ASSERT_TRUE(self);
    ASSERT_TRUE(self->privileged);
    for (const std::wstring& sid : { UserA, self->userSid, UserB }) {
        expectNoReplyAndServed(request(CMD_SET_USER, { sid }), "set user");
        expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Probe.owner", sid }), "set for the user");
        EXPECT_EQ(operations->store.getConfigUser(sid)->getValue<std::wstring>(L"Probe.owner"), sid);
    }
    EXPECT_EQ(countLinesBeginning("SetUser refused"), 0u);
}

// Run by the next test, in a child process of this program whose token is no administrator's:
// the pipe server in process sees that token as the client's, under Wine as on Windows.
TEST_F(PipeCommands, DISABLED_AClientThatIsNoAdministratorNamesOnlyItsOwnUser)
{
    const UniqueHandle token = processToken();
    const std::optional<PipeClientIdentity> self = tokenIdentity(token.get());
    ASSERT_TRUE(self);
    ASSERT_FALSE(self->privileged);
    const std::wstring& own = self->userSid;
    const struct {
        const char* what;
        std::wstring sid;
        std::wstring usedSection;  // "" for the general one
    } cases[] = {
        { "another user, from the general section", UserA, L"" },
        { "its own user", own, own },
        { "another user, from its own section", UserB, own },
        { "its own user once more", own, own },
        { "the general section", L"", L"" },
        { "another user again", UserA, L"" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        expectNoReplyAndServed(request(CMD_SET_USER, { c.sid }), c.what);
        expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Probe.case", toWideString(c.what) }), c.what);
        EXPECT_EQ(operations->store.getConfigUser(c.usedSection)->getValue<std::wstring>(L"Probe.case"),
                  toWideString(c.what));
    }
    EXPECT_EQ(filesInStore(), (std::vector<std::wstring> { L"settings.params", L"user." + own + L".params" }));
    EXPECT_EQ(countLinesBeginning("SetUser refused, keeping the previous user: the pipe client " + toNarrowString(own)
                                  + " may name only itself, not S-1-5-21-100-200-300-100"),
              3u);
    // Neither the other users' documents nor their sections were touched.
    for (const std::wstring& other : { UserA, UserB })
        EXPECT_EQ(countLines("getConfigUser(\"" + toNarrowString(other) + "\")"), 0u) << toNarrowString(other);
}

TEST(PipeClientRights, AClientThatIsNoAdministratorNamesOnlyItsOwnUser)
{
    const UniqueHandle token = nonAdministratorToken();
    ASSERT_TRUE(token);
    wchar_t self[MAX_PATH] = {};
    ASSERT_NE(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
    const std::wstring arguments = L" --gtest_also_run_disabled_tests "
                                   L"--gtest_filter=PipeCommands.DISABLED_AClientThatIsNoAdministrator*";
    const ChildResult child = runChild(quoted(self) + arguments, std::string(), 120000, token.get());
    ASSERT_TRUE(child.started);
    EXPECT_FALSE(child.timedOut);
    EXPECT_EQ(child.exitCode, 0u) << child.output;
    EXPECT_NE(child.output.find("[  PASSED  ] 1 test."), std::string::npos) << child.output;
}

TEST_F(PipeCommands, TheServersAnswerInTheGeneralSectionCannotBeChangedOverThePipe)
{
    general().setValue(SettingsKeys::UpdateUrl, L"https://vendor.example/update.exe");
    general().setValue(SettingsKeys::UpdateType, L"silent");
    const Bytes refused[] = {
        request(CMD_SET_SETTING, { L"LastLoginRequestInfo.updateUrl", L"http://elsewhere.example/x.exe" }),
        request(CMD_SET_SETTING, { L"LastLoginRequestInfo.newKey", L"x" }),
        request(CMD_SET_SETTING, { L"LastLoginRequestInfo", L"x" }),
        request(CMD_REMOVE_SETTING, { L"LastLoginRequestInfo.updateType" }),
        request(CMD_REMOVE_SETTING, { L"LastLoginRequestInfo" }),
    };
    for (const Bytes& r : refused)
        expectNoReplyAndServed(r, hex(r).c_str());
    EXPECT_EQ(shown(get(L"LastLoginRequestInfo.updateUrl")), hex(stringReply(L"https://vendor.example/update.exe")));
    EXPECT_EQ(shown(get(L"LastLoginRequestInfo.updateType")), hex(stringReply(L"silent")));
    EXPECT_EQ(shown(client->ask(request(CMD_LIST_SETTINGS, { L"LastLoginRequestInfo" }))),
              hex(listReply({ L"updateUrl", L"updateType" })));
    EXPECT_EQ(countLines("Change refused, the branch holds the server's answer, for  : LastLoginRequestInfo.updateUrl"), 1u);
    EXPECT_EQ(countLines("Change refused, the branch holds the server's answer, for  : LastLoginRequestInfo"), 2u);

    // A key that only begins with the branch's name is not in it; a user's own section has no such branch.
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"LastLoginRequestInfoCopy.updateUrl", L"x" }), "similar name");
    EXPECT_EQ(shown(get(L"LastLoginRequestInfoCopy.updateUrl")), hex(stringReply(L"x")));
    expectNoReplyAndServed(request(CMD_SET_USER, { UserA }), "user A");
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"LastLoginRequestInfo.updateUrl", L"u" }), "user's own");
    EXPECT_EQ(shown(get(L"LastLoginRequestInfo.updateUrl")), hex(stringReply(L"u")));
    EXPECT_EQ(general().getValue<std::wstring>(SettingsKeys::UpdateUrl), L"https://vendor.example/update.exe");
}

TEST_F(PipeCommands, NamesThatCannotHoldAValueAreIgnoredAndTheSectionsStillSave)
{
    general().setValue(SettingsKeys::OvpnRequiredState, false);
    general().setValue(SettingsKeys::VpnUserToken, L"old-token");
    const std::wstring before = general().toJson(false);
    const std::wstring refused[] = { L"", L"Browser..theme", L"Browser.", L"Internal", L"Hidden",
                                     L"Internal.ovpnRequiredState.x", L"Browser.homePage.deeper" };
    for (const std::wstring& name : refused) {
        expectNoReplyAndServed(request(CMD_SET_SETTING, { name, L"value" }), toNarrowString(name).c_str());
        EXPECT_EQ(countLines("Setting refused, the name cannot hold a value, for  : " + toNarrowString(name)), 1u)
            << toNarrowString(name);
    }
    EXPECT_EQ(general().toJson(false), before);
    EXPECT_EQ(countLinesBeginning("Setting changed for"), 0u);

    // What is set afterwards reaches the general document, and so does a user's section.
    expectNoReplyAndServed(request(CMD_SET_SETTING, { SettingsKeys::VpnUserToken, L"new-token" }), "token");
    expectNoReplyAndServed(request(CMD_SET_USER, { UserA }), "user A");
    EXPECT_TRUE(contains(decryptedDocument(L"settings.params"), "\"token\": \"new-token\""));
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Browser.theme", L"dark" }), "user's theme");
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Browser", L"value" }), "user's folder");
    expectNoReplyAndServed(request(CMD_SET_SETTING, { L"Browser.mode", L"compact" }), "user's mode");
    EXPECT_TRUE(contains(decryptedDocument(L"user." + UserA + L".params"), "\"mode\": \"compact\""));
}

TEST_F(PipeCommands, TheStoredPasswordIsNotReadBackAndAccountDataNeverReachesTheLog)
{
    general().setValue(SettingsKeys::VpnUserPassword, L"general-secret");
    general().setValue(SettingsKeys::VpnUserLogin, L"someone@example.com");
    EXPECT_EQ(shown(get(SettingsKeys::VpnUserPassword)), hex(AbsentField));
    EXPECT_EQ(shown(get(SettingsKeys::VpnUserLogin)), hex(stringReply(L"someone@example.com")));
    // The library's log-out removes it as before.
    expectNoReplyAndServed(request(CMD_REMOVE_SETTING, { SettingsKeys::VpnUserPassword }), "log-out");
    EXPECT_FALSE(general().hasValue(SettingsKeys::VpnUserPassword));

    expectNoReplyAndServed(request(CMD_SET_SETTING, { SettingsKeys::VpnUserToken, L"token-123" }), "token");
    EXPECT_EQ(shown(get(SettingsKeys::VpnUserToken)), hex(stringReply(L"token-123")));

    // A user's own section gives back what that user stored.
    expectNoReplyAndServed(request(CMD_SET_USER, { UserA }), "user A");
    expectNoReplyAndServed(request(CMD_SET_SETTING, { SettingsKeys::VpnUserPassword, L"own-secret" }), "own password");
    EXPECT_EQ(shown(get(SettingsKeys::VpnUserPassword)), hex(stringReply(L"own-secret")));

    const std::string log = logText();
    for (const char* secret : { "general-secret", "token-123", "own-secret", "someone@example.com" })
        EXPECT_FALSE(contains(log, secret)) << secret;
    EXPECT_EQ(countLines("Setting requested for  : Hidden.VpnUser.password == <!!!-MISSING_SETTING-!!!>"), 1u);
    EXPECT_EQ(countLines("Setting changed for  : Hidden.VpnUser.token := <hidden>"), 1u);
}

TEST_F(PipeCommands, NoAliasReadsTheStoredPasswordAndNoNameWithAnEmptyComponentIsRead)
{
    general().setValue(SettingsKeys::VpnUserPassword, L"general-secret");
    storeKeyBelowAnEmptyKey(general());
    for (const std::wstring& name : UnreadableSettingNames)
        EXPECT_EQ(shown(get(name)), hex(AbsentField)) << toNarrowString(name);
    EXPECT_EQ(shown(get(L"Browser.homePage")), hex(stringReply(L"https://start.example")));

    // In a user's own section the password is that user's to read, and only by its own name.
    expectNoReplyAndServed(request(CMD_SET_USER, { UserA }), "user A");
    expectNoReplyAndServed(request(CMD_SET_SETTING, { SettingsKeys::VpnUserPassword, L"own-secret" }), "own password");
    EXPECT_EQ(shown(get(SettingsKeys::VpnUserPassword)), hex(stringReply(L"own-secret")));
    for (const wchar_t* alias : { L"Hidden.VpnUser.password.", L"Hidden..VpnUser.password" })
        EXPECT_EQ(shown(get(alias)), hex(AbsentField)) << toNarrowString(alias);
}

TEST_F(PipeCommands, WithoutASectionTheSettingsCommandsAnswerEmptyAndChangeNothing)
{
    // Servers made from now on get no section from the store.
    operations->noSections = true;
    PipeConnection madeBefore(pipeName);
    PipeConnection sectionless(pipeName);
    ASSERT_TRUE(sectionless.connected());

    const ReplyCase cases[] = {
        { "get", request(CMD_GET_SETTING, { L"Browser.homePage" }), AbsentField, {} },
        { "list settings", request(CMD_LIST_SETTINGS, { L"Browser" }), Bytes { 0, 0, 0, 0 }, {} },
        { "list folders", request(CMD_LIST_FOLDERS, { L"Browser" }), Bytes { 0, 0, 0, 0 }, {} },
    };
    for (const ReplyCase& c : cases)
        EXPECT_EQ(shown(sectionless.ask(c.request)), hex(c.reply)) << c.what;
    ASSERT_TRUE(sectionless.send(request(CMD_SET_SETTING, { L"Browser.homePage", L"changed" })));
    ASSERT_TRUE(sectionless.send(request(CMD_REMOVE_SETTING, { L"Browser.empty" })));
    ASSERT_TRUE(sectionless.send(request(CMD_SET_USER, { UserA })));
    EXPECT_EQ(shown(sectionless.ask(request(CMD_GET_SETTING, { L"Browser.homePage" }))), hex(AbsentField));

    EXPECT_EQ(general().getValue<std::wstring>(L"Browser.homePage"), L"https://start.example");
    EXPECT_TRUE(general().hasValue(L"Browser.empty"));
    // Five commands, and the switch to a user that the store gives no section for.
    EXPECT_EQ(countLinesBeginning("No settings section for the request, server_id="), 7u);
}

// The client of a command with a reply waits for it in its read: when the operation fails before
// the reply, the connection ends, and so does the client's wait.
TEST_F(PipeCommands, ACommandWithAReplyWhoseOperationThrowsEndsTheConnection)
{
    const struct {
        const char* what;
        std::wstring operation;
        Bytes request;
        std::function<void()> failure;
        const char* lineEnd;
    } cases[] = {
        { "reply without a member", L"requestServersList", request(CMD_GET_SERVERS_LIST),
          [] { throw boost::property_tree::ptree_bad_path("No such node", boost::property_tree::ptree::path_type("token")); },
          " code 16 No such node (token)" },
        { "COM allocation", L"requestServersList", request(CMD_GET_SERVERS_LIST), [] { throw ComError { E_OUTOFMEMORY }; },
          " code 16 unknown error" },
        { "vpn state", L"getVpnState", request(CMD_GET_VPN_STATE), [] { throw std::runtime_error("no state"); },
          " code 15 no state" },
        { "post logs", L"postLogs", request(CMD_POST_LOGS), [] { throw std::bad_alloc(); },
          " code 14 std::bad_alloc" },
        { "run update", L"runUpdate", request(CMD_RUN_UPDATE), [] { throw 7; },
          " code 10 unknown error" },
        { "update url", L"getUpdateUrlIfAvailable", request(CMD_GET_UPDATE_URL), [] { throw std::runtime_error("url"); },
          " code 9 url" },
    };
    // The failure's line, from whichever server took the connection.
    const auto failureLogged = [this](const std::string& end) {
        for (const std::string& line : rawLogLines()) {
            if (line.rfind("Request failed, server_id=", 0) == 0 && line.size() >= end.size()
                && line.compare(line.size() - end.size(), end.size(), end) == 0)
                return true;
        }
        return false;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PipeConnection connection(pipeName);
        ASSERT_TRUE(connection.connected());
        operations->operationFailure = [&c](const std::wstring& operation) {
            if (operation == c.operation)
                c.failure();
        };
        ASSERT_TRUE(connection.send(c.request));
        EXPECT_TRUE(connection.endedByServer());
        EXPECT_FALSE(connection.reply(1000).has_value());
        operations->operationFailure = nullptr;
        EXPECT_TRUE(failureLogged(c.lineEnd));
    }
    EXPECT_EQ(countLinesBeginning("The failed request's reply cannot be given: the connection is ended, server_id="),
              std::size(cases));
    // Each connection ended as any other does, its settings saved.
    EXPECT_GE(countLinesBeginning("End of communicate"), std::size(cases));
    // Other connections are served on.
    EXPECT_EQ(shown(client->ask(request(CMD_GET_SERVERS_LIST))), hex(stringReply(operations->serversList)));
}

// Without a reply to wait for, the client is told nothing either way: the connection goes on.
TEST_F(PipeCommands, ACommandWithoutAReplyWhoseOperationThrowsIsLoggedAndTheConnectionGoesOn)
{
    operations->operationFailure = [](const std::wstring& operation) {
        if (operation == L"setRequiredState" || operation == L"restartUpdateCheck")
            throw std::runtime_error("refused");
    };
    expectNoReplyAndServed(request(CMD_SET_REQUIRED_STATE, { L"true" }), "required state");
    expectNoReplyAndServed(request(CMD_RESTART_UPDATE_CHECK), "restart");
    operations->operationFailure = nullptr;
    EXPECT_TRUE(logGets("Request failed, server_id= 0 code 8 refused"));
    EXPECT_TRUE(logGets("Request failed, server_id= 0 code 13 refused"));
    EXPECT_EQ(countLinesBeginning("The failed request's reply cannot be given"), 0u);
}
