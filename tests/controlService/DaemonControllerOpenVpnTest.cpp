// The daemon controller with Debian's openvpn in the daemon's place (the launcher, installed
// beside this program as OpenVPN\openvelorn.exe), reaching a real peer on loopback.
#include "DaemonControllerFixture.h"
#include "OpenVpnPeer.h"

#include "LinuxProcesses.h"

#include <gtest/gtest.h>

using namespace daemon_test;

namespace {

// Test-local ports: the daemon's management port, its UDP port and the peer's.
const int ManagementPort = 28401;
const unsigned short DaemonUdpPort = 28411;
const unsigned short PeerUdpPort = 28412;

const DWORD OpenVpnPatience = 30000;

} // namespace

TEST_F(DaemonControllerFixture, RealDaemonConnectsAndEndsOnSigterm)
{
    OpenVpnPeer peer(DaemonUdpPort, PeerUdpPort);
    ASSERT_TRUE(peer.prepared());
    const std::wstring pidFile = OvpnConfigFolder::file(L"loopback.pid");
    OpenVpnGuard daemonGuard(pidFile);
    writeWholeFile(OvpnConfigFolder::file(L"loopback.ovpn"), peer.daemonConfiguration("loopback.pid"));
    controller->setManagementPort(ManagementPort);
    controller->startOVPN(L"loopback");
    ASSERT_TRUE(controller->isDaemonAlive());
    const unsigned openvpn = waitForPidFile(pidFile, OpenVpnPatience);
    ASSERT_NE(openvpn, 0u);

    // Without its peer the daemon answers, but not "CONNECTED", and the connection stays open.
    ASSERT_TRUE(eventually([this] { return controller->isManagementConnected() || controller->checkState() == 0; },
                           OpenVpnPatience));
    EXPECT_EQ(controller->checkState(), 2);
    EXPECT_TRUE(controller->isManagementConnected());

    ASSERT_NE(peer.start(), 0u);
    EXPECT_TRUE(eventually([this] { return controller->isVpnConnected(); }, OpenVpnPatience));

    EXPECT_TRUE(controller->stopOVPN());
    EXPECT_FALSE(controller->isDaemonAlive());
    EXPECT_TRUE(logged("[INFO]: \t OpenVpnStateController::stopOVPN Connected, sending stop command "));
    EXPECT_TRUE(logged("[INFO]: \t State received:  SUCCESS: signal SIGTERM thrown\r\r\n"));
    EXPECT_TRUE(waitUntilGone(openvpn, OpenVpnPatience));
    const std::string daemonLog = readWholeFile(OvpnConfigFolder::file(L"ovpn.log"));
    EXPECT_NE(daemonLog.find("SIGTERM"), std::string::npos) << daemonLog;
}
