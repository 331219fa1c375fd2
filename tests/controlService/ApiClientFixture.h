#pragma once
// An API client against the mock vendor API, with a log of its own, the general settings emptied,
// the registry's device identifier put back afterwards, and a check that no secret reached the log.

#include "RegistryGuidBackup.h"
#include "SettingsLogFixture.h"

#include "api/ServerApiOperator.h"
#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"

#include "ComPtr.h"
#include "MockApi.h"

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

namespace api_test {

const std::string CheckinPath = "/v3/client/checkin";
const std::string KnownGuid = "6b29fc40-ca47-1067-b31d-00dd010662da";
const std::string Version = "1.1.0.33";

// Every secret a test sends or receives; none may appear in the log.
const std::string Password = "S3cret-Passw0rd";
const std::string StoredToken = "stored-token-42";
const std::string ReplyToken = "fresh-token-7f3a";
const std::string MockDefaultToken = "mock-token-0001";

inline std::wstring widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

inline std::string narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result += c < 0x80 ? static_cast<char>(c) : '?';
    return result;
}

inline bool isLowercaseGuid(const std::string& text)
{
    static const std::regex guid("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}");
    return std::regex_match(text, guid);
}

// The form field's value, or "<missing>".
inline std::string field(const MockRequest& request, const std::string& name)
{
    for (const auto& [fieldName, value] : request.form)
        if (fieldName == name)
            return value;
    return "<missing>";
}

} // namespace api_test

class ApiClientFixture : public SettingsLogFixture {
protected:
    void SetUp() override
    {
        SettingsLogFixture::SetUp();
        ASSERT_TRUE(SUCCEEDED(com.result()));
        mock.reset();
        settings().loadFromJson(L"{}");
    }

    void TearDown() override
    {
        view32.restore();
        view64.restore();
        const std::string log = logText();
        for (const std::string& secret :
             { api_test::Password, api_test::StoredToken, api_test::ReplyToken, api_test::MockDefaultToken })
            EXPECT_EQ(log.find(secret), std::string::npos) << "the log holds the secret " << secret;
        SettingsLogFixture::TearDown();
    }

    // The log's lines without timestamps; a line that carries a logged text's line break goes on
    // with the line it belongs to, joined by "\n".
    std::vector<std::string> records() const
    {
        static const std::regex stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\t");
        std::vector<std::string> result;
        for (const std::string& line : rawLines()) {
            std::smatch match;
            if (std::regex_search(line, match, stamp))
                result.push_back(match.suffix());
            else if (!result.empty())
                result.back() += "\n" + line;
        }
        if (!result.empty() && result.front() == "Enabled logging...")
            result.erase(result.begin());
        return result;
    }
    bool logHas(const std::string& record) const
    {
        const auto all = records();
        return std::find(all.begin(), all.end(), record) != all.end();
    }

    static ConfigSection& settings() { return mainSettings(); }
    static std::string setting(const wchar_t* key) { return api_test::narrow(settings().getValue<std::wstring>(key)); }

    // A device with an identifier that has checked in with this version before.
    void knownDevice()
    {
        settings().setValue(SettingsKeys::ClientGuid, api_test::widen(api_test::KnownGuid));
        settings().setValue(SettingsKeys::InstalledVersion, api_test::widen(api_test::Version));
    }
    // No identifier in the settings or in either registry view.
    void freshMachine()
    {
        registry_guid_backup::removeValue(KEY_WOW64_32KEY);
        registry_guid_backup::removeValue(KEY_WOW64_64KEY);
    }
    void storeCredentials()
    {
        settings().setValue(SettingsKeys::VpnUserLogin, L"user@example.com");
        settings().setValue(SettingsKeys::VpnUserPassword, api_test::widen(api_test::Password));
    }

    std::vector<MockRequest> checkins() const { return mock.requestsTo(api_test::CheckinPath); }

    // Constructed before SetUp changes anything.
    const registry_guid_backup::ViewState view32 { KEY_WOW64_32KEY };
    const registry_guid_backup::ViewState view64 { KEY_WOW64_64KEY };
    ComInit com { COINIT_APARTMENTTHREADED };
    MockApi mock;
    ServerApiOperator api;
};
