// The service's own settings keys: defaults and the copy of a check-in answer's values.
#include "SettingsLogFixture.h"

#include "settings/SettingsKeys.h"

#include <boost/property_tree/json_parser.hpp>

#include <sstream>

using Lines = std::vector<std::string>;

class SettingsKeysTest : public SettingsLogFixture {
protected:
    ConfigSection general { L"settings.params" };

    // Stores a check-in answer as the API client does.
    void storeAnswer(const std::wstring& json)
    {
        ConfigSection::Tree answer;
        std::wistringstream text(json);
        boost::property_tree::read_json(text, answer);
        general.putChild(SettingsKeys::LastLoginRequestInfo, answer);
    }
};

TEST_F(SettingsKeysTest, DefaultUpdateIntervals)
{
    setDefaultUpdateIntervals(general);
    EXPECT_EQ(general.getValue<long>(SettingsKeys::UpdateRequestInterval), 86400);
    EXPECT_EQ(general.getValue<long>(SettingsKeys::UpdateRequestIntervalIfFailed), 3600);
    EXPECT_EQ(general.listSettings(L"UpdatableSettings").size(), 2u);
}

struct CopyCase {
    const char* name;
    std::wstring answer;        // the check-in answer's JSON text
    std::wstring storedPort;    // the port before the copy, empty for none
    bool portExists;            // after the copy
    std::wstring portText;      // after the copy
};

class CheckinCopy : public SettingsKeysTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(CheckinCopy, CopiesOnlyValuesThatAreSet)
{
    if (!GetParam().storedPort.empty())
        general.setValue(SettingsKeys::OvpnControlPort, GetParam().storedPort);
    storeAnswer(GetParam().answer);
    copySettingIfSet(general, L"LastLoginRequestInfo.ovpnControlPort", SettingsKeys::OvpnControlPort);
    EXPECT_EQ(general.hasValue(SettingsKeys::OvpnControlPort), GetParam().portExists);
    EXPECT_EQ(general.getValue<std::wstring>(SettingsKeys::OvpnControlPort), GetParam().portText);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsKeys, CheckinCopy,
    ::testing::Values(CopyCase { "NullKeepsTheStoredPort", L"{\"ovpnControlPort\": null}", L"5555", true, L"5555" },
                      CopyCase { "NumberIsCopiedAsText", L"{\"ovpnControlPort\": 6000}", L"5555", true, L"6000" },
                      CopyCase { "ZeroIsCopied", L"{\"ovpnControlPort\": 0}", L"5555", true, L"0" },
                      CopyCase { "EmptyKeepsTheStoredPort", L"{\"ovpnControlPort\": \"\"}", L"5555", true, L"5555" },
                      CopyCase { "AbsentKeepsTheStoredPort", L"{\"version\": \"1.1.0.33\"}", L"5555", true, L"5555" },
                      CopyCase { "AbsentCreatesNothing", L"{\"version\": \"1.1.0.33\"}", L"", false, L"" },
                      CopyCase { "NullTextAsStringIsNullToo", L"{\"ovpnControlPort\": \"null\"}", L"1", true, L"1" }),
    [](const ::testing::TestParamInfo<CopyCase>& info) { return std::string(info.param.name); });

TEST_F(SettingsKeysTest, CopiedPortReadsAsAnInt)
{
    storeAnswer(L"{\"ovpnControlPort\": 6000}");
    copyCheckinSettings(general);
    EXPECT_EQ(general.getValue<int>(SettingsKeys::OvpnControlPort), 6000);
}

TEST_F(SettingsKeysTest, CheckinCopyVisitsTheEightSettingsInOrder)
{
    storeAnswer(L"{\"regexpBlack\": \"ads\\\\..*\", \"agentIconUpdTimeout\": 7, \"unrelated\": \"x\"}");
    copyCheckinSettings(general);
    EXPECT_EQ(general.getValue<std::wstring>(SettingsKeys::RegexpBlack), L"ads\\..*");
    EXPECT_EQ(general.getValue<int>(SettingsKeys::AgentIconUpdTimeout), 7);
    EXPECT_FALSE(general.hasValue(SettingsKeys::RegexpWhite));
    EXPECT_FALSE(general.hasValue(L"UpdatableSettings.unrelated"));

    const std::string marker = "No path LastLoginRequestInfo.";
    std::vector<std::string> missing;
    for (const std::string& line : lines()) {
        const size_t start = line.find(marker);
        if (start != std::string::npos) {
            const size_t name = start + marker.size();
            missing.push_back(line.substr(name, line.find(' ', name) - name));
        }
    }
    // Each of the six missing members is logged once, in copy order.
    EXPECT_EQ(missing, (std::vector<std::string> { "regexpWhite", "updateRequestInterval",
                                                   "updateRequestIntervalIfFailed", "vpnDiagnosticsInterval",
                                                   "ovpnControlPort", "remindOnBrowserDays" }));
}

TEST_F(SettingsKeysTest, AccountCredentialsStayOutOfTheLoggedCopy)
{
    for (const wchar_t* key : { SettingsKeys::VpnUserLogin, SettingsKeys::VpnUserPassword,
                                SettingsKeys::VpnUserRememberMe, SettingsKeys::VpnUserToken })
        general.setValue(key, L"credential");
    general.setValue(SettingsKeys::ClientGuid, L"guid");
    EXPECT_EQ(general.toJson(true).find(L"credential"), std::wstring::npos);
    EXPECT_NE(general.toJson(true).find(L"clientGUID"), std::wstring::npos);
    EXPECT_EQ(general.listSettings(L"Hidden.VpnUser").size(), 4u);
}
