// The connect reply: its two Base64 files in the daemon's configuration folder, and the server id
// it stores.
#include "ApiClientFixture.h"
#include "OvpnConfigFolder.h"

#include "api/ResponseFiles.h"

#include <optional>

using namespace api_test;

namespace {

const std::string ConnectPath = "/v3/server/connect";
const std::string Old = "old content\r\n";

// "user\npass" and "client\ndev tun\n".
const std::string AuthBase64 = "dXNlcgpwYXNz";
const std::string ConfigBase64 = "Y2xpZW50CmRldiB0dW4K";

} // namespace

class ConnectResponseTest : public ApiClientFixture {
protected:
    void SetUp() override
    {
        ApiClientFixture::SetUp();
        knownDevice();
        files.clear();
    }

    static std::string contentOf(const wchar_t* name) { return readWholeFile(OvpnConfigFolder::file(name)); }

    const OvpnConfigFolder files { { L"client.auth", L"nl-ams-01.ovpn", L"default.ovpn" } };
};

namespace {

// Other tests of the service may leave the daemon's folder behind: its files are scratch of the
// test prefix, so the folder is removed for this test, which needs it missing.
void removeLeftOverFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do
            DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
        while (FindNextFileW(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

} // namespace

TEST_F(ConnectResponseTest, WritesBothFilesWithCrLfLineEndsIntoANewFolder)
{
    removeLeftOverFolder(OvpnConfigFolder::folder() + L".aside");
    removeLeftOverFolder(OvpnConfigFolder::folder());
    ASSERT_FALSE(fileExists(OvpnConfigFolder::folder())) << "the folder could not be removed";

    const RemoteServerResponse response = api.requestServerConnect(L"nl-ams-01");

    EXPECT_EQ(response.code, 200);
    EXPECT_STREQ(response.statusText, "OK");
    EXPECT_EQ(narrow(response.message), "Success");
    // The mock's default reply.
    EXPECT_EQ(contentOf(L"client.auth"), "mockuser\r\nmockpassword\r\n");
    EXPECT_EQ(contentOf(L"nl-ams-01.ovpn"), "client\r\ndev tun\r\nproto udp\r\nremote 127.0.0.1 1194\r\nnobind\r\n"
                                            "auth-user-pass client.auth\r\nverb 3\r\n");
    EXPECT_EQ(setting(SettingsKeys::LastConnectServerId), "nl-ams-01");
    EXPECT_TRUE(logHas("client.auth updated"));
    EXPECT_TRUE(logHas("nl-ams-01.ovpn updated"));
}

TEST_F(ConnectResponseTest, TheLoggedReplyShowsNeitherTheDaemonsCredentialsNorAToken)
{
    const struct { const char* what; std::string reply; std::string logged; } cases[] = {
        { "strings", R"({"auth":")" + AuthBase64 + R"(","config":")" + ConfigBase64 + R"("})",
          R"({"auth":"***","config":")" + ConfigBase64 + R"("})" },
        { "blanks around the colon", R"({ "config" : "Y2xp", "auth" : ")" + AuthBase64 + R"(" })",
          R"({ "config" : "Y2xp", "auth" : "***" })" },
        { "a token too", R"({"token":"tok-1","auth":")" + AuthBase64 + R"(","config":null})",
          R"({"token":"***","auth":"***","config":null})" },
        { "the word as a value", R"({"note":"auth","auth":")" + AuthBase64 + R"(","config":null})",
          R"({"note":"auth","auth":"***","config":null})" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        mock.setReply(ConnectPath, 200, c.reply);
        api.requestServerConnect(L"nl-ams-01");
        EXPECT_TRUE(logHas("Response from Connect to Server request " + c.logged)) << logText();
        EXPECT_EQ(logText().find(AuthBase64), std::string::npos);
    }
}

struct ConnectCase {
    const char* name;
    const wchar_t* serverId;
    std::string reply;
    int code;
    std::string message;
    std::optional<std::string> auth;    // client.auth afterwards
    const wchar_t* configFile;
    std::optional<std::string> config;  // the configuration afterwards
    bool storesId;
    std::vector<std::string> logged;
};

class ConnectReply : public ConnectResponseTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectReply, WritesTheConfigurationOnlyAfterItsCredentials)
{
    const ConnectCase& c = GetParam();
    CreateDirectoryW(OvpnConfigFolder::folder().c_str(), nullptr);
    for (const wchar_t* name : { L"client.auth", L"nl-ams-01.ovpn", L"default.ovpn" })
        writeWholeFile(OvpnConfigFolder::file(name), Old);
    mock.setReply(ConnectPath, 200, c.reply);

    const RemoteServerResponse response = api.requestServerConnect(c.serverId);

    EXPECT_EQ(response.code, c.code);
    EXPECT_EQ(narrow(response.message), c.message);
    EXPECT_EQ(contentOf(L"client.auth"), c.auth.value_or(Old));
    EXPECT_EQ(contentOf(c.configFile), c.config.value_or(Old));
    EXPECT_EQ(settings().hasValue(SettingsKeys::LastConnectServerId), c.storesId);
    if (c.storesId) {
        EXPECT_EQ(settings().getValue<std::wstring>(SettingsKeys::LastConnectServerId), c.serverId);
    }
    for (const std::string& line : c.logged)
        EXPECT_TRUE(logHas(line)) << line;
}

const std::string Credentials = "user\r\npass";
const std::string Configuration = "client\r\ndev tun\r\n";

INSTANTIATE_TEST_SUITE_P(
    Connect, ConnectReply,
    ::testing::Values(
        ConnectCase { "EmptyIdWritesTheDefaultConfiguration", L"",
                      R"({"auth":")" + AuthBase64 + R"(","config":")" + ConfigBase64 + R"("})", 200, "Success",
                      Credentials, L"default.ovpn", Configuration, true,
                      { "client.auth updated", "default.ovpn updated" } },
        ConnectCase { "StatusIsNotLookedAt", L"nl-ams-01",
                      R"({"status":"false","auth":")" + AuthBase64 + R"(","config":")" + ConfigBase64 + R"("})", 200,
                      "Success", Credentials, L"nl-ams-01.ovpn", Configuration, true, {} },
        ConnectCase { "NullAuthLeavesBothFiles", L"nl-ams-01", R"({"auth":null,"config":")" + ConfigBase64 + R"("})",
                      500, "Failed to save config file", std::nullopt, L"nl-ams-01.ovpn", std::nullopt, false,
                      { "client.auth leaved as is" } },
        ConnectCase { "EmptyAuthLeavesBothFiles", L"nl-ams-01", R"({"auth":"","config":")" + ConfigBase64 + R"("})",
                      500, "Failed to save config file", std::nullopt, L"nl-ams-01.ovpn", std::nullopt, false,
                      { "client.auth leaved as is" } },
        ConnectCase { "NullConfigKeepsTheNewCredentials", L"nl-ams-01",
                      R"({"auth":")" + AuthBase64 + R"(","config":null})", 500, "Failed to save config file",
                      Credentials, L"nl-ams-01.ovpn", std::nullopt, false,
                      { "client.auth updated", "nl-ams-01.ovpn leaved as is" } },
        ConnectCase { "ConfigurationThatIsNotBase64", L"nl-ams-01",
                      R"({"auth":")" + AuthBase64 + R"(","config":"Y2xp*W50"})", 500, "Failed to save config file",
                      Credentials, L"nl-ams-01.ovpn", std::nullopt, false, { "nl-ams-01.ovpn update failed" } }),
    [](const ::testing::TestParamInfo<ConnectCase>& info) { return std::string(info.param.name); });

struct Base64Case {
    const char* name;
    std::wstring text;
    bool ok;
    std::string decoded;
};

class Base64Decoding : public ::testing::TestWithParam<Base64Case> {};

TEST_P(Base64Decoding, FollowsTheStandardAlphabet)
{
    std::string decoded = "left over";
    EXPECT_EQ(decodeBase64(GetParam().text, decoded), GetParam().ok);
    if (GetParam().ok) {
        EXPECT_EQ(decoded, GetParam().decoded);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Connect, Base64Decoding,
    ::testing::Values(Base64Case { "WholeGroup", L"TWFu", true, "Man" },
                      Base64Case { "OnePad", L"TWE=", true, "Ma" },
                      Base64Case { "TwoPads", L"TQ==", true, "M" },
                      Base64Case { "NoPadding", L"TWFuTWE", true, "ManMa" },
                      Base64Case { "WhiteSpaceAnywhere", L" TW\r\nFu\tTQ== \n", true, "ManM" },
                      Base64Case { "EveryByteValue", L"AP+A/w==", true, std::string("\x00\xff\x80\xff", 4) },
                      Base64Case { "OneCharacterIsNothing", L"Q===", true, "" },
                      Base64Case { "LineEndAfterThePadding", L"TWE=\r\n", true, "Ma" },
                      Base64Case { "OnlyPadding", L"====", false, "" },
                      Base64Case { "OnlyPaddingAndALineEnd", L"==\n", false, "" },
                      Base64Case { "OutsideTheAlphabet", L"TW$u", false, "" },
                      Base64Case { "UrlAlphabetIsNotStandard", L"TW-_", false, "" },
                      Base64Case { "PaddingInside", L"TQ==TWFu", false, "" },
                      Base64Case { "WideCharacter", L"TWF\u00fc", false, "" }),
    [](const ::testing::TestParamInfo<Base64Case>& info) { return std::string(info.param.name); });
