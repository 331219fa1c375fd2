// Writes by names that cannot hold a value (a folder, a name below a setting, a name with an empty
// part), over the pipe and over HTTP, then the service's own writes: the account token, the server
// of the connect and a new device identifier. Such a write once made the general document
// unsaveable for the rest of the run; the later writes must survive a restart.
#include "InstalledServiceFixture.h"
#include "OvpnConfigFolder.h"
#include "PipeTestClient.h"

#include "CommandsClient.h"
#include "LoopbackHttp.h"
#include "StringHelpers.h"

namespace {

constexpr DWORD Patience = 60000;
const std::wstring ServerId = L"refused-write-road";
const std::string Token = "token-after-refused-writes";

std::string deviceId(const MockRequest& checkin)
{
    for (const auto& [name, value] : checkin.form)
        if (name == "deviceId")
            return value;
    return std::string();
}

std::string settingOverPipe(PipeConnection& pipe, const std::wstring& key)
{
    return shown(pipe.ask(request(CMD_GET_SETTING, { key })));
}

class RefusedWrites : public InstalledService {};

} // namespace

TEST_F(RefusedWrites, LeaveTheServicesLaterWritesToSurviveARestart)
{
    ASSERT_TRUE(checkinSaved());
    const OvpnConfigFolder vpnFiles { { L"client.auth", ServerId + L".ovpn" } };
    const std::string firstDevice = deviceId(mock.requestsTo(CheckinPath).at(0));
    ASSERT_FALSE(firstDevice.empty());

    size_t checkinsBefore = 0;
    {
        PipeConnection pipe(CommandsPipeName, Patience);
        ASSERT_TRUE(pipe.connected());
        for (const wchar_t* name : { L"Internal", L"Internal.ovpnRequiredState.x", L"", L"Hidden..token" })
            ASSERT_TRUE(pipe.send(request(CMD_SET_SETTING, { name, L"refused" })));
        LoopbackConnection http(static_cast<unsigned short>(httpPort()));
        for (const char* name : { "UpdatableSettings", "InstallSettings.LastVersion.below", "UpdatableSettings." }) {
            const HttpReply reply = http.request("POST", "/setting/set", "",
                                                 std::string("name: ") + name + "\r\nvalue: refused\r\n");
            EXPECT_EQ(reply.status, 400) << name << ": " << reply.body;
        }

        // The service's own writes: the token a client hands over, the server of a connect (no
        // daemon runs beside this service program), and a device identifier made anew by the next
        // check-in once the stored one is gone.
        EXPECT_EQ(http.request("POST", "/remote/login", "token=" + Token + "&lifetime=3600&creationtime=5").status, 200);
        ASSERT_TRUE(pipe.send(request(CMD_CONNECT_TO_SERVER, { ServerId })));
        ASSERT_TRUE(pipe.send(request(CMD_SET_REQUIRED_STATE, { L"false" })));
        EXPECT_EQ(settingOverPipe(pipe, L"LastConnectResponseInfo.serverId"), hex(stringReply(ServerId)));
        ASSERT_TRUE(pipe.send(request(CMD_REMOVE_SETTING, { L"InstallSettings.clientGUID" })));
        registry_guid_backup::removeValue(KEY_WOW64_32KEY);
        registry_guid_backup::removeValue(KEY_WOW64_64KEY);
        checkinsBefore = mock.requestsTo(CheckinPath).size();
        ASSERT_TRUE(pipe.send(request(CMD_RESTART_UPDATE_CHECK)));
        ASSERT_TRUE(checkinsGet(checkinsBefore + 1));
    }
    const std::string newDevice = deviceId(mock.requestsTo(CheckinPath).at(checkinsBefore));
    ASSERT_FALSE(newDevice.empty());
    EXPECT_NE(newDevice, firstDevice);

    ASSERT_NE(runServiceProgramAt(program, L"-stop").find("Nimbal is stopped."), std::string::npos);
    EXPECT_EQ(count("[ERROR]:\t `anonymous-namespace'::saveToEncryptedFile Settings cannot be written as JSON, "
                    "keeping the stored document " + toNarrowString(AppdataPath) + "settings.params "),
              0u);
    ASSERT_NE(runServiceProgramAt(program, L"-start").find("Nimbal is started."), std::string::npos);

    PipeConnection pipe(CommandsPipeName, Patience);
    ASSERT_TRUE(pipe.connected());
    EXPECT_EQ(settingOverPipe(pipe, L"Hidden.VpnUser.token"), hex(stringReply(toWideString(Token))));
    EXPECT_EQ(settingOverPipe(pipe, L"LastConnectResponseInfo.serverId"), hex(stringReply(ServerId)));
    EXPECT_EQ(settingOverPipe(pipe, L"InstallSettings.clientGUID"), hex(stringReply(toWideString(newDevice))));
    EXPECT_EQ(settingOverPipe(pipe, L"Internal.ovpnRequiredState"), hex(stringReply(L"false")));
    // Nothing of the refused writes was stored.
    EXPECT_EQ(settingOverPipe(pipe, L"Internal.ovpnRequiredState.x"), hex(AbsentField));
    EXPECT_EQ(settingOverPipe(pipe, L"InstallSettings.LastVersion.below"), hex(AbsentField));
}
