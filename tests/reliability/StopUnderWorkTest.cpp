// A stop while an update download and a VPN connect are both in progress: the download is a slow
// trickle from the mock API, the connect waits for an API reply that takes longer than the stop
// may. The stop ends, the service is STOPPED well before that reply could have come, the download
// is cancelled, and no daemon is left running behind the stopped service.
#include <winsock2.h>

#include "ReliabilityService.h"

#include "MockVpnReplies.h"
#include "OpenVpnPeer.h"
#include "OvpnConfigFolder.h"

#include "Handles.h"

#include <chrono>
#include <thread>

namespace {

// The connect's API reply comes this late, if the request is still waited for at all.
constexpr unsigned ConnectReplyDelayMs = 40000;
// What a stop may take here: its own wait of about 3 s plus its steps, with room for a slow Wine.
// A stop that waited for the connect's reply would take at least the API client's time-out (30 s).
constexpr auto StopBound = std::chrono::seconds(15);

const std::wstring Server = L"stopcase";
const std::string Installer = "slow-installer.exe";
// Test-local ports: the daemon's UDP port, the peer's (no peer runs) and the management port.
const unsigned short DaemonUdpPort = 28801;
const unsigned short PeerUdpPort = 28802;
const int ManagementPort = 28811;

enum class FrontEnd { Pipe, Http };

std::string nameOf(FrontEnd frontEnd)
{
    return frontEnd == FrontEnd::Pipe ? "Pipe" : "Http";
}

// One HTTP request on a socket of its own, sent and left to wait for its reply; the socket is shut
// from outside when the test no longer waits.
class PendingHttpRequest {
public:
    PendingHttpRequest(unsigned short port, const std::string& target, const std::string& body)
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        const DWORD timeoutMs = reliability::Patience;
        setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const std::string request = "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port)
            + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
        sent_ = connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
            && send(socket_, request.data(), static_cast<int>(request.size()), 0) == static_cast<int>(request.size());
        reader_ = std::thread([this] {
            char buffer[4096];
            int n = 0;
            while ((n = recv(socket_, buffer, sizeof buffer, 0)) > 0)
                reply_.append(buffer, static_cast<size_t>(n));
        });
    }
    ~PendingHttpRequest()
    {
        shutdown(socket_, SD_BOTH);
        reader_.join();
        closesocket(socket_);
        WSACleanup();
    }
    bool sent() const { return sent_; }

private:
    SOCKET socket_ = INVALID_SOCKET;
    bool sent_ = false;
    std::string reply_;
    std::thread reader_;
};

class StopUnderWork : public ReliabilityService, public ::testing::WithParamInterface<FrontEnd> {
protected:
    void SetUp() override
    {
        vpnFiles.clear();
        ASSERT_TRUE(peer.prepared());
        ReliabilityService::SetUp();
    }

    // A silent update offered at the first check-in, served a kilobyte every tenth of a second;
    // the connect answered, late, with a daemon configuration that keeps openvpn running.
    void scriptMock() override
    {
        mock.serveDownload(Installer, 200, std::string(4 << 20, 'x'), 1024, 100);
        const std::string url = toNarrowString(mock.downloadUrl(toWideString(Installer), L"https"));
        mock.setReply(vpn_test::CheckinPath, 200,
                      R"({"status":true,"version":"9.9.9.9","updateType":"silent","updateUrl":")" + url
                          + R"(","ovpnControlPort":)" + std::to_string(ManagementPort) + "}");
        mock.setReply(vpn_test::ConnectPath, 200, vpn_test::connectReply(peer.daemonConfiguration("stopcase.pid")),
                      ConnectReplyDelayMs);
    }

    static bool logContains(const std::string& text)
    {
        for (const std::string& line : logLines())
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    const OvpnConfigFolder vpnFiles { { L"client.auth", Server + L".ovpn", L"stopcase.pid", L"ovpn.log" } };
    const std::wstring pidFile = OvpnConfigFolder::file(L"stopcase.pid");
    const OpenVpnGuard daemonGuard { pidFile };
    OpenVpnPeer peer { DaemonUdpPort, PeerUdpPort };
};

} // namespace

TEST_P(StopUnderWork, EndsWithinItsLimitCancellingTheDownloadAndLeavingNoDaemon)
{
    // The download runs.
    ASSERT_TRUE(reliability::waitUntil([this] { return !mock.requestsTo("/download/" + Installer).empty(); }));
    ASSERT_TRUE(reliability::waitUntil([] { return logContains("Downloading file '"); }));

    // The connect waits for the API.
    std::unique_ptr<PipeConnection> pipe;
    std::unique_ptr<PendingHttpRequest> http;
    if (GetParam() == FrontEnd::Pipe) {
        pipe = std::make_unique<PipeConnection>(CommandsPipeName, reliability::Patience);
        ASSERT_TRUE(pipe->connected());
        ASSERT_TRUE(pipe->send(request(CMD_CONNECT_TO_SERVER, { Server })));
    } else {
        ASSERT_TRUE(logGets("Waiting for HTTP request"));
        const int port = httpPort();
        ASSERT_NE(port, 0);
        http = std::make_unique<PendingHttpRequest>(static_cast<unsigned short>(port), "/vpn/connect",
                                                    "server=" + toNarrowString(Server));
        ASSERT_TRUE(http->sent());
    }
    ASSERT_TRUE(reliability::waitUntil([this] { return !mock.requestsTo(vpn_test::ConnectPath).empty(); }));

    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScHandle service(OpenServiceW(manager.get(), L"Nimbal", SERVICE_QUERY_STATUS));
    ASSERT_TRUE(service);
    const auto sent = std::chrono::steady_clock::now();
    std::thread stopper = sendStopInBackground();
    SERVICE_STATUS status {};
    const bool stopped = reliability::waitUntil([&] {
        return QueryServiceStatus(service.get(), &status) && status.dwCurrentState == SERVICE_STOPPED;
    }, 90000, 20);
    const auto took = std::chrono::steady_clock::now() - sent;
    stopper.join();

    ASSERT_TRUE(stopped) << "state " << status.dwCurrentState;
    EXPECT_LT(took, StopBound) << "the stop took "
                               << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    EXPECT_TRUE(logHasInOrder({ "Nimbal Privacy terminating", "Nimbal Privacy terminated" }));
    EXPECT_TRUE(logContains("cancel_downloading==true"));

    // Nothing of the connect survives the stop: no daemon was left running, whenever it started.
    EXPECT_TRUE(reliability::waitUntil([] { return reliability::linuxPidOf(reliability::serviceProgram()) == 0; }));
    const unsigned daemon = waitForPidFile(pidFile, 2000);
    EXPECT_TRUE(daemon == 0 || waitUntilGone(daemon, 10000)) << "openvpn " << daemon << " still runs";
}

INSTANTIATE_TEST_SUITE_P(ConnectThrough, StopUnderWork, ::testing::Values(FrontEnd::Pipe, FrontEnd::Http),
                         [](const ::testing::TestParamInfo<FrontEnd>& info) { return nameOf(info.param); });
