// The VPN road end to end: the installed service, asked over its pipe or its HTTP control server
// to connect, fetches the configuration from the mock API, starts Debian's openvpn through the
// launcher installed beside it as OpenVPN\openvelorn.exe, reports it connected to a real peer on
// loopback, and on disconnect stops it with "signal SIGTERM".
#include "InstalledServiceFixture.h"
#include "MockVpnReplies.h"
#include "OpenVpnPeer.h"
#include "OvpnConfigFolder.h"
#include "PipeTestClient.h"

#include "CommandsClient.h"
#include "LinuxProcesses.h"
#include "LoopbackHttp.h"
#include "MockApi.h"
#include "StringHelpers.h"

namespace {

// Test-local ports: the daemon's management port, its UDP port and the peer's.
const int ManagementPort = 28501;
const unsigned short DaemonUdpPort = 28511;
const unsigned short PeerUdpPort = 28512;

const DWORD Patience = 60000;

class VpnRoad : public InstalledService {
protected:
    VpnRoad() : InstalledService(hostPath(NIMBAL_VPN_ROAD_SERVICE_EXE)) {}

    // The start's check-in already sets the daemon's management port.
    void scriptMock() override { mock.setReply(vpn_test::CheckinPath, 200, vpn_test::checkinReply(ManagementPort, 60)); }

    // The state as the pipe reports it, asked until it is `wanted` or the patience is spent.
    static std::string stateOnceItIs(PipeConnection& client, const std::string& wanted)
    {
        std::string state;
        const ULONGLONG deadline = GetTickCount64() + Patience;
        do {
            state = shown(client.ask(request(CMD_GET_VPN_STATE)));
            if (state == wanted)
                break;
            Sleep(250);
        } while (GetTickCount64() < deadline);
        return state;
    }

    // The state as vpn/get/state reports it, asked until it is `wanted` or the patience is spent.
    static std::string stateOnceItIs(LoopbackConnection& http, const std::string& wanted)
    {
        std::string state;
        const ULONGLONG deadline = GetTickCount64() + Patience;
        do {
            state = http.request("POST", "/vpn/get/state").body;
            if (state == wanted)
                break;
            Sleep(250);
        } while (GetTickCount64() < deadline);
        return state;
    }

    // The peer up, the mock handing out its configuration; the daemon's pid file watched.
    void prepareRoad(OpenVpnPeer& peer)
    {
        ASSERT_TRUE(peer.prepared());
        mock.reset();
        mock.setReply(vpn_test::CheckinPath, 200, vpn_test::checkinReply(ManagementPort, 60));
        mock.setReply(vpn_test::ConnectPath, 200, vpn_test::connectReply(peer.daemonConfiguration("loopback.pid")));
        ASSERT_NE(peer.start(), 0u);
    }

    // The daemon stopped with SIGTERM once the VPN is no longer wanted, and the peer had seen it.
    void expectStoppedWithSigterm(unsigned openvpn)
    {
        EXPECT_TRUE(waitUntilGone(openvpn, Patience));
        EXPECT_TRUE(logHasInOrder({ "Stop ZazozeControlService::checkOpenVpnStateThread",
                                    "[INFO]: \t OpenVpnStateController::stopOVPN Connected, sending stop command ",
                                    "[INFO]: \t OpenVpnStateController::stopOVPN succeeded " }));
        const std::string daemonLog = readWholeFile(OvpnConfigFolder::file(L"ovpn.log"));
        EXPECT_NE(daemonLog.find("Peer Connection Initiated"), std::string::npos) << daemonLog;
        EXPECT_NE(daemonLog.find("MANAGEMENT: CMD 'signal SIGTERM'"), std::string::npos) << daemonLog;
    }

    const std::wstring pidFile = OvpnConfigFolder::file(L"loopback.pid");
    const OvpnConfigFolder vpnFiles { { L"client.auth", L"loopback.ovpn", L"loopback.pid", L"ovpn.log" } };
};

} // namespace

TEST_F(VpnRoad, ConnectsThroughTheApiAndTheRealDaemonAndDisconnectsWithSigterm)
{
    OpenVpnPeer peer(DaemonUdpPort, PeerUdpPort);
    const OpenVpnGuard daemonGuard(pidFile);
    ASSERT_NO_FATAL_FAILURE(prepareRoad(peer));

    PipeConnection client(CommandsPipeName);
    ASSERT_TRUE(client.connected());
    EXPECT_EQ(shown(client.ask(request(CMD_GET_VPN_STATE))), "00");
    ASSERT_TRUE(client.send(request(CMD_CONNECT_TO_SERVER, { L"loopback" })));
    EXPECT_EQ(stateOnceItIs(client, "03"), "03");

    const std::vector<MockRequest> connects = mock.requestsTo(vpn_test::ConnectPath);
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_NE(connects[0].body.find("vpnSrvId=loopback"), std::string::npos) << connects[0].body;
    const unsigned openvpn = waitForPidFile(pidFile, Patience);
    ASSERT_NE(openvpn, 0u);
    const std::wstring daemon = folderOf(hostPath(NIMBAL_VPN_ROAD_SERVICE_EXE)) + L"OpenVPN\\openvelorn.exe";
    EXPECT_EQ(count("Launched \"" + toNarrowString(daemon) + "\" --cd \"" + toNarrowString(OvpnConfigFolder::folder())
                    + "\" --config loopback.ovpn --log-append ovpn.log --verb 3 --management localhost "
                    + std::to_string(ManagementPort)),
              1u);

    // Not wanted any more: the watch ends and the daemon is asked to stop, before the next reply.
    ASSERT_TRUE(client.send(request(CMD_SET_REQUIRED_STATE, { L"false" })));
    EXPECT_EQ(shown(client.ask(request(CMD_GET_VPN_STATE))), "00");
    expectStoppedWithSigterm(openvpn);
}

TEST_F(VpnRoad, ConnectsOverHttpAndAnswersEachStateTillDisconnected)
{
    OpenVpnPeer peer(DaemonUdpPort, PeerUdpPort);
    const OpenVpnGuard daemonGuard(pidFile);
    ASSERT_NO_FATAL_FAILURE(prepareRoad(peer));
    const int port = httpPort();
    ASSERT_NE(port, 0);

    LoopbackConnection http(static_cast<unsigned short>(port));
    EXPECT_EQ(http.request("POST", "/vpn/get/state").body, "NOTCONNECTED");
    const HttpReply connected = http.request("POST", "/vpn/connect", "server=loopback");
    EXPECT_EQ(connected.status, 200);
    EXPECT_EQ(connected.reason, "OK");
    EXPECT_EQ(connected.body, "Success");
    EXPECT_EQ(stateOnceItIs(http, "CONNECTED"), "CONNECTED");
    const HttpReply current = http.request("POST", "/vpn/get/currentServer");
    EXPECT_EQ(current.body, "loopback");

    const std::vector<MockRequest> connects = mock.requestsTo(vpn_test::ConnectPath);
    ASSERT_EQ(connects.size(), 1u);
    EXPECT_NE(connects[0].body.find("vpnSrvId=loopback"), std::string::npos) << connects[0].body;
    const unsigned openvpn = waitForPidFile(pidFile, Patience);
    ASSERT_NE(openvpn, 0u);

    const HttpReply disconnecting = http.request("POST", "/vpn/disconnect");
    EXPECT_EQ(disconnecting.status, 200);
    EXPECT_EQ(disconnecting.reason, "OK");
    EXPECT_EQ(disconnecting.body, "Disconnecting");
    EXPECT_EQ(http.request("POST", "/vpn/get/state").body, "NOTCONNECTED");
    expectStoppedWithSigterm(openvpn);
}
