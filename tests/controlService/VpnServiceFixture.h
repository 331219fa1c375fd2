#pragma once
// The service object in process with the test daemon installed beside the test program, the mock
// vendor API scripted to hand out the daemon's configuration, and the watchdog ended and the daemon
// killed at the end of each test.

#include "DaemonControllerFixture.h"
#include "MockVpnReplies.h"
#include "RegistryGuidBackup.h"

#include "ZazozeControlService.h"
#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"

#include "ComPtr.h"
#include "MockApi.h"

#include <string>
#include <vector>

// The service's protected parts, for the tests to drive.
class VpnServiceUnderTest : public ZazozeControlService {
public:
    using ZazozeControlService::applyRequiredState;
    using ZazozeControlService::checkOpenVpnStateThreadRunning;
    using ZazozeControlService::lastCheckinSucceeded;
    using ZazozeControlService::repairVpnConnection;
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
