// The launcher, installed as OpenVPN\openvelorn.exe: Debian's openvpn in the daemon's place,
// reaching a real peer on loopback, and tied in life to the launcher.
#include "ChildProcess.h"
#include "LinuxProcesses.h"
#include "ManagementClient.h"
#include "ManagementTexts.h"
#include "OpenVpnArguments.h"
#include "RunningProgram.h"
#include "StringHelpers.h"
#include "TempFolder.h"
#include "WinePaths.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <stdexcept>

namespace {

// Test-local ports: management and UDP of each peer.
const unsigned short LauncherManagementPort = 27411;
const unsigned short PeerManagementPort = 27412;
const unsigned short LauncherUdpPort = 27421;
const unsigned short PeerUdpPort = 27422;
const unsigned short TerminatedManagementPort = 27413;
const unsigned short TerminatedUdpPort = 27423;  // and the next, for its absent peer
const unsigned short FailingManagementPort = 27414;
const unsigned short KilledManagementPort = 27415;
const unsigned short KilledUdpPort = 27425;  // and the next

const DWORD Patience = 30000;


std::string secondField(const std::string& reply)
{
    std::istringstream fields(reply);
    std::string field;
    std::getline(fields, field, ',');
    std::getline(fields, field, ',');
    return field;
}

std::string nulSeparated(const std::vector<std::string>& arguments)
{
    std::string text;
    for (const std::string& argument : arguments)
        text += argument + '\0';
    return text;
}

// Two openvpn peers on 127.0.0.1 with a static key made for the test, in a folder whose Windows
// path has a blank in it, as the service's folder does.
class OpenVpnPeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
        const auto linuxFolder = linuxPathOf(folder_);
        ASSERT_TRUE(linuxFolder.has_value());
        linuxFolder_ = toNarrowString(*linuxFolder);
        ASSERT_EQ(runLinuxShell("openvpn --genkey secret " + shellQuoted(linuxFolder_ + "/static.key"), Patience), 0);
    }

    void writeConfiguration(const std::wstring& name, unsigned short localPort, unsigned short remotePort) const
    {
        std::ostringstream text;
        text << "dev null\nproto udp\nlocal 127.0.0.1\nlport " << localPort << "\nremote 127.0.0.1\nrport " << remotePort
             << "\nsecret static.key\ncipher AES-256-CBC\nifconfig-noexec\nping 1\nwritepid " << toNarrowString(name)
             << ".pid\n";
        writeWholeFile(file(name + L".ovpn"), text.str());
    }

    // The service's daemon command line, with the launcher as the daemon.
    std::wstring launcherCommandLine(const std::wstring& config, unsigned short managementPort) const
    {
        return quoted(hostPath(NIMBAL_LAUNCHER_EXE)) + L" --cd \"" + folder_ + L"\" --config " + config
            + L" --log-append ovpn.log --verb 3 --management localhost " + std::to_wstring(managementPort);
    }

    // The peer runs as a plain Linux process, its paths Linux paths.
    void startPeer(const std::wstring& name, unsigned short managementPort) const
    {
        ASSERT_TRUE(startLinuxProgram({ L"Z:\\usr\\sbin\\openvpn", L"--cd", toWideString(linuxFolder_), L"--config",
                                        name + L".ovpn", L"--log-append", name + L".log", L"--verb", L"3",
                                        L"--management", L"127.0.0.1", std::to_wstring(managementPort) }));
    }


    // Asks "state" until the tunnel is up; the last reply.
    static std::string waitForConnected(ManagementClient& client)
    {
        const ULONGLONG deadline = GetTickCount64() + Patience;
        std::string reply;
        do {
            if (!client.send("state\r\n"))
                break;
            reply = client.readUntil("END\r\n", Patience);
            if (secondField(reply) == "CONNECTED")
                break;
            Sleep(250);
        } while (GetTickCount64() < deadline);
        return reply;
    }

    // Starts openvpn alone through the launcher, connects to its management port and learns its pid.
    void launchLone(unsigned short udpPort, unsigned short managementPort)
    {
        writeConfiguration(L"launched", udpPort, udpPort + 1);
        lone_ = std::make_unique<LoneOpenVpn>(file(L"launched.pid"), launcherCommandLine(L"launched.ovpn", managementPort));
        ASSERT_EQ(lone_->client.connectForGreeting(managementPort, Patience), ManagementGreeting);
        lone_->pid = waitForPidFile(file(L"launched.pid"), Patience);
        ASSERT_TRUE(linuxProcessExists(lone_->pid));
    }

    std::wstring file(const std::wstring& name) const { return folder_ + L"\\" + name; }

    struct LoneOpenVpn {
        LoneOpenVpn(const std::wstring& pidFile, const std::wstring& commandLine) : guard(pidFile), launcher(commandLine) {}
        OpenVpnGuard guard;
        RunningProgram launcher;
        ManagementClient client;
        unsigned pid = 0;
    };

    TempFolder temp_;
    const std::wstring folder_ = temp_.path() + L"ovpn config";
    std::string linuxFolder_;
    std::unique_ptr<LoneOpenVpn> lone_;
};

} // namespace

TEST(OpenVpnArguments, TakeLinuxPathsAndTheLoopbackAddress)
{
    const std::vector<std::wstring> given = { L"--cd", L"C:\\windows", L"--config", L"a b.ovpn", L"--log-append",
                                              L"Z:\\tmp\\ovpn.log", L"--remote", L"localhost", L"--management",
                                              L"localhost", L"5555" };
    const std::vector<std::wstring> arguments = openVpnArguments(given);
    ASSERT_EQ(arguments.size(), given.size());
    const std::wstring windows = arguments[1];
    const std::wstring suffix = L"/dosdevices/c:/windows";
    EXPECT_TRUE(windows.size() > suffix.size() && windows.compare(windows.size() - suffix.size(), suffix.size(), suffix) == 0)
        << toNarrowString(windows);
    const std::vector<std::wstring> rest(arguments.begin() + 2, arguments.end());
    const std::vector<std::wstring> expected = { L"--config", L"a b.ovpn", L"--log-append", L"/tmp/ovpn.log",
                                                 L"--remote", L"localhost", L"--management", L"127.0.0.1", L"5555" };
    EXPECT_EQ(rest, expected);
}

TEST(OpenVpnArguments, RefuseAPathWineCannotMap)
{
    EXPECT_THROW(openVpnArguments({ L"--cd", L"C:\\no such folder\\below it" }), std::runtime_error);
}

TEST_F(OpenVpnPeers, ReachConnectedAndEndTogetherOnSigterm)
{
    writeConfiguration(L"launched", LauncherUdpPort, PeerUdpPort);
    writeConfiguration(L"peer", PeerUdpPort, LauncherUdpPort);
    OpenVpnGuard launchedGuard(file(L"launched.pid")), peerGuard(file(L"peer.pid"));
    RunningProgram launcher(launcherCommandLine(L"launched.ovpn", LauncherManagementPort));
    ASSERT_TRUE(launcher.started());
    startPeer(L"peer", PeerManagementPort);

    ManagementClient client;
    ASSERT_EQ(client.connectForGreeting(LauncherManagementPort, Patience), ManagementGreeting);
    EXPECT_EQ(secondField(waitForConnected(client)), "CONNECTED");
    const unsigned openvpn = waitForPidFile(file(L"launched.pid"), Patience);
    ASSERT_TRUE(linuxProcessExists(openvpn));
    const std::string commandLine = linuxCommandLine(openvpn);
    EXPECT_NE(commandLine.find(nulSeparated({ "--cd", linuxFolder_, "--config", "launched.ovpn" })), std::string::npos);
    EXPECT_NE(commandLine.find(nulSeparated({ "--management", "127.0.0.1", "27411" })), std::string::npos);

    ASSERT_TRUE(client.send("signal SIGTERM\r\n"));
    EXPECT_EQ(client.readUntil("\r\n", Patience), SigtermThrown);
    EXPECT_TRUE(client.waitForClose(Patience));
    ASSERT_TRUE(launcher.waitForExit(Patience));
    EXPECT_EQ(launcher.exitCode(), 0u);
    EXPECT_FALSE(linuxProcessExists(openvpn));

    // openvpn removes its pid file as it ends: the peer's pid is read first.
    const unsigned peerOpenVpn = waitForPidFile(file(L"peer.pid"), Patience);
    ASSERT_TRUE(linuxProcessExists(peerOpenVpn));
    ManagementClient peer;
    ASSERT_EQ(peer.connectForGreeting(PeerManagementPort, Patience), ManagementGreeting);
    ASSERT_TRUE(peer.send("signal SIGTERM\r\n"));
    EXPECT_TRUE(peer.waitForClose(Patience));
    EXPECT_TRUE(waitUntilGone(peerOpenVpn, Patience));
    EXPECT_TRUE(waitUntilNoneWith(linuxFolder_, Patience));
}

TEST_F(OpenVpnPeers, TerminatingTheLauncherEndsItsOpenVpn)
{
    ASSERT_NO_FATAL_FAILURE(launchLone(TerminatedUdpPort, TerminatedManagementPort));
    lone_->launcher.terminate();
    EXPECT_TRUE(waitUntilGone(lone_->pid, Patience));
    EXPECT_TRUE(lone_->client.waitForClose(Patience));
    EXPECT_TRUE(waitUntilNoneWith(linuxFolder_, Patience));
}

TEST_F(OpenVpnPeers, LauncherEndsWhenItsOpenVpnIsKilled)
{
    ASSERT_NO_FATAL_FAILURE(launchLone(KilledUdpPort, KilledManagementPort));
    ASSERT_EQ(runLinuxShell("kill -KILL " + std::to_string(lone_->pid), Patience), 0);
    ASSERT_TRUE(lone_->launcher.waitForExit(Patience));
    EXPECT_EQ(lone_->launcher.exitCode(), 128u + 9u);  // as the shell reports a death by SIGKILL
}

// openvpn refuses a configuration it cannot open: the launcher ends with its status, 1, and has
// nothing to complain of itself.
TEST_F(OpenVpnPeers, LauncherEndsWithOpenVpnsExitStatus)
{
    RunningProgram launcher(launcherCommandLine(L"missing.ovpn", FailingManagementPort));
    ASSERT_TRUE(launcher.waitForExit(Patience));
    EXPECT_EQ(launcher.exitCode(), 1u);
    EXPECT_EQ(readWholeFile(file(L"ovpn.log")).find("ovpnlauncher:"), std::string::npos);
    EXPECT_TRUE(waitUntilNoneWith(linuxFolder_, Patience));
}
