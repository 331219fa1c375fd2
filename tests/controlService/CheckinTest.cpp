// The check-in: its method, its body, the identifier it keeps in the settings and the registry, the
// reply it stores and copies, and the check-in that other requests make first.
#include "ApiClientFixture.h"

#include "settings/RegistryGuid.h"

#include "SystemInfo.h"

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using namespace api_test;

namespace {

const std::string ServersPath = "/v3/servers/list";

} // namespace

class CheckinTest : public ApiClientFixture {};

struct MethodCase {
    const char* name;
    const char* storedGuid;    // InstallSettings.clientGUID, nullptr for none
    const char* registryGuid;  // the registry value, nullptr for none
    const char* lastVersion;   // InstallSettings.LastVersion, nullptr for none
    const char* method;
    bool checkedIn;
};

class CheckinMethod : public CheckinTest, public ::testing::WithParamInterface<MethodCase> {};

TEST_P(CheckinMethod, SendsTheBodyInOrderAndKeepsTheIdentifierInStep)
{
    const MethodCase& c = GetParam();
    freshMachine();
    if (c.storedGuid)
        settings().setValue(SettingsKeys::ClientGuid, widen(c.storedGuid));
    if (c.registryGuid)
        RegistryGuidWriter(GuidValueName).write(widen(c.registryGuid));
    if (c.lastVersion)
        settings().setValue(SettingsKeys::InstalledVersion, widen(c.lastVersion));
    // A check-in never carries the account's token.
    settings().setValue(SettingsKeys::VpnUserToken, widen(StoredToken));

    EXPECT_TRUE(api.checkin());

    const auto sent = checkins();
    ASSERT_EQ(sent.size(), 1u);
    const std::string id = field(sent[0], "deviceId");
    if (c.storedGuid || c.registryGuid)
        EXPECT_EQ(id, c.storedGuid ? c.storedGuid : c.registryGuid);
    else
        EXPECT_TRUE(isLowercaseGuid(id)) << id;
    const NameValueList form { { "deviceId", id },
                               { "version", Version },
                               { "brand", "Nimbal Privacy" },
                               { "method", c.method },
                               { "platform", "windows" },
                               { "osBitness", narrow(getBitness()) },
                               { "osVersion", narrow(getOsVersion()) },
                               { "osSpVersion", narrow(getServicePackVersion()) },
                               { "osLocale", narrow(getLocaleName()) } };
    EXPECT_EQ(sent[0].form, form);
    EXPECT_NE(sent[0].body.find("brand=Nimbal%20Privacy&"), std::string::npos) << sent[0].body;
    EXPECT_EQ(sent[0].scheme, "https");
    EXPECT_EQ(sent[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_FALSE(sent[0].hasHeader("Authorization"));

    EXPECT_EQ(setting(SettingsKeys::ClientGuid), id);
    EXPECT_EQ(narrow(readRegistryGuid()), id);
    for (REGSAM view : { KEY_WOW64_32KEY, KEY_WOW64_64KEY }) {
        const auto stored = registry_guid_backup::readRaw(view);
        ASSERT_TRUE(stored.has_value());
        const std::wstring text(reinterpret_cast<const wchar_t*>(stored->data.data()));
        EXPECT_EQ(narrow(text), id);
    }
    EXPECT_EQ(setting(SettingsKeys::InstalledVersion), Version);
    EXPECT_EQ(api.isCheckedIn(), c.checkedIn);
    EXPECT_EQ(narrow(api.currentDeviceId()), id);
}

INSTANTIATE_TEST_SUITE_P(
    Checkin, CheckinMethod,
    ::testing::Values(MethodCase { "FreshMachineInstalls", nullptr, nullptr, "1.1.0.33", "install", false },
                      MethodCase { "InstallWinsOverUpdate", nullptr, nullptr, "1.1.0.32", "install", false },
                      MethodCase { "OtherVersionUpdates", KnownGuid.c_str(), nullptr, "1.1.0.32", "update", true },
                      MethodCase { "NoVersionUpdates", KnownGuid.c_str(), nullptr, nullptr, "update", true },
                      MethodCase { "SameVersionIsPeriodical", KnownGuid.c_str(), nullptr, "1.1.0.33", "periodical",
                                   true },
                      MethodCase { "SettingsWinOverTheRegistry", KnownGuid.c_str(),
                                   "11111111-2222-3333-4444-555555555555", "1.1.0.33", "periodical", true },
                      MethodCase { "RegistryIdentifierIsTakenOver", nullptr, "0f8fad5b-d9cb-469f-a165-70867728950e",
                                   "1.1.0.33", "periodical", true }),
    [](const ::testing::TestParamInfo<MethodCase>& info) { return std::string(info.param.name); });

TEST_F(CheckinTest, FailedUpdateCheckinStillMakesTheNextOnePeriodical)
{
    knownDevice();
    settings().setValue(SettingsKeys::InstalledVersion, L"1.0.0.1");
    mock.queueReply(CheckinPath, 500, "");

    EXPECT_FALSE(api.checkin());
    EXPECT_TRUE(api.checkin());

    const auto sent = checkins();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(field(sent[0], "method"), "update");
    EXPECT_EQ(field(sent[1], "method"), "periodical");
}

struct ReplyCase {
    const char* name;
    int status;
    const char* body;
    bool result;
    bool stored;
    const char* logLine;  // the line the reply leaves, nullptr for none after the "POSTed" line
};

class CheckinReply : public CheckinTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(CheckinReply, IsStoredOnlyWhenItIsANonEmptyObject)
{
    const ReplyCase& c = GetParam();
    knownDevice();
    settings().setValue(L"LastLoginRequestInfo.earlier", L"kept unless replaced");
    mock.setReply(CheckinPath, c.status, c.body);
    int callbacks = 0;
    api.setSettingsChangedCallback([&callbacks] { ++callbacks; });

    EXPECT_EQ(api.checkin(), c.result);

    EXPECT_EQ(callbacks, c.stored ? 1 : 0);
    EXPECT_EQ(settings().hasValue(L"LastLoginRequestInfo.earlier"), !c.stored);
    EXPECT_EQ(settings().hasValue(L"LastLoginRequestInfo.ovpnControlPort"), c.stored);
    if (c.stored) {
        EXPECT_EQ(setting(L"LastLoginRequestInfo.status"), "false");
        EXPECT_EQ(setting(SettingsKeys::OvpnControlPort), "6000");
    }
    const auto logged = records();
    ASSERT_FALSE(logged.empty());
    const std::string posted = std::string("POSTed\n deviceId=") + KnownGuid +
        "&version=1.1.0.33&brand=Nimbal%20Privacy&method=periodical&platform=windows&osBitness=" +
        narrow(getBitness()) + "&osVersion=" + narrow(getOsVersion()) + "&osSpVersion=" +
        narrow(getServicePackVersion()) + "&osLocale=" + narrow(getLocaleName()) + " \nreceived:\n " + c.body;
    EXPECT_TRUE(logHas(posted)) << posted;
    if (c.logLine)
        EXPECT_TRUE(logHas(c.logLine)) << c.logLine;
    else
        EXPECT_EQ(logged.back(), posted);
}

INSTANTIATE_TEST_SUITE_P(
    Checkin, CheckinReply,
    ::testing::Values(
        ReplyCase { "ObjectIsStored", 200, R"({"status":"false","ovpnControlPort":6000})", true, true,
                    R"(Response from Checkin request {"status":"false","ovpnControlPort":6000})" },
        ReplyCase { "ObjectWithStatus500IsStored", 500, R"({"status":"false","ovpnControlPort":6000})", true, true,
                    R"(Response from Checkin request {"status":"false","ovpnControlPort":6000})" },
        ReplyCase { "EmptyObjectIsNot", 200, "{}", false, false, "Checkin request json is empty" },
        ReplyCase { "EmptyBodyIsNot", 200, "", false, false, nullptr },
        ReplyCase { "TextThatIsNotJson", 200, "<html>busy</html>", false, false,
                    "Error reading checkin response on line:  1" }),
    [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST_F(CheckinTest, NullMembersAreNotCopiedAndZeroIs)
{
    knownDevice();
    settings().setValue(SettingsKeys::OvpnControlPort, 5555);
    settings().setValue(SettingsKeys::UpdateRequestInterval, 86400);
    settings().setValue(SettingsKeys::RegexpBlack, L"^old$");
    mock.setReply(CheckinPath, 200,
                  R"({"ovpnControlPort":null,"updateRequestInterval":0,"regexpWhite":"^a$","regexpBlack":"",)"
                  R"("vpnDiagnosticsInterval":"null","agentIconUpdTimeout":7})");

    ASSERT_TRUE(api.checkin());

    EXPECT_EQ(setting(SettingsKeys::OvpnControlPort), "5555");
    EXPECT_EQ(setting(SettingsKeys::UpdateRequestInterval), "0");
    EXPECT_EQ(setting(SettingsKeys::RegexpWhite), "^a$");
    EXPECT_EQ(setting(SettingsKeys::RegexpBlack), "^old$");
    EXPECT_FALSE(settings().hasValue(SettingsKeys::VpnDiagnosticsInterval));
    EXPECT_EQ(setting(SettingsKeys::AgentIconUpdTimeout), "7");
    EXPECT_FALSE(settings().hasValue(SettingsKeys::RemindOnBrowserDays));
}

TEST_F(CheckinTest, CallbackFailureIsLoggedAndTheReplyStillCounts)
{
    knownDevice();
    api.setSettingsChangedCallback([] { throw std::runtime_error("port in use"); });

    EXPECT_TRUE(api.checkin());

    EXPECT_TRUE(logHas("ServerApiOperator::handleCheckinResponse port in use"));
    EXPECT_EQ(setting(SettingsKeys::OvpnControlPort), "5555");
}

TEST_F(CheckinTest, CallbackSetAgainReplacesTheFirst)
{
    knownDevice();
    int first = 0;
    int second = 0;
    api.setSettingsChangedCallback([&first] { ++first; });
    api.setSettingsChangedCallback([&second] { ++second; });

    ASSERT_TRUE(api.checkin());

    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, 1);
}

TEST_F(CheckinTest, RequestOnAFreshMachineChecksInFirstAndCarriesTheNewIdentifier)
{
    freshMachine();
    settings().setValue(SettingsKeys::InstalledVersion, widen(Version));

    EXPECT_EQ(api.requestServersList().code, 200);
    // After an install the device still counts as unknown: the next request checks in again, and
    // that periodical check-in marks it known.
    EXPECT_EQ(api.requestServersList().code, 200);
    EXPECT_EQ(api.requestServersList().code, 200);

    const auto sent = mock.requests();
    ASSERT_EQ(sent.size(), 5u);
    const std::vector<std::pair<std::string, std::string>> order { { CheckinPath, "install" },
                                                                   { ServersPath, "<missing>" },
                                                                   { CheckinPath, "periodical" },
                                                                   { ServersPath, "<missing>" },
                                                                   { ServersPath, "<missing>" } };
    const std::string id = setting(SettingsKeys::ClientGuid);
    ASSERT_TRUE(isLowercaseGuid(id)) << id;
    for (size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i].path, order[i].first) << i;
        EXPECT_EQ(field(sent[i], "method"), order[i].second) << i;
        EXPECT_EQ(field(sent[i], "deviceId"), id) << i;
    }
    EXPECT_TRUE(api.isCheckedIn());
}

// After an install the device still counts as unknown, so a request made by the settings callback
// (the required state's connect) checks in again first, on the same thread.
TEST_F(CheckinTest, ARequestFromTheCallbackOfAnInstallCheckinChecksInAgainWithoutWaitingForItself)
{
    freshMachine();
    settings().setValue(SettingsKeys::InstalledVersion, widen(Version));
    RemoteServerResponse fromCallback {};
    int callbacks = 0;
    api.setSettingsChangedCallback([&] {
        if (++callbacks == 1)
            fromCallback = api.requestServersList();
    });
    std::promise<bool> checkedIn;
    std::future<bool> result = checkedIn.get_future();
    std::thread checkin([&] {
        const ComInit threadCom(COINIT_APARTMENTTHREADED);
        checkedIn.set_value(api.checkin());
    });
    const bool returned = result.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
    if (!returned) {
        // Blocked for good: the test ends without it.
        checkin.detach();
        FAIL() << "the check-in did not return";
    }
    checkin.join();

    EXPECT_TRUE(result.get());
    EXPECT_EQ(fromCallback.code, 200);
    EXPECT_EQ(callbacks, 2);
    const auto sent = mock.requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(field(sent[0], "method"), "install");
    EXPECT_EQ(field(sent[1], "method"), "periodical");
    EXPECT_EQ(sent[2].path, ServersPath);
    EXPECT_TRUE(api.isCheckedIn());
}

TEST_F(CheckinTest, RequestIsNotSentWhenItsCheckinFails)
{
    knownDevice();
    mock.setReply(CheckinPath, 200, "{}");

    const RemoteServerResponse response = api.requestServersList();

    EXPECT_EQ(response.code, 500);
    EXPECT_STREQ(response.statusText, "Internal Server Error");
    EXPECT_EQ(narrow(response.message), "'install' method was not successful, end processing function");
    EXPECT_TRUE(mock.requestsTo(ServersPath).empty());
    // The identifier was known, so the device counts as checked in all the same.
    EXPECT_TRUE(api.isCheckedIn());
    EXPECT_EQ(api.requestServersList().code, 200);
    EXPECT_EQ(checkins().size(), 1u);
}
