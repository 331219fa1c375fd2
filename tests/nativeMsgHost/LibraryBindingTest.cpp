// How the host binds the command API library, and what the library's console text may not reach.
#include "HostFolder.h"

namespace {

const std::string IsRunning = R"({"text":"isRunning"})";
const std::string TryToStartService = R"({"text":"tryToStartService"})";

} // namespace

TEST(LibraryBinding, WithoutTheLibraryTheHostEndsWithCodeOneAndSaysNothing)
{
    const HostFolder host(nullptr);
    const ChildResult result = host.run(frames({ IsRunning }));
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.output, "");
}

TEST(LibraryBinding, ALibraryLackingGetVpnStateCountsAsMissing)
{
    const HostFolder host(NIMBAL_TEST_CMDAPI_WITHOUT_VPN_STATE_DLL);
    host.setAnswers({ { L"isServiceRunning", L"1" } });
    const ChildResult result = host.run(frames({ IsRunning }));
    EXPECT_EQ(result.exitCode, 1u);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(host.libraryCalls(), Texts {});
}

TEST(LibraryConsoleText, ReachesStandardOutputOfAProgramThatLeavesItAlone)
{
    // Shows that the stand-in prints where the real library does, so the test below can fail.
    const HostFolder host;
    host.copyHere(NIMBAL_CMDAPI_PROBE_EXE, L"cmdapi_probe.exe");
    const ChildResult result = host.run("", L"cmdapi_probe.exe");
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_NE(result.output.find("Test library console text from tryToStartService"), std::string::npos)
        << result.output;
    EXPECT_NE(result.output.find("Test library handle text"), std::string::npos) << result.output;
}

TEST(LibraryConsoleText, NeverReachesTheHostsFrameStream)
{
    const HostFolder host;
    host.setAnswers({ { L"tryToStartService", L"0" }, { L"isServiceRunning", L"1" } });
    const ChildResult result = host.run(frames({ TryToStartService, IsRunning }));
    EXPECT_EQ(result.exitCode, 0u);
    EXPECT_EQ(result.output, frames({ R"({"text":"Service start attempt failed"})", R"({"text":"running"})" }));
    EXPECT_EQ(host.libraryCalls(), (Texts { "tryToStartService", "isServiceRunning" }));
}
