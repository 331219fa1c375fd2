// Connecting network connections where netshell.dll is absent (as under Wine) or incomplete.
#include "NetworkConnection.h"

#include "ChildProcess.h"
#include "ComPtr.h"
#include "LogFileFixture.h"

class NetworkConnectionTest : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        Logger::instance().setLoggingEnabled(true);
    }
    void TearDown() override
    {
        SetDllDirectoryW(nullptr);
        LogFileFixture::TearDown();
    }

    ComInit com;
};

TEST_F(NetworkConnectionTest, WithoutNetshellNothingIsConnected)
{
    ASSERT_EQ(GetModuleHandleW(L"netshell.dll"), nullptr);
    for (const wchar_t* device : { L"Nimbal", L"" })
        EXPECT_FALSE(connectNetworkConnection(device));
    EXPECT_EQ(logLines(), (std::vector<std::string> { "Enabled logging...", "Cannot load netshell.dll",
                                                      "Cannot load netshell.dll" }));
}

TEST_F(NetworkConnectionTest, NetshellWithoutTheFreeFunctionIsRefusedAndUnloaded)
{
    ASSERT_TRUE(SetDllDirectoryW(hostPath(NIMBAL_BARE_NETSHELL_DIR).c_str()));
    EXPECT_FALSE(connectNetworkConnection(L"Nimbal"));
    EXPECT_EQ(GetModuleHandleW(L"netshell.dll"), nullptr) << "the library was not freed";
    EXPECT_EQ(logLines(), (std::vector<std::string> { "Enabled logging...",
                                                      "Cannot load NcFreeNetconProperties from netshell.dll" }));
}
