#pragma once
// The daemon's configuration folder below AppdataPath emptied of the tests' files and put back
// afterwards, with the daemon installed beside the test program (InstallPath), and a daemon
// controller of the test's own. The log goes to a file of the test's own, logging switched on.
// Whatever daemon a test leaves running is killed at its end.

#include "OvpnConfigFolder.h"
#include "SettingsLogFixture.h"

#include "vpn/OpenVpnStateController.h"

#include "StringHelpers.h"

#include <algorithm>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace daemon_test {

const DWORD Patience = 20000;

inline std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
        lines.push_back(line);
    return lines;
}

inline std::string narrow(const std::wstring& text)
{
    return toNarrowString(text);
}

// Waits up to `timeoutMs` for the condition, polling every 50 ms; its last value.
template <typename Condition>
bool eventually(Condition condition, DWORD timeoutMs = Patience)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline)
            return condition();
        Sleep(50);
    }
    return true;
}

// Holds `mutex` on a thread of its own for as long as it lives, as a concurrent caller would.
class HeldElsewhere {
public:
    template <typename Mutex>
    explicit HeldElsewhere(Mutex& mutex)
        : holder_([this, &mutex] {
              const std::lock_guard<Mutex> lock(mutex);
              held_.set_value();
              release_.get_future().wait();
          })
    {
        held_.get_future().wait();
    }
    ~HeldElsewhere()
    {
        release_.set_value();
        holder_.join();
    }
    HeldElsewhere(const HeldElsewhere&) = delete;
    HeldElsewhere& operator=(const HeldElsewhere&) = delete;

private:
    std::promise<void> held_, release_;
    std::thread holder_;
};

} // namespace daemon_test

class DaemonFolderFixture : public SettingsLogFixture {
protected:
    void SetUp() override
    {
        SettingsLogFixture::SetUp();
        files.clear();
        CreateDirectoryW(OvpnConfigFolder::folder().c_str(), nullptr);
    }

    void TearDown() override
    {
        OpenVpnStateController::killAllDaemons();
        SettingsLogFixture::TearDown();
    }

    // The test daemon's directives, one a line.
    static std::vector<std::string> directives(const std::vector<std::string>& chosen)
    {
        std::vector<std::string> lines = { "dev null" };
        for (const std::string& directive : chosen)
            lines.push_back("# test-daemon: " + directive);
        return lines;
    }
    static std::string configurationText(const std::vector<std::string>& lines)
    {
        std::string text;
        for (const std::string& line : lines)
            text += line + "\n";
        return text;
    }
    static void writeConfiguration(const std::wstring& name, const std::vector<std::string>& lines)
    {
        writeWholeFile(OvpnConfigFolder::file(name + L".ovpn"), configurationText(lines));
    }

    // Waits until the test daemon has opened its management port.
    static void waitForListening(int port)
    {
        const std::string listening = "listening: 127.0.0.1:" + std::to_string(port);
        ASSERT_TRUE(daemon_test::eventually([&] { return recorded(listening) || recorded("error: "); }))
            << "the daemon did not open its port";
        ASSERT_TRUE(recorded(listening)) << readWholeFile(OvpnConfigFolder::file(L"test-daemon.record"));
    }

    // The test daemon's record of what it saw, one event a line.
    static std::vector<std::string> record()
    {
        return daemon_test::linesOf(readWholeFile(OvpnConfigFolder::file(L"test-daemon.record")));
    }
    static size_t recordCount(const std::string& line)
    {
        const std::vector<std::string> lines = record();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
    static bool recorded(const std::string& line) { return recordCount(line) > 0; }
    // Every record line that begins with `start`.
    static size_t recordCountStarting(const std::string& start)
    {
        size_t count = 0;
        for (const std::string& line : record())
            count += line.rfind(start, 0) == 0 ? 1 : 0;
        return count;
    }

    // The log holds the text somewhere (a line may hold line ends of its own).
    bool logged(const std::string& text) const { return logText().find(text) != std::string::npos; }
    size_t loggedCount(const std::string& text) const
    {
        const std::string log = logText();
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + text.size()))
            ++count;
        return count;
    }

    // The daemon's command line as the controller builds it.
    static std::string expectedCommandLine(const std::string& configFile, int port)
    {
        return "\"" + daemon_test::narrow(InstallPath) + "OpenVPN\\openvelorn.exe\" --cd \""
            + daemon_test::narrow(OvpnConfigFolder::folder()) + "\" --config " + configFile
            + " --log-append ovpn.log --verb 3 --management localhost " + std::to_string(port);
    }

    const OvpnConfigFolder files { { L"test-daemon.record", L"ovpn.log", L"server.ovpn", L"default.ovpn",
                                     L"nl-ams-01.ovpn", L"loopback.ovpn", L"loopback.pid", L"client.auth" } };
};

class DaemonControllerFixture : public DaemonFolderFixture {
protected:
    void SetUp() override
    {
        DaemonFolderFixture::SetUp();
        controller = std::make_unique<OpenVpnStateController>();
    }

    void TearDown() override
    {
        controller->killOVPN();
        controller.reset();
        DaemonFolderFixture::TearDown();
    }

    // Writes NAME.ovpn with the lines, then starts the daemon with it on `port`.
    void startDaemon(int port, const std::vector<std::string>& lines, const std::wstring& name = L"server")
    {
        writeConfiguration(name, lines);
        controller->setManagementPort(port);
        controller->startOVPN(name);
    }

    // Starts the test daemon and waits until its management port is open.
    void startListening(int port, const std::vector<std::string>& chosen, const std::wstring& name = L"server")
    {
        startDaemon(port, directives(chosen), name);
        waitForListening(port);
    }

    std::unique_ptr<OpenVpnStateController> controller;
};
