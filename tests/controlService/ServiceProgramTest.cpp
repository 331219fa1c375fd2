// The installed service: its start-up, every pipe command against it, many clients at once, and its stop.
#include "InstalledServiceFixture.h"
#include "OvpnConfigFolder.h"
#include "PipeTestClient.h"
#include "ProcessTokens.h"
#include "UnreadableSettingNames.h"

#include "pipe/PipeClientIdentity.h"
#include "settings/RegistryGuid.h"

#include "CommandsClient.h"
#include "MockApi.h"
#include "StringHelpers.h"

#include <atomic>
#include <regex>
#include <thread>

namespace {

const std::wstring User = L"S-1-5-21-500-600-700-1001";

const std::string ServersPath = "/v3/servers/list";
const std::string LogUploadPath = "/user/log/";
const std::string ServersReply = R"({"status":true,"servers":[{"id":"pipe-01","name":"Pipe","country":"NL"}]})";

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

std::wstring widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// The form field's value, or "<missing>".
std::string field(const MockRequest& request, const std::string& name)
{
    for (const auto& [fieldName, value] : request.form)
        if (fieldName == name)
            return value;
    return "<missing>";
}

// The pipe's reply to a request for the setting, as bytes shown.
std::string settingOverPipe(PipeConnection& client, const std::wstring& key)
{
    return shown(client.ask(request(CMD_GET_SETTING, { key })));
}

// Waits (bounded) until the setting reads as `value` over the pipe.
bool settingGets(PipeConnection& client, const std::wstring& key, const std::wstring& value)
{
    for (int i = 0; i < 3000; ++i) {
        if (settingOverPipe(client, key) == hex(stringReply(value)))
            return true;
        Sleep(10);
    }
    return false;
}

} // namespace

class RunningService : public InstalledService {
protected:
    void scriptMock() override { mock.setReply(ServersPath, 200, ServersReply); }

    // Sends a request that has no reply and shows the connection still served: the next reply is
    // that of a VPN-state request.
    std::string silentThenState(PipeConnection& client, const Bytes& request)
    {
        EXPECT_TRUE(client.send(request));
        return shown(client.ask(::request(CMD_GET_VPN_STATE)));
    }
};

TEST_F(RunningService, StartsWithItsBannerAndStopsWithinItsLimit)
{
    ASSERT_TRUE(logGets("Waiting for client connection server_id= 0"));
    ASSERT_TRUE(checkinSaved());
    ASSERT_TRUE(logGets("Waiting for HTTP request"));
    const std::string port = std::to_string(httpPort());
    const auto started = logLines();
    ASSERT_GE(started.size(), 2u);
    EXPECT_EQ(started[0], "Enabled logging...");
    EXPECT_TRUE(std::regex_match(started[1], std::regex("Starting Nimbal Privacy Service, version 1\\.1\\.0\\.33 built "
                                                        "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}")))
        << started[1];
    EXPECT_TRUE(logHasInOrder({ "Start Update Check thread",
                                "ServerApiOperator::checkin Request to https://localhost:" + std::to_string(mock.port()) + "/v3/client/checkin" }));
    EXPECT_TRUE(logHasInOrder({ "Start Settings thread", "Server created", "Waiting for client connection server_id= 0" }));
    EXPECT_TRUE(logHasInOrder({ "Start WinServer thread", "Win server starting on port " + port,
                                "Listening on url http://127.0.0.1:" + port + "/TYTUT",
                                "Listening on url http://127.0.0.1:" + port + "/remote/login",
                                "LocalHttpServer::processRequests begin", "Waiting for HTTP request" }));
    EXPECT_EQ(count("HttpAddUrl failed with error code"), 0u);
    // The update worker waits for its next check-in until the stop.
    EXPECT_EQ(count("Stop Update thread"), 0u);

    EXPECT_TRUE(contains(runServiceProgram(L"-stop"), "Nimbal is stopped."));
    EXPECT_EQ(readService().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(logHasInOrder({ "Nimbal Privacy terminating", "ServerPool::Close-- CLOSE ALL",
                                "ServerPool::Close-- DONE.", "Save users configurations...", "Stopping web server...",
                                "Waiting for end of all threads", "Nimbal Privacy terminated" }));
    EXPECT_TRUE(logGets("HttpReceiveHttpRequest end"));
    EXPECT_TRUE(logGets("Stop Settings thread"));
    EXPECT_TRUE(logGets("Stop Update thread"));
    EXPECT_EQ(count("Finish Pool Thread:"), 1u);
    EXPECT_EQ(count("ZazozeControlService::OnStop::waitThreadsOnStop Waiting too long for threads!!! Aborting "
                    "updateCheckThreadRunning= 0 updDownloader stopped"), 0u);
    EXPECT_EQ(mock.requestsTo(CheckinPath).size(), 1u);

    // The stop saved the general document with the defaults of this version and the check-in's reply.
    const std::string saved = document(L"settings.params");
    EXPECT_TRUE(contains(saved, "\"updateRequestInterval\": \"86400\"")) << saved;
    EXPECT_TRUE(contains(saved, "\"LoggingEnabled\": \"true\"")) << saved;
    EXPECT_TRUE(contains(saved, "\"LastLoginRequestInfo\"")) << saved;
}

TEST_F(RunningService, AnswersEveryCommandToTheByte)
{
    const std::wstring marker = AppdataPath + L"launched-by-pipe-client.txt";
    DeleteFileW(marker.c_str());
    // After the start's check-in, which copies the server's settings.
    ASSERT_TRUE(checkinSaved());
    const OvpnConfigFolder vpnFiles { { L"client.auth", L"default.ovpn", L"nl1.ovpn" } };
    PipeConnection client(CommandsPipeName);
    ASSERT_TRUE(client.connected());

    // Settings of the general section.
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"UpdatableSettings.updateRequestInterval" }))),
              hex(stringReply(L"86400")));
    EXPECT_EQ(shown(client.ask(request(CMD_LIST_SETTINGS, { L"UpdatableSettings" }))),
              hex(listReply({ L"updateRequestInterval", L"updateRequestIntervalIfFailed", L"vpnDiagnosticsInterval",
                              L"ovpnControlPort", L"remindOnBrowserDays", L"agentIconUpdTimeout", L"regexpWhite",
                              L"regexpBlack" })));
    EXPECT_EQ(silentThenState(client, request(CMD_SET_SETTING, { L"Browser.homePage", L"https://start.example" })), "00");
    EXPECT_EQ(silentThenState(client, request(CMD_SET_SETTING, { L"Browser.empty", L"" })), "00");
    EXPECT_EQ(silentThenState(client, request(CMD_SET_SETTING, { L"Browser.Tabs.first", L"x" })), "00");
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"Browser.homePage" }))), hex(stringReply(L"https://start.example")));
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"Browser.empty" }))), "00 00 00 00");
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"Browser.missing" }))), "FF FF FF FF");
    EXPECT_EQ(shown(client.ask(request(CMD_LIST_SETTINGS, { L"Browser" }))), hex(listReply({ L"homePage", L"empty" })));
    EXPECT_EQ(shown(client.ask(request(CMD_LIST_FOLDERS, { L"Browser" }))), hex(listReply({ L"Tabs" })));
    EXPECT_EQ(silentThenState(client, request(CMD_REMOVE_SETTING, { L"Browser.Tabs" })), "00");
    EXPECT_EQ(shown(client.ask(request(CMD_LIST_FOLDERS, { L"Browser" }))), "00 00 00 00");

    // Codes without a command, and the no-op.
    for (std::uint8_t code : { 0, 12, 200 })
        EXPECT_EQ(silentThenState(client, request(code)), "00") << int(code);
    EXPECT_EQ(silentThenState(client, request(CMD_NOOP, { L"ignored" })), "00");

    // A user's section; the general document is saved first.
    EXPECT_EQ(silentThenState(client, request(CMD_SET_USER, { User })), "00");
    EXPECT_TRUE(contains(document(L"settings.params"), "start.example"));
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"Browser.homePage" }))), "FF FF FF FF");
    EXPECT_EQ(silentThenState(client, request(CMD_SET_SETTING, { L"Browser.homePage", L"https://mine.example" })), "00");
    EXPECT_TRUE(contains(document(L"user." + User + L".params"), "mine.example"));
    EXPECT_EQ(silentThenState(client, request(CMD_REMOVE_SETTING, { L"Browser.homePage" })), "00");
    EXPECT_FALSE(contains(document(L"user." + User + L".params"), "mine.example"));
    EXPECT_EQ(silentThenState(client, request(CMD_SET_USER, { L"" })), "00");
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"Browser.homePage" }))), hex(stringReply(L"https://start.example")));

    // The VPN: wanted or not, with no daemon to run (the mock API hands out configurations).
    EXPECT_EQ(silentThenState(client, request(CMD_SET_REQUIRED_STATE, { L"true" })), "01");
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"Internal.ovpnRequiredState" }))), hex(stringReply(L"true")));
    EXPECT_EQ(silentThenState(client, request(CMD_SET_REQUIRED_STATE, { L"TRUE" })), "00");
    EXPECT_EQ(silentThenState(client, request(CMD_CONNECT_TO_SERVER, { L"nl1" })), "01");
    EXPECT_EQ(silentThenState(client, request(CMD_SET_REQUIRED_STATE, { L"false" })), "00");
    // A refused server id does not make the VPN wanted.
    for (const wchar_t* refused : { L"CON", L"nul.ovpn", L"..\\nl1", L"a b" })
        EXPECT_EQ(silentThenState(client, request(CMD_CONNECT_TO_SERVER, { refused })), "00") << toNarrowString(refused);
    EXPECT_EQ(silentThenState(client, request(CMD_CONNECT_TO_SERVER, { std::wstring(129, L'n') })), "00");
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"Internal.ovpnRequiredState" }))), hex(stringReply(L"false")));

    // The update: the start's check-in offered this version as a manual one, so there is no URL to
    // hand out and nothing for the service to start.
    EXPECT_EQ(shown(client.ask(request(CMD_GET_UPDATE_URL))), "00 00 00 00");
    EXPECT_EQ(shown(client.ask(request(CMD_RUN_UPDATE))), "00");

    // The API client's operations: the log upload and the servers list, each reaching the mock.
    EXPECT_EQ(shown(client.ask(request(CMD_POST_LOGS))), "01");
    ASSERT_EQ(mock.requestsTo(LogUploadPath).size(), 1u);
    for (const char* name : { "srvLog", "ovpnLog", "installLog" })
        EXPECT_NE(field(mock.requestsTo(LogUploadPath)[0], name), "<missing>") << name;
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SERVERS_LIST))), hex(stringReply(widen(ServersReply))));
    ASSERT_EQ(mock.requestsTo(ServersPath).size(), 1u);
    const MockRequest servers = mock.requestsTo(ServersPath)[0];
    EXPECT_EQ(field(servers, "deviceId"), field(mock.requestsTo(CheckinPath)[0], "deviceId"));
    EXPECT_EQ(field(servers, "platform"), "windows");

    // A new update worker that checks in at once, and a program started as the pipe client.
    EXPECT_EQ(silentThenState(client, request(CMD_RESTART_UPDATE_CHECK)), "00");
    EXPECT_TRUE(logGets("Stop Update thread"));
    EXPECT_TRUE(logGets("Start Update Check thread", 2));
    EXPECT_TRUE(checkinsGet(2));
    EXPECT_EQ(silentThenState(client, request(CMD_LAUNCH_APP, { quoted(hostPath(NIMBAL_PROBE_CHILD_EXE)) + L" env USERNAME " + quoted(marker) })),
              "00");
    for (int i = 0; i < 3000 && !fileExists(marker); ++i)
        Sleep(10);
    EXPECT_TRUE(fileExists(marker));
    DeleteFileW(marker.c_str());
    EXPECT_EQ(count("LaunchApp_ " + toNarrowString(quoted(hostPath(NIMBAL_PROBE_CHILD_EXE)) + L" env USERNAME " + quoted(marker))), 0u);

    client.close();
    EXPECT_TRUE(logGets("End of communicate"));
    EXPECT_TRUE(logHasInOrder({ "Client connected, server_id= 0", "Client disconnected", "Closing section", "End of communicate" }));
}

TEST_F(RunningService, NoAliasOfTheStoredPasswordIsReadOverThePipe)
{
    PipeConnection client(CommandsPipeName);
    ASSERT_TRUE(client.connected());
    const std::pair<const wchar_t*, const wchar_t*> stored[] = {
        { L"Hidden.VpnUser.password", L"pipe-secret" },
        { L"Browser.homePage", L"https://start.example" },
        { L"Odd..key", L"odd" },
    };
    for (const auto& [name, value] : stored)
        EXPECT_EQ(silentThenState(client, request(CMD_SET_SETTING, { name, value })), "00");
    for (const std::wstring& name : UnreadableSettingNames)
        EXPECT_EQ(settingOverPipe(client, name), hex(AbsentField)) << toNarrowString(name);
    EXPECT_EQ(settingOverPipe(client, L"Browser.homePage"), hex(stringReply(L"https://start.example")));
    client.close();
    ASSERT_TRUE(logGets("End of communicate"));
    EXPECT_TRUE(contains(document(L"settings.params"), "pipe-secret"));
}

TEST_F(RunningService, SetUserTakesTheClientsOwnUserAndAnAdministratorsNamingOfAnother)
{
    // Wine runs every program as the same elevated administrator, and hands the pipe server its
    // own token for every client: the service sees this client as that administrator. A client
    // that is no administrator is shown refused in process (PipeCommandsTest).
    const UniqueHandle token = processToken();
    const std::optional<PipeClientIdentity> self = tokenIdentity(token.get());
    ASSERT_TRUE(self);
    ASSERT_TRUE(self->privileged);
    ASSERT_TRUE(checkinSaved());

    PipeConnection client(CommandsPipeName);
    ASSERT_TRUE(client.connected());
    for (const std::wstring& sid : { self->userSid, User }) {
        SCOPED_TRACE(toNarrowString(sid));
        EXPECT_EQ(silentThenState(client, request(CMD_SET_USER, { sid })), "00");
        EXPECT_EQ(silentThenState(client, request(CMD_SET_SETTING, { L"Probe.owner", sid })), "00");
        EXPECT_EQ(settingOverPipe(client, L"Probe.owner"), hex(stringReply(sid)));
        EXPECT_TRUE(contains(document(L"user." + sid + L".params"), "\"owner\": \"" + toNarrowString(sid) + "\""));
    }
    EXPECT_EQ(silentThenState(client, request(CMD_SET_USER, { L"" })), "00");
    EXPECT_EQ(settingOverPipe(client, L"Probe.owner"), "FF FF FF FF");
    const auto lines = logLines();
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                             [](const std::string& line) { return line.rfind("SetUser refused", 0) == 0; }));
}

TEST_F(RunningService, EightClientsAtOnceEachGetTheirOwnRepliesInOrder)
{
    constexpr int Clients = 8;
    constexpr int Rounds = 300;
    std::atomic<int> wrong { 0 };
    std::atomic<int> unconnected { 0 };
    std::vector<std::thread> threads;
    for (int c = 0; c < Clients; ++c) {
        threads.emplace_back([&, c] {
            PipeConnection client(CommandsPipeName);
            if (!client.connected()) {
                ++unconnected;
                return;
            }
            const std::wstring folder = L"Concurrency.client" + std::to_wstring(c);
            for (int k = 0; k < 10; ++k)
                client.send(request(CMD_SET_SETTING, { folder + L".v" + std::to_wstring(k), L"c" + std::to_wstring(c) + L"-v" + std::to_wstring(k) }));
            for (int round = 0; round < Rounds; ++round) {
                const int k = round % 10;
                const auto value = client.ask(request(CMD_GET_SETTING, { folder + L".v" + std::to_wstring(k) }));
                if (!value || *value != stringReply(L"c" + std::to_wstring(c) + L"-v" + std::to_wstring(k)))
                    ++wrong;
                if (round % 30 == 0) {
                    const auto names = client.ask(request(CMD_LIST_SETTINGS, { folder }));
                    if (!names || names->size() < 4 || (*names)[0] != 10)
                        ++wrong;
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(unconnected, 0);
    EXPECT_EQ(wrong, 0);
}

// A machine whose registry holds no device identifier: the first check-in installs the device.
class FreshDevice : public InstalledService {
protected:
    void SetUp() override
    {
        registry_guid_backup::removeValue(KEY_WOW64_32KEY);
        registry_guid_backup::removeValue(KEY_WOW64_64KEY);
        InstalledService::SetUp();
    }
};

TEST_F(FreshDevice, ChecksInAtStartAsAnInstallWithTheIdentifierItKeeps)
{
    ASSERT_TRUE(checkinsGet(1));
    const MockRequest first = mock.requestsTo(CheckinPath)[0];
    EXPECT_EQ(field(first, "method"), "install");
    EXPECT_EQ(field(first, "version"), "1.1.0.33");
    EXPECT_EQ(field(first, "platform"), "windows");
    const std::string guid = field(first, "deviceId");
    EXPECT_TRUE(std::regex_match(guid, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"))) << guid;

    PipeConnection client(CommandsPipeName);
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(settingOverPipe(client, L"InstallSettings.clientGUID"), hex(stringReply(widen(guid))));
    EXPECT_EQ(toNarrowString(readRegistryGuid()), guid);
}

// A check-in reply with server-controlled settings of its own.
class CheckinReply : public InstalledService {
protected:
    void scriptMock() override
    {
        mock.setReply(CheckinPath, 200,
                      R"({"status":true,"version":"1.1.0.33","updateType":"manual","vpnDiagnosticsInterval":17,)"
                      R"("ovpnControlPort":6123,"updateRequestInterval":86400})");
    }
};

TEST_F(CheckinReply, IsStoredAndItsSettingsCopiedAndSaved)
{
    PipeConnection client(CommandsPipeName);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(settingGets(client, L"UpdatableSettings.ovpnControlPort", L"6123"));
    const struct { const wchar_t* key; const wchar_t* value; } expected[] = {
        { L"LastLoginRequestInfo.vpnDiagnosticsInterval", L"17" },
        { L"LastLoginRequestInfo.ovpnControlPort", L"6123" },
        { L"UpdatableSettings.vpnDiagnosticsInterval", L"17" },
        { L"UpdatableSettings.ovpnControlPort", L"6123" },
        // Not in the reply: the default stays.
        { L"UpdatableSettings.updateRequestIntervalIfFailed", L"3600" },
    };
    for (const auto& e : expected)
        EXPECT_EQ(settingOverPipe(client, e.key), hex(stringReply(e.value))) << toNarrowString(e.key);
    // A successful check-in saves the general document.
    for (int i = 0; i < 3000 && !contains(document(L"settings.params"), "6123"); ++i)
        Sleep(10);
    EXPECT_TRUE(contains(document(L"settings.params"), "\"ovpnControlPort\": \"6123\""));
}

// A first reply that asks for the next check-in at once and a one-second retry (each made the
// shortest wait there is, five seconds), then a failing one.
class FailingCheckin : public InstalledService {
protected:
    void scriptMock() override
    {
        mock.queueReply(CheckinPath, 200, R"({"status":true,"updateRequestInterval":0,"updateRequestIntervalIfFailed":1})");
        mock.queueReply(CheckinPath, 200, "");
    }
};

TEST_F(FailingCheckin, IsRetriedAfterTheFailureIntervalOfTheLastReply)
{
    ASSERT_TRUE(checkinsGet(3));
    PipeConnection client(CommandsPipeName);
    ASSERT_TRUE(client.connected());
    // The third got the built-in reply, whose intervals then hold.
    ASSERT_TRUE(settingGets(client, L"UpdatableSettings.updateRequestIntervalIfFailed", L"3600"));
    EXPECT_EQ(count("Login failed - will retry in 5 seconds(s)."), 1u);
    const auto checkins = mock.requestsTo(CheckinPath);
    ASSERT_EQ(checkins.size(), 3u);
    for (const MockRequest& checkin : checkins)
        EXPECT_EQ(field(checkin, "deviceId"), field(checkins[0], "deviceId"));
    EXPECT_EQ(field(checkins[2], "method"), "periodical");
}
