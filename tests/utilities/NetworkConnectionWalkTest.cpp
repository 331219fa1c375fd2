// Connecting network connections, against a fake connection manager that records the walk.
#include "NetworkConnection.h"

#include "ChildProcess.h"
#include "ComPtr.h"
#include "FakeNetshell.h"
#include "Handles.h"
#include "LogFileFixture.h"

namespace {

const wchar_t ManagerClassKey[] = L"CLSID\\{BA126AD1-2166-11D1-B1D0-00805FC1270E}";

std::wstring fakePath()
{
    return hostPath(NIMBAL_FAKE_NETSHELL_DIR) + L"\\netshell.dll";
}

bool registerFake()
{
    HKEY key = nullptr;
    const std::wstring server = std::wstring(ManagerClassKey) + L"\\InprocServer32";
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, server.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) != 0)
        return false;
    const std::wstring path = fakePath();
    const wchar_t model[] = L"Both";
    const bool written =
        RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                       static_cast<DWORD>((path.size() + 1) * sizeof(wchar_t))) == 0 &&
        RegSetValueExW(key, L"ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(model), sizeof model) == 0;
    RegCloseKey(key);
    return written;
}

} // namespace

class ConnectionWalk : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        Logger::instance().setLoggingEnabled(true);
        ASSERT_TRUE(SUCCEEDED(com.result()));
        ASSERT_TRUE(SetDllDirectoryW(hostPath(NIMBAL_FAKE_NETSHELL_DIR).c_str()));
        fake.reset(LoadLibraryW(fakePath().c_str()));
        ASSERT_TRUE(fake);
        configure = reinterpret_cast<ConfigureFakeNetshell>(
            reinterpret_cast<void (*)()>(GetProcAddress(fake.get(), "FakeNetshellConfigure")));
        read = reinterpret_cast<ReadFakeNetshell>(
            reinterpret_cast<void (*)()>(GetProcAddress(fake.get(), "FakeNetshellReport")));
        ASSERT_TRUE(configure && read);
    }
    void TearDown() override
    {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, ManagerClassKey);
        SetDllDirectoryW(nullptr);
        LogFileFixture::TearDown();
    }

    FakeReport report() const
    {
        FakeReport result {};
        read(&result);
        return result;
    }
    static std::vector<int> connected(const FakeReport& report)
    {
        return std::vector<int>(report.connected, report.connected + report.connectCount);
    }

    ComInit com;
    LibraryModule fake;
    ConfigureFakeNetshell configure = nullptr;
    ReadFakeNetshell read = nullptr;
};

TEST_F(ConnectionWalk, UnregisteredManagerConnectsNothing)
{
    const FakeConnection one { L"TAP-Nimbal Adapter", S_OK, S_OK };
    configure(&one, 1);
    EXPECT_FALSE(connectNetworkConnection(L"Nimbal"));
    EXPECT_TRUE(connected(report()).empty());
    EXPECT_EQ(logLines(), (std::vector<std::string> { "Enabled logging..." }));
}

struct WalkCase {
    const char* name;
    const wchar_t* device;
    std::vector<FakeConnection> connections;
    std::vector<int> connected;
    std::vector<std::string> log;
};

void PrintTo(const WalkCase& value, std::ostream* out)
{
    *out << value.name;
}

class ConnectionWalkCases : public ConnectionWalk, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(ConnectionWalkCases, ConnectsWhatMatchesAndReleasesEverything)
{
    const WalkCase& walk = GetParam();
    ASSERT_TRUE(registerFake());
    configure(walk.connections.data(), static_cast<int>(walk.connections.size()));

    EXPECT_TRUE(connectNetworkConnection(walk.device));

    const FakeReport after = report();
    EXPECT_EQ(connected(after), walk.connected);
    EXPECT_EQ(after.propertiesFreed, after.propertiesHanded);
    EXPECT_EQ(after.liveObjects, 0) << "a COM object was not released";
    std::vector<std::string> log { "Enabled logging..." };
    log.insert(log.end(), walk.log.begin(), walk.log.end());
    EXPECT_EQ(logLines(), log);
}

namespace {

const FakeConnection Ethernet { L"Intel(R) Ethernet", S_OK, S_OK };
const FakeConnection WiFi { L"Wireless Adapter", S_OK, S_OK };
const FakeConnection Tap { L"TAP-Nimbal Adapter V9", S_OK, S_OK };
const FakeConnection SecondTap { L"Nimbal Second", S_OK, S_OK };
const FakeConnection FailingTap { L"TAP-Nimbal Adapter V9", S_OK, E_FAIL };
const FakeConnection TapWithoutProperties { L"TAP-Nimbal Adapter V9", E_FAIL, S_OK };

} // namespace

INSTANTIATE_TEST_SUITE_P(NetworkConnection, ConnectionWalkCases, ::testing::Values(
    WalkCase { "EmptyTextConnectsEveryConnection", L"", { Ethernet, Tap, WiFi }, { 0, 1, 2 }, {} },
    WalkCase { "NamedDeviceConnectsTheFirstMatchOnly", L"Nimbal", { Ethernet, Tap, SecondTap }, { 1 }, {} },
    WalkCase { "MatchIsCaseSensitive", L"nimbal", { Tap, SecondTap }, {}, {} },
    WalkCase { "NoMatchConnectsNothingAndStillSucceeds", L"Nimbal", { Ethernet, WiFi }, {}, {} },
    WalkCase { "FailedConnectIsLoggedAndEndsTheWalk", L"Nimbal", { FailingTap, SecondTap }, { 0 },
               { "INetConnection::Connect -2147467259" } },
    WalkCase { "EveryFailedConnectIsLoggedWhenAllAreConnected", L"", { FailingTap, Ethernet, FailingTap },
               { 0, 1, 2 }, { "INetConnection::Connect -2147467259", "INetConnection::Connect -2147467259" } },
    WalkCase { "ConnectionWithoutPropertiesIsSkipped", L"Nimbal", { TapWithoutProperties, SecondTap }, { 1 }, {} },
    WalkCase { "EmptyList", L"", {}, {}, {} }),
    [](const ::testing::TestParamInfo<WalkCase>& info) { return info.param.name; });
