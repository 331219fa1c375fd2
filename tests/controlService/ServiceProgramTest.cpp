// The installed service: its start-up, every pipe command against it, many clients at once, and its stop.
#include "InstalledServiceFixture.h"
#include "PipeTestClient.h"

#include "CommandsClient.h"
#include "StringHelpers.h"

#include <atomic>
#include <regex>
#include <thread>

namespace {

const std::wstring User = L"S-1-5-21-500-600-700-1001";

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

class RunningService : public InstalledService {
protected:
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
    ASSERT_TRUE(logGets("Stop Update thread"));
    ASSERT_TRUE(logGets("ZazozeControlService::winServerThread: no HTTP server to run"));
    const auto started = logLines();
    ASSERT_GE(started.size(), 2u);
    EXPECT_EQ(started[0], "Enabled logging...");
    EXPECT_TRUE(std::regex_match(started[1], std::regex("Starting Nimbal Privacy Service, version 1\\.1\\.0\\.33 built "
                                                        "[A-Z][a-z]{2} [A-Z][a-z]{2} [ 123]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}")))
        << started[1];
    EXPECT_TRUE(logHasInOrder({ "Start Update Check thread", "ZazozeControlService::UpdateCheckThread: no API client, no check-in to run",
                                "Stop Update thread" }));
    EXPECT_TRUE(logHasInOrder({ "Start Settings thread", "Server created", "Waiting for client connection server_id= 0" }));
    EXPECT_TRUE(logHasInOrder({ "Start WinServer thread", "ZazozeControlService::winServerThread: no HTTP server to run" }));

    EXPECT_TRUE(contains(runServiceProgram(L"-stop"), "Nimbal is stopped."));
    EXPECT_EQ(readService().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(logHasInOrder({ "Nimbal Privacy terminating", "ServerPool::Close-- CLOSE ALL",
                                "ServerPool::Close-- DONE.", "Save users configurations...", "Waiting for end of all threads",
                                "Nimbal Privacy terminated" }));
    EXPECT_TRUE(logGets("Stop Settings thread"));
    EXPECT_EQ(count("Finish Pool Thread:"), 1u);
    EXPECT_EQ(count("ZazozeControlService::OnStop::waitThreadsOnStop Waiting too long for threads!!! Aborting "
                    "updateCheckThreadRunning= 0 updDownloader stopped"), 0u);

    // The stop saved the general document with the defaults of this version.
    const std::string saved = document(L"settings.params");
    EXPECT_TRUE(contains(saved, "\"updateRequestInterval\": \"86400\"")) << saved;
    EXPECT_TRUE(contains(saved, "\"LoggingEnabled\": \"true\"")) << saved;
}

TEST_F(RunningService, AnswersEveryCommandToTheByte)
{
    const std::wstring marker = AppdataPath + L"launched-by-pipe-client.txt";
    DeleteFileW(marker.c_str());
    PipeConnection client(CommandsPipeName);
    ASSERT_TRUE(client.connected());

    // Settings of the general section.
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"UpdatableSettings.updateRequestInterval" }))),
              hex(stringReply(L"86400")));
    EXPECT_EQ(shown(client.ask(request(CMD_LIST_SETTINGS, { L"UpdatableSettings" }))),
              hex(listReply({ L"updateRequestInterval", L"updateRequestIntervalIfFailed", L"vpnDiagnosticsInterval",
                              L"ovpnControlPort", L"remindOnBrowserDays", L"agentIconUpdTimeout" })));
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

    // The VPN: wanted or not, with no daemon to run.
    EXPECT_EQ(silentThenState(client, request(CMD_SET_REQUIRED_STATE, { L"true" })), "01");
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SETTING, { L"Internal.ovpnRequiredState" }))), hex(stringReply(L"true")));
    EXPECT_EQ(silentThenState(client, request(CMD_SET_REQUIRED_STATE, { L"TRUE" })), "00");
    EXPECT_EQ(silentThenState(client, request(CMD_CONNECT_TO_SERVER, { L"nl1" })), "01");
    EXPECT_EQ(silentThenState(client, request(CMD_SET_REQUIRED_STATE, { L"false" })), "00");

    // What needs members the service does not have yet answers as failing.
    EXPECT_EQ(shown(client.ask(request(CMD_GET_UPDATE_URL))), "00 00 00 00");
    EXPECT_EQ(shown(client.ask(request(CMD_RUN_UPDATE))), "00");
    EXPECT_EQ(shown(client.ask(request(CMD_POST_LOGS))), "00");
    EXPECT_EQ(shown(client.ask(request(CMD_GET_SERVERS_LIST))), hex(stringReply(L"The API client is not available")));

    // A new update worker, and a program started as the pipe client.
    EXPECT_EQ(silentThenState(client, request(CMD_RESTART_UPDATE_CHECK)), "00");
    EXPECT_TRUE(logGets("Stop Update thread", 2));
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
