#pragma once
// The service object in process with the test daemon installed beside the test program, the mock
// vendor API scripted to hand out the daemon's configuration, and the watchdog ended and the daemon
// killed at the end of each test.

#include "DaemonControllerFixture.h"
#include "RegistryGuidBackup.h"

#include "ZazozeControlService.h"
#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"

#include "ComPtr.h"
#include "MockApi.h"

#include <string>
#include <vector>

namespace vpn_test {

const std::string CheckinPath = "/v3/client/checkin";
const std::string ConnectPath = "/v3/server/connect";
const std::string LogUploadPath = "/user/log/";

inline std::string base64(const std::string& bytes)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        const unsigned chunk = static_cast<unsigned char>(bytes[i]) << 16
            | (left > 1 ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0) | (left > 2 ? static_cast<unsigned char>(bytes[i + 2]) : 0);
        text += alphabet[chunk >> 18 & 63];
        text += alphabet[chunk >> 12 & 63];
        text += left > 1 ? alphabet[chunk >> 6 & 63] : '=';
        text += left > 2 ? alphabet[chunk & 63] : '=';
    }
    return text;
}

// A check-in reply of this version with the daemon's management port and the watchdog's interval.
inline std::string checkinReply(int managementPort, int intervalSeconds)
{
    return "{\"status\":true,\"version\":\"1.1.0.33\",\"updateType\":\"manual\",\"updateUrl\":\"\","
           "\"updateRequestInterval\":86400,\"updateRequestIntervalIfFailed\":3600,\"vpnDiagnosticsInterval\":"
        + std::to_string(intervalSeconds) + ",\"ovpnControlPort\":" + std::to_string(managementPort)
        + ",\"remindOnBrowserDays\":2,\"agentIconUpdTimeout\":2}";
}

// A connect reply that hands out `configuration`.
inline std::string connectReply(const std::string& configuration)
{
    return "{\"status\":true,\"auth\":\"" + base64("mockuser\nmockpassword\n") + "\",\"config\":\"" + base64(configuration)
        + "\"}";
}

} // namespace vpn_test

// The service's protected parts, for the tests to drive.
class VpnServiceUnderTest : public ZazozeControlService {
public:
    using ZazozeControlService::applyRequiredState;
    using ZazozeControlService::checkOpenVpnStateThreadRunning;
    using ZazozeControlService::lastCheckinSucceeded;
    using ZazozeControlService::stopping;
    using ZazozeControlService::stopVpnWatch;
    using ZazozeControlService::vpnCheckEvent;
    using ZazozeControlService::vpnController;
};

class VpnServiceFixture : public DaemonFolderFixture {
protected:
    void SetUp() override
    {
        DaemonFolderFixture::SetUp();
        ASSERT_TRUE(SUCCEEDED(com.result()));
        mock.reset();
        mainSettings().loadFromJson(L"{}");
        mainSettings().setValue(SettingsKeys::ClientGuid, L"6b29fc40-ca47-1067-b31d-00dd010662da");
        mainSettings().setValue(SettingsKeys::InstalledVersion, L"1.1.0.33");
        // The watchdog switches logging off when it was not configured on; the tests read the log.
        Logger::instance().configuredEnabled = true;
        service.vpnCheckEvent.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        service.lastCheckinSucceeded = true;
    }

    void TearDown() override
    {
        endWatchdog();
        service.vpnController.killOVPN();
        mainSettings().loadFromJson(L"{}");
        Logger::instance().configuredEnabled = false;
        view32.restore();
        view64.restore();
        DaemonFolderFixture::TearDown();
    }

    // The service stop's way of ending the watchdog, waited for.
    void endWatchdog()
    {
        service.stopping = true;
        if (service.vpnCheckEvent)
            SetEvent(service.vpnCheckEvent.get());
        EXPECT_TRUE(daemon_test::eventually([this] { return !service.checkOpenVpnStateThreadRunning; }, 60000));
    }

    // The daemon's management port and the watchdog's interval come with the check-in that the
    // first request makes; `configuration` with the connect.
    void scriptApi(int managementPort, int intervalSeconds, const std::vector<std::string>& configuration)
    {
        mock.setReply(vpn_test::CheckinPath, 200, vpn_test::checkinReply(managementPort, intervalSeconds));
        mock.setReply(vpn_test::ConnectPath, 200, vpn_test::connectReply(configurationText(configuration)));
    }

    static void setRequired(bool required) { mainSettings().setValue(SettingsKeys::OvpnRequiredState, required); }
    static std::wstring lastServerId() { return mainSettings().getValue<std::wstring>(SettingsKeys::LastConnectServerId); }

    // Starts the daemon straight through the controller, without the API.
    void startDaemon(int port, const std::vector<std::string>& chosen, const std::wstring& name = L"server")
    {
        writeConfiguration(name, directives(chosen));
        service.vpnController.setManagementPort(port);
        service.vpnController.startOVPN(name);
    }

    bool watchdogStarted() const { return logged("Start ZazozeControlService::checkOpenVpnStateThread  Thread ID: "); }
    bool watchdogStopped() const { return logged("Stop ZazozeControlService::checkOpenVpnStateThread\r\n"); }

    // Constructed before SetUp changes anything.
    const registry_guid_backup::ViewState view32 { KEY_WOW64_32KEY };
    const registry_guid_backup::ViewState view64 { KEY_WOW64_64KEY };
    ComInit com { COINIT_APARTMENTTHREADED };
    MockApi mock;
    VpnServiceUnderTest service;
};
