// The service object in process: start-up settings, the check-in loop, the HTTP port, the
// operations it carries out itself and those it hands to its API client. It shares the service's
// settings folder, so it runs alone.
#include "LogLines.h"
#include "OvpnConfigFolder.h"
#include "RegistryGuidBackup.h"
#include "SettingsLogFixture.h"

#include "BuildStamp.h"
#include "CheckinWait.h"
#include "ZazozeControlService.h"
#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"
#include "settings/SettingsKeys.h"
#include "VpnState.h"

#include "ComPtr.h"
#include "NetworkHelpers.h"
#include "MockApi.h"
#include "SocketHandle.h"
#include "StringCipher.h"
#include "StringHelpers.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <regex>
#include <thread>

namespace {

// The service's protected parts, for the tests to drive.
class ServiceUnderTest : public ZazozeControlService {
public:
    using ZazozeControlService::asyncUpdateRunning;
    using ZazozeControlService::checkInstalledVersion;
    using ZazozeControlService::lastCheckinSucceeded;
    using ZazozeControlService::logUploadFields;
    using ZazozeControlService::OnShutdown;
    using ZazozeControlService::queueHttpWorker;
    using ZazozeControlService::runCheckinLoop;
    using ZazozeControlService::stopping;
    using ZazozeControlService::updateCheckThreadRunning;
    using ZazozeControlService::updateEvent;
    using ZazozeControlService::vpnCheckEvent;
};

const std::wstring GeneralDocument = AppdataPath + L"settings.params";

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// A loopback port held for as long as the owner lives; nothing else can bind it.
UniqueSocket holdPort(int port)
{
    UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    BOOL exclusive = TRUE;
    setsockopt(s.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    if (bind(s.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        s.reset();
    return s;
}

} // namespace

class ServiceObject : public SettingsLogFixture {
protected:
    void SetUp() override
    {
        SettingsLogFixture::SetUp();
        WSADATA data {};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        DeleteFileW(GeneralDocument.c_str());
        ASSERT_TRUE(SUCCEEDED(com.result()));
        mock.reset();
    }
    void TearDown() override
    {
        DeleteFileW(GeneralDocument.c_str());
        WSACleanup();
        view32.restore();
        view64.restore();
        SettingsLogFixture::TearDown();
    }

    // The log's lines; a logged document's own lines carry no timestamp.
    std::vector<std::string> entries() const { return unstampedLines(logText()); }

    bool logGets(const std::string& line)
    {
        for (int i = 0; i < 3000; ++i) {
            const auto all = entries();
            if (std::find(all.begin(), all.end(), line) != all.end())
                return true;
            Sleep(10);
        }
        return false;
    }
    size_t count(const std::string& line) const
    {
        const auto all = entries();
        return static_cast<size_t>(std::count(all.begin(), all.end(), line));
    }
    // The ports that the HTTP port search found busy and free, in the order it tried them.
    std::vector<std::pair<int, bool>> probedPorts() const
    {
        static const std::regex probe("\\[INFO\\]: \\t checkPort Port is (busy|available) 127\\.0\\.0\\.1 : (\\d+) ");
        std::vector<std::pair<int, bool>> ports;
        std::smatch match;
        for (const std::string& line : entries()) {
            if (std::regex_match(line, match, probe))
                ports.emplace_back(std::stoi(match[2]), match[1] == "available");
        }
        return ports;
    }

    // Constructed before SetUp changes anything: the check-ins write the registry's identifier.
    const registry_guid_backup::ViewState view32 { KEY_WOW64_32KEY };
    const registry_guid_backup::ViewState view64 { KEY_WOW64_64KEY };
    ComInit com { COINIT_APARTMENTTHREADED };
    MockApi mock;
    ServiceUnderTest service;
};

TEST(BuildStamp, GivesTheCompilersDateAndTimeWithItsWeekday)
{
    struct { const char* date; const char* time; const char* text; } const cases[] = {
        { "Oct 26 2015", "17:30:17", "Mon Oct 26 17:30:17 2015" },
        { "Feb 29 2016", "00:00:01", "Mon Feb 29 00:00:01 2016" },
        { "Jan  1 2000", "12:00:00", "Sat Jan  1 12:00:00 2000" },
        { "Dec 31 1999", "23:59:59", "Fri Dec 31 23:59:59 1999" },
        { "Mar  1 2100", "08:15:00", "Mon Mar  1 08:15:00 2100" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(buildStampText(c.date, c.time), c.text);
    EXPECT_TRUE(std::regex_match(buildStamp(), std::regex("(Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z]{2} [ 123]\\d "
                                                          "\\d\\d:\\d\\d:\\d\\d \\d{4}")))
        << buildStamp();
}

TEST_F(ServiceObject, AnotherVersionsDocumentGetsTheDefaultsBackAndThisVersionsKeepsItsValues)
{
    struct { const char* version; const char* interval; const char* required; } const cases[] = {
        { "1.0.0.7", "86400", "false" },
        { "", "86400", "false" },
        { "1.1.0.33", "5", "true" },
    };
    for (const auto& c : cases) {
        writeWholeFile(GeneralDocument, encryptString(std::string("{\"InstallSettings\":{\"LastVersion\":\"") + c.version
                                                      + "\"},\"UpdatableSettings\":{\"updateRequestInterval\":\"5\"},"
                                                        "\"Internal\":{\"ovpnRequiredState\":\"true\"},"
                                                        "\"Browser\":{\"kept\":\"yes\"}}"));
        service.checkInstalledVersion();
        ConfigSection& settings = mainSettings();
        EXPECT_EQ(toNarrowString(settings.getValue<std::wstring>(SettingsKeys::UpdateRequestInterval)), c.interval)
            << c.version;
        EXPECT_EQ(toNarrowString(settings.getValue<std::wstring>(SettingsKeys::OvpnRequiredState)), c.required)
            << c.version;
        EXPECT_EQ(settings.getValue<std::wstring>(L"Browser.kept"), L"yes") << c.version;
        // The version itself is the check-in's to rewrite.
        EXPECT_EQ(toNarrowString(settings.getValue<std::wstring>(SettingsKeys::InstalledVersion)), c.version);
    }
}

TEST_F(ServiceObject, WithoutADocumentEveryUpdatableSettingHasItsDefault)
{
    mainSettings().loadFromJson(L"{\"UpdatableSettings\":{\"ovpnControlPort\":\"1\"}}");
    service.checkInstalledVersion();
    const std::pair<const wchar_t*, const wchar_t*> defaults[] = {
        { SettingsKeys::UpdateRequestInterval, L"86400" }, { SettingsKeys::UpdateRequestIntervalIfFailed, L"3600" },
        { SettingsKeys::VpnDiagnosticsInterval, L"60" },   { SettingsKeys::OvpnControlPort, L"5555" },
        { SettingsKeys::RemindOnBrowserDays, L"2" },       { SettingsKeys::OvpnRequiredState, L"false" },
        { SettingsKeys::AgentIconUpdTimeout, L"2" },
    };
    for (const auto& entry : defaults)
        EXPECT_EQ(mainSettings().getValue<std::wstring>(entry.first), entry.second) << toNarrowString(entry.first);
}

// "Check in again soon" (an interval of 0) is the shortest wait there is, not none: the next
// check-in comes after it, not at once, so the loop never sends them back to back.
TEST_F(ServiceObject, TheCheckinLoopWaitsAsEachOutcomeAsksAtLeastAFewSecondsAndEndsWhenSignalled)
{
    service.updateEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    mainSettings().setValue(SettingsKeys::UpdateRequestInterval, 0);
    mainSettings().setValue(SettingsKeys::UpdateRequestIntervalIfFailed, 0);
    std::atomic<int> checkins { 0 };
    std::thread loop([&] {
        service.runCheckinLoop([&] {
            const int n = ++checkins;
            if (n == 2) {
                // A reply may change the interval; the wait that follows uses the new one.
                mainSettings().setValue(SettingsKeys::UpdateRequestIntervalIfFailed, 7);
                SetEvent(service.updateEvent.get());
            }
            return n == 1;
        });
    });
    Sleep(2000);
    const int early = checkins;
    const ULONGLONG deadline = GetTickCount64() + 30000;
    while (checkins < 2 && GetTickCount64() < deadline)
        Sleep(50);
    // However it went, the loop is ended.
    SetEvent(service.updateEvent.get());
    loop.join();

    EXPECT_EQ(early, 1);
    EXPECT_EQ(checkins, 2);
    EXPECT_FALSE(service.lastCheckinSucceeded);
    EXPECT_EQ(count("Login failed - will retry in 7 seconds(s)."), 1u);
    // A successful check-in saves the general document.
    EXPECT_TRUE(fileExists(GeneralDocument));
}

TEST(CheckinWait, IsTheIntervalInMillisecondsAtLeastFiveSecondsAndNeverEndless)
{
    const struct {
        int seconds;
        DWORD milliseconds;
    } cases[] = {
        { 0, 5000 },
        { -1, 5000 },
        { -86400, 5000 },
        { 1, 5000 },
        { 5, 5000 },
        { 6, 6000 },
        { 3600, 3600000 },
        { 86400, 86400000 },
        // 32-bit arithmetic would wrap these round to a few seconds.
        { 4294968, INFINITE - 1 },
        { 2147483647, INFINITE - 1 },
    };
    for (const auto& c : cases)
        EXPECT_EQ(checkinWaitMs(c.seconds), c.milliseconds) << c.seconds;
}

TEST_F(ServiceObject, TheCheckinLoopEndsAfterOnePassWhenItsWaitFails)
{
    int checkins = 0;
    service.runCheckinLoop([&] { return ++checkins, true; });
    EXPECT_EQ(checkins, 1);
    EXPECT_TRUE(service.lastCheckinSucceeded);
}

TEST_F(ServiceObject, TheHttpPortSearchStartsAt666OutsideItsRange)
{
    for (int stored : { 665, 1000, 0 }) {
        mainSettings().setValue(SettingsKeys::LocalHttpsPort, stored);
        const size_t before = probedPorts().size();
        const int port = service.chooseLocalHttpPort();
        const auto probed = probedPorts();
        ASSERT_GT(probed.size(), before) << stored;
        EXPECT_EQ(probed[before].first, 666) << stored;
        EXPECT_EQ(probed.back(), std::make_pair(port, true)) << stored;
        EXPECT_EQ(mainSettings().getValue<int>(SettingsKeys::LocalHttpsPort), port) << stored;
    }
}

TEST_F(ServiceObject, ABusyStoredPortGivesTheNextFreeOneWhichIsStored)
{
    int held = 700;
    UniqueSocket holder;
    for (; held < 990 && !holder; ++held)
        holder = holdPort(held);
    ASSERT_TRUE(holder);
    --held;
    mainSettings().setValue(SettingsKeys::LocalHttpsPort, held);
    const int port = service.chooseLocalHttpPort();
    const auto probed = probedPorts();
    ASSERT_FALSE(probed.empty());
    EXPECT_EQ(probed.front(), std::make_pair(held, false));
    EXPECT_GT(port, held);
    EXPECT_LE(port, 999);
    EXPECT_EQ(probed.back(), std::make_pair(port, true));
    EXPECT_EQ(mainSettings().getValue<int>(SettingsKeys::LocalHttpsPort), port);
}

TEST_F(ServiceObject, WithEveryPortUpTo999BusyTheSearchGives1000AndStoresNothing)
{
    std::vector<UniqueSocket> holders;
    for (int port = 990; port <= 999; ++port)
        holders.push_back(holdPort(port));
    mainSettings().setValue(SettingsKeys::LocalHttpsPort, 990);
    EXPECT_EQ(service.chooseLocalHttpPort(), 1000);
    EXPECT_EQ(mainSettings().getValue<int>(SettingsKeys::LocalHttpsPort), 990);
    EXPECT_EQ(count("[ERROR]:\t No available port found for HTTPS local server "), 1u);
    const auto probed = probedPorts();
    EXPECT_EQ(probed.size(), 10u);
    EXPECT_TRUE(std::none_of(probed.begin(), probed.end(), [](const auto& p) { return p.second; }));
}

TEST_F(ServiceObject, TheRequiredStateIsStoredAndWithoutADaemonDecidesTheVpnState)
{
    // Wanting the VPN connects: the mock API's reply writes these.
    const OvpnConfigFolder vpnFiles { { L"client.auth", L"default.ovpn" } };
    service.setRequiredState(true);
    EXPECT_EQ(mainSettings().getValue<std::wstring>(SettingsKeys::OvpnRequiredState), L"true");
    EXPECT_EQ(service.getVpnState(), 1);
    service.setRequiredState(false);
    EXPECT_EQ(mainSettings().getValue<std::wstring>(SettingsKeys::OvpnRequiredState), L"false");
    EXPECT_EQ(service.getVpnState(), 0);
    EXPECT_EQ(count("ZazozeControlService::setRequiredState enable= 1"), 1u);
    EXPECT_EQ(count("ZazozeControlService::setRequiredState enable= 0"), 1u);
}

TEST_F(ServiceObject, SectionsComeFromTheStoreAndSavesWriteTheGeneralDocument)
{
    EXPECT_EQ(service.getConfigUser(L""), &mainSettings());
    EXPECT_EQ(service.getConfigUser(L"not a sid"), nullptr);
    ConfigSection* user = service.getConfigUser(L"S-1-5-21-9-9-9-1001");
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(service.getConfigUser(L"S-1-5-21-9-9-9-1001"), user);

    const std::wstring userDocument = AppdataPath + L"user.S-1-5-21-9-9-9-1001.params";
    DeleteFileW(userDocument.c_str());
    mainSettings().setValue(L"Browser.saved", L"general");
    user->setValue(L"Browser.saved", L"user");
    service.saveUserAndMainSettings(L"");
    EXPECT_TRUE(contains(decryptString(readWholeFile(GeneralDocument)), "\"general\""));
    EXPECT_FALSE(fileExists(userDocument));
    service.saveUserAndMainSettings(L"S-1-5-21-9-9-9-1001");
    EXPECT_TRUE(contains(decryptString(readWholeFile(userDocument)), "\"user\""));
    DeleteFileW(userDocument.c_str());
    service.saveConfigSection(L"S-1-5-21-9-9-9-1001");
    EXPECT_TRUE(fileExists(userDocument));
    DeleteFileW(userDocument.c_str());
}

TEST_F(ServiceObject, ALogUploadCarriesTheThreeLogsEvenWhenTheyAreMissing)
{
    Logger::instance().write("a line of the service log");
    const std::wstring fields = service.logUploadFields();
    const size_t own = fields.find(L"&srvLog=");
    const size_t daemon = fields.find(L"&ovpnLog=");
    const size_t installer = fields.find(L"&installLog=");
    ASSERT_EQ(own, 0u);
    ASSERT_NE(daemon, std::wstring::npos);
    ASSERT_NE(installer, std::wstring::npos);
    ASSERT_LT(daemon, installer);
    const std::string serviceLog = toNarrowString(fields.substr(own, daemon - own));
    const std::string daemonLog = toNarrowString(fields.substr(daemon, installer - daemon));
    const std::string installLog = toNarrowString(fields.substr(installer));
    EXPECT_TRUE(contains(serviceLog, "a%20line%20of%20the%20service%20log")) << serviceLog;
    EXPECT_TRUE(contains(daemonLog, "reading") && contains(daemonLog, "ovpn_config") && contains(daemonLog, "ovpn.log") && contains(daemonLog, "failed"))
        << daemonLog;
    EXPECT_TRUE(contains(installLog, "reading") && contains(installLog, "install.log") && contains(installLog, "failed"))
        << installLog;
}

TEST_F(ServiceObject, RestartingTheUpdateCheckQueuesANewWorkerUnlessStopping)
{
    service.updateEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    service.stopping = true;
    service.restartUpdateCheck();
    EXPECT_TRUE(mock.requestsTo("/v3/client/checkin").empty());
    service.stopping = false;
    service.restartUpdateCheck();
    ASSERT_TRUE(logGets("Stop Update thread"));
    EXPECT_EQ(count("Start Update Check thread"), 1u);
    // The new worker checked in once, then found the event already signalled.
    EXPECT_EQ(mock.requestsTo("/v3/client/checkin").size(), 1u);
    EXPECT_TRUE(service.lastCheckinSucceeded);
}

// The pipe's client threads and the HTTP server's thread may each ask for a new check-in at any
// time. A restart that waited for a worker which another restart had just queued, and whose wake-up
// that other worker had already taken, waited for a day: the HTTP server answered nothing meanwhile.
TEST_F(ServiceObject, RestartsOfTheUpdateCheckFromSeveralClientsAtOnceAllReturn)
{
    service.updateEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    constexpr int Callers = 4;
    std::atomic<int> returned { 0 };
    std::vector<std::thread> callers;
    for (int i = 0; i < Callers; ++i) {
        callers.emplace_back([this, &returned] {
            const ComInit threadCom(COINIT_APARTMENTTHREADED);
            service.restartUpdateCheck();
            ++returned;
        });
        Sleep(250);
    }
    for (int i = 0; i < 3000 && returned < Callers; ++i)
        Sleep(10);
    EXPECT_EQ(returned, Callers) << "a restart of the update check did not return";
    // A restart still waiting is released, so that its thread can end with the test.
    for (int i = 0; i < 3000 && returned < Callers; ++i) {
        SetEvent(service.updateEvent.get());
        Sleep(10);
    }
    for (std::thread& caller : callers)
        caller.join();

    // One worker waits for its next check-in, and one wake-up ends it.
    SetEvent(service.updateEvent.get());
    for (int i = 0; i < 3000 && count("Start Update Check thread") != count("Stop Update thread"); ++i)
        Sleep(10);
    EXPECT_EQ(count("Start Update Check thread"), count("Stop Update thread"));
    EXPECT_FALSE(service.updateCheckThreadRunning);
}

// The result record as text, or what the call threw: a reply missing a member throws, and that
// too must reach the front end unchanged.
std::string outcome(const std::function<RemoteServerResponse()>& call)
{
    try {
        const RemoteServerResponse r = call();
        return std::to_string(r.code) + " " + r.statusText + " " + toNarrowString(r.message);
    } catch (const std::exception& error) {
        return std::string("threw ") + error.what();
    }
}

struct ForwardedOperation {
    const char* name;
    const char* path;
    std::function<RemoteServerResponse(IConfigSectionManager&)> throughService;
    std::function<RemoteServerResponse(ServerApiOperator&)> direct;
};

TEST_F(ServiceObject, TheApiOperationsReachTheServerAndGiveTheClientsResultUnchanged)
{
    mainSettings().setValue(SettingsKeys::ClientGuid, L"6b29fc40-ca47-1067-b31d-00dd010662da");
    mainSettings().setValue(SettingsKeys::InstalledVersion, L"1.1.0.33");
    const ForwardedOperation operations[] = {
        { "products", "/v3/products/list", [](IConfigSectionManager& s) { return s.requestProductsList(); },
          [](ServerApiOperator& a) { return a.requestProductsList(); } },
        { "orders", "/v3/accounts/orders", [](IConfigSectionManager& s) { return s.requestOrders(); },
          [](ServerApiOperator& a) { return a.requestOrders(); } },
        { "servers", "/v3/servers/list", [](IConfigSectionManager& s) { return s.requestServersList(); },
          [](ServerApiOperator& a) { return a.requestServersList(); } },
        { "login", "/v3/accounts/login", [](IConfigSectionManager& s) { return s.requestLogin(); },
          [](ServerApiOperator& a) { return a.requestLogin(); } },
        { "register", "/v3/accounts/register", [](IConfigSectionManager& s) { return s.requestRegister(); },
          [](ServerApiOperator& a) { return a.requestRegister(); } },
        { "reset", "/v3/accounts/reset", [](IConfigSectionManager& s) { return s.requestPasswordReset(L"a@b.c"); },
          [](ServerApiOperator& a) { return a.requestPasswordReset(L"a@b.c"); } },
        { "support", "/v3/support", [](IConfigSectionManager& s) { return s.requestSupport(L"Hello-there", L"a@b.c"); },
          [](ServerApiOperator& a) { return a.requestSupport(L"Hello-there", L"a@b.c"); } },
        { "limits", "/v3/accounts/limits", [](IConfigSectionManager& s) { return s.requestAccountLimits(); },
          [](ServerApiOperator& a) { return a.requestAccountLimits(); } },
        { "autologin", "/v3/accounts/autologined", [](IConfigSectionManager& s) { return s.notifyAutologin(); },
          [](ServerApiOperator& a) { return a.notifyAutologin(); } },
    };
    // Each a client of its own: the service's, and one beside it whose result the service must give.
    ServerApiOperator reference;
    for (const ForwardedOperation& op : operations) {
        mock.reset();
        // A reply of its own on every path, a failing one among them, so that "unchanged" shows.
        for (const ForwardedOperation& o : operations)
            mock.setReply(o.path, 200, std::string(R"({"status":false,"message":"from )") + o.name + R"("})");
        mock.setReply("/v3/accounts/limits", 503, "");
        const std::string got = outcome([&] { return op.throughService(service); });
        const std::vector<MockRequest> sent = mock.requests();
        ASSERT_FALSE(sent.empty()) << op.name;
        EXPECT_EQ(sent.back().path, op.path) << op.name;
        const std::string expected = outcome([&] { return op.direct(reference); });
        const std::vector<MockRequest> sentDirectly = mock.requestsTo(op.path);
        ASSERT_EQ(sentDirectly.size(), 2u) << op.name;
        EXPECT_EQ(sentDirectly[0].form, sentDirectly[1].form) << op.name;
        EXPECT_EQ(got, expected) << op.name;
    }
}

TEST_F(ServiceObject, ALogUploadReachesTheServerWithTheThreeLogs)
{
    mainSettings().setValue(SettingsKeys::ClientGuid, L"6b29fc40-ca47-1067-b31d-00dd010662da");
    mainSettings().setValue(SettingsKeys::InstalledVersion, L"1.1.0.33");
    EXPECT_TRUE(service.postLogs());
    const std::vector<MockRequest> uploads = mock.requestsTo("/user/log/");
    ASSERT_EQ(uploads.size(), 1u);
    std::vector<std::string> names;
    for (const auto& [name, value] : uploads[0].form)
        names.push_back(name);
    for (const char* name : { "srvLog", "ovpnLog", "installLog" })
        EXPECT_NE(std::find(names.begin(), names.end(), name), names.end()) << name;
}

TEST_F(ServiceObject, AShutdownWaitsForNoWorkerAndClosesTheEvents)
{
    service.updateEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    service.vpnCheckEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    service.asyncUpdateRunning = true;
    service.OnShutdown();
    EXPECT_TRUE(service.stopping);
    EXPECT_FALSE(service.updateEvent);
    EXPECT_FALSE(service.vpnCheckEvent);
    EXPECT_TRUE(linesInOrder(entries(), { "Nimbal Privacy terminating", "Save users configurations...",
                                          "Ignoring unfinished threads to speed-up exit", "Nimbal Privacy terminated" }));
    EXPECT_EQ(count("Waiting for end of all threads"), 0u);
    EXPECT_TRUE(fileExists(GeneralDocument));

    // With nothing running there is nothing to ignore.
    service.asyncUpdateRunning = false;
    service.OnShutdown();
    EXPECT_EQ(count("Ignoring unfinished threads to speed-up exit"), 1u);
    EXPECT_EQ(count("Nimbal Privacy terminated"), 2u);
}

TEST_F(ServiceObject, DestroyedWithoutAStopItEndsTheHttpLoopFirst)
{
    auto other = std::make_unique<ServiceUnderTest>();
    other->queueHttpWorker();
    ASSERT_TRUE(logGets("Waiting for HTTP request"));
    const int port = mainSettings().getValue<int>(SettingsKeys::LocalHttpsPort);
    ASSERT_FALSE(checkPort("127.0.0.1", port));

    // The loop runs on a pool thread over the object's members: the destructor must outlast it.
    other.reset();
    EXPECT_TRUE(linesInOrder(entries(), { "ZazozeControlService::~ZazozeControlService", "Stopping web server...",
                                          "HttpReceiveHttpRequest end" }));
    EXPECT_TRUE(checkPort("127.0.0.1", port));
}

TEST_F(ServiceObject, AnHttpWorkerThatBeginsAfterTheStopStartsNoServer)
{
    auto other = std::make_unique<ServiceUnderTest>();
    other->stopping = true;
    other->queueHttpWorker();
    // The destructor waits for the worker, which has nothing to stop.
    other.reset();
    EXPECT_EQ(count("Start WinServer thread"), 1u);
    const auto all = entries();
    EXPECT_EQ(std::count_if(all.begin(), all.end(),
                            [](const std::string& line) { return line.rfind("Win server starting on port", 0) == 0; }),
              0);
    EXPECT_EQ(count("LocalHttpServer::processRequests begin"), 0u);
}

TEST(VpnState, OnlyTheFourStatesHaveAText)
{
    const char* const texts[] = { "NOTCONNECTED", "DISCONNECTED", "CONNECTING", "CONNECTED" };
    for (int state = 0; state < 4; ++state) {
        ASSERT_TRUE(vpnStateText(state).has_value()) << state;
        EXPECT_STREQ(*vpnStateText(state), texts[state]);
    }
    for (int value : { 4, 5, 255, 256, -1 })
        EXPECT_FALSE(vpnStateText(value).has_value()) << value;
}
