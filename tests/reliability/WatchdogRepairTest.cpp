// The watchdog repairing the tunnel: the installed service connected through the launcher to a
// real openvpn peer on loopback, checked every two seconds (the check-in's interval); the daemon's
// openvpn is killed hard, twice, and each time the watchdog finds it gone, starts it again and
// the VPN is CONNECTED again.
#include "ReliabilityService.h"

#include "MockVpnReplies.h"
#include "OpenVpnPeer.h"
#include "OvpnConfigFolder.h"

namespace {

// Test-local ports: the daemon's management port, its UDP port and the peer's.
const int ManagementPort = 28831;
const unsigned short DaemonUdpPort = 28841;
const unsigned short PeerUdpPort = 28842;
constexpr int IntervalSeconds = 2;

const std::wstring Server = L"watchdog";
const std::string Connected = "03";
const std::string Repaired = "[ERROR]:\t OVPN was not started ";

class WatchdogRepair : public ReliabilityService {
protected:
    void SetUp() override
    {
        vpnFiles.clear();
        ASSERT_TRUE(peer.prepared());
        ReliabilityService::SetUp();
    }

    void scriptMock() override
    {
        mock.setReply(vpn_test::CheckinPath, 200, vpn_test::checkinReply(ManagementPort, IntervalSeconds));
        mock.setReply(vpn_test::ConnectPath, 200, vpn_test::connectReply(peer.daemonConfiguration("watchdog.pid")));
    }

    // The state the pipe reports, asked until it is `wanted` or the patience is spent.
    static std::string stateOnceItIs(PipeConnection& client, const std::string& wanted)
    {
        std::string state;
        reliability::waitUntil([&] { return (state = shown(client.ask(request(CMD_GET_VPN_STATE)))) == wanted; },
                               reliability::Patience, 250);
        return state;
    }

    const OvpnConfigFolder vpnFiles { { L"client.auth", Server + L".ovpn", L"watchdog.pid", L"ovpn.log" } };
    const std::wstring pidFile = OvpnConfigFolder::file(L"watchdog.pid");
    const OpenVpnGuard daemonGuard { pidFile };
    OpenVpnPeer peer { DaemonUdpPort, PeerUdpPort };
};

} // namespace

TEST_F(WatchdogRepair, RestartsTheKilledDaemonAndTheVpnIsConnectedAgain)
{
    ASSERT_NE(peer.start(), 0u);
    // The check-in has handed out the management port and the interval before the connect.
    ASSERT_TRUE(checkinSaved());
    PipeConnection client(CommandsPipeName, reliability::Patience);
    ASSERT_TRUE(client.connected());
    ASSERT_TRUE(client.send(request(CMD_CONNECT_TO_SERVER, { Server })));
    ASSERT_EQ(stateOnceItIs(client, Connected), Connected);
    ASSERT_TRUE(logGets("ZazozeControlService::checkOpenVpnStateThread OpenVPN works correctly"));

    // A check that came before the first connection may have failed already.
    const std::string FirstFailure = "[INFO]: \t ZazozeControlService::checkOpenVpnStateThread OpenVPN does not work "
                                     "correctly 1 ";
    const size_t failuresBefore = count(FirstFailure);
    const size_t repairsBefore = count(Repaired);
    unsigned daemon = waitForPidFile(pidFile, reliability::Patience);
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("kill " + std::to_string(round));
        ASSERT_NE(daemon, 0u);
        DeleteFileW(pidFile.c_str());
        ASSERT_EQ(runLinuxShell("kill -KILL " + std::to_string(daemon), reliability::Patience), 0);
        ASSERT_TRUE(waitUntilGone(daemon, reliability::Patience));

        // Found by a check, started again, and working by a later check.
        ASSERT_TRUE(logGets(Repaired, repairsBefore + static_cast<size_t>(round)));
        const unsigned restarted = waitForPidFile(pidFile, reliability::Patience);
        ASSERT_NE(restarted, 0u);
        EXPECT_NE(restarted, daemon);
        EXPECT_EQ(stateOnceItIs(client, Connected), Connected);
        const size_t passes = count("ZazozeControlService::checkOpenVpnStateThread OpenVPN works correctly");
        EXPECT_TRUE(logGets("ZazozeControlService::checkOpenVpnStateThread OpenVPN works correctly", passes + 1));
        daemon = restarted;
    }

    // Each kill began a series of failed checks, which the repair ended before the log upload.
    EXPECT_EQ(count(FirstFailure), failuresBefore + 2);
    EXPECT_EQ(count("[INFO]: \t ZazozeControlService::checkOpenVpnStateThread OpenVPN does not work correctly 4 "), 0u);
    EXPECT_TRUE(logHasInOrder({ Repaired, "ZazozeControlService::checkOpenVpnStateThread OpenVPN connection state is "
                                          "considered incorrect",
                                "ZazozeControlService::checkOpenVpnStateThread OpenVPN works correctly", Repaired }));
    const std::string daemonLog = readWholeFile(OvpnConfigFolder::file(L"ovpn.log"));
    EXPECT_NE(daemonLog.find("Peer Connection Initiated"), std::string::npos) << daemonLog;

    ASSERT_TRUE(client.send(request(CMD_SET_REQUIRED_STATE, { L"false" })));
    EXPECT_EQ(shown(client.ask(request(CMD_GET_VPN_STATE))), "00");
    EXPECT_TRUE(waitUntilGone(daemon, reliability::Patience));
}
