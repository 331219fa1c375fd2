// The service program's command line, driven as a person at a console would.
#include "ServiceFixture.h"

#include "ServiceControl.h"
#include "TempFolder.h"

#include <optional>

#include <regex>

namespace {

const std::string Usage =
    "Parameters:\n"
    " -install  to install the service.\n"
    " -remove   to remove the service.\n"
    " -start    to start the service.\n"
    " -stop     to stop the service.\n"
    " -manual   to set the service to start manually.\n"
    " -disable  to disable service.\n"
    " -auto     to set the service to start auto.\n";

// Console output is text mode: each newline reaches us as CR LF.
std::string lf(std::string text)
{
    return std::regex_replace(text, std::regex("\r\n"), "\n");
}

void expectMatches(const std::string& output, const std::string& pattern)
{
    EXPECT_TRUE(std::regex_match(lf(output), std::regex(pattern))) << "output was:\n" << lf(output);
}

const char* StartedPattern = "Starting Nimbal\\.\\.*\nNimbal is started\\.\n";
const char* StoppedPattern = "Stopping Nimbal\\.\\.*\nNimbal is stopped\\.\n";

} // namespace

class UnrecognisedSwitch : public ::testing::TestWithParam<const wchar_t*> {};

TEST_P(UnrecognisedSwitch, PrintsTheUsageTextOnly)
{
    EXPECT_EQ(lf(runServiceProgram(GetParam())), Usage);
}

INSTANTIATE_TEST_SUITE_P(CommandLine, UnrecognisedSwitch,
                         ::testing::Values(L"-help", L"/x", L"-", L"/", L"-installx", L"--install", L"-in stall",
                                           L"-stopp -stop"));

TEST(CommandLine, WithoutASwitchItTriesToRunAsAServiceAndFailsFromAConsole)
{
    // 1063: the process was not started by the service control manager.
    const std::string expected = Usage + "Service failed to run w/err 0x00000427\n";
    EXPECT_EQ(lf(runServiceProgram(L"")), expected);
    EXPECT_EQ(lf(runServiceProgram(L"install")), expected);
}

class ServiceLifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (readService().installed)
            runServiceProgram(L"-remove");
        ASSERT_FALSE(readService().installed);
    }
    void TearDown() override
    {
        if (readService().installed)
            runServiceProgram(L"-remove");
    }
};

TEST_F(ServiceLifecycle, InstallCreatesGrantsAndStartsTheService)
{
    expectMatches(runServiceProgram(L"-INSTALL"),
                  std::string("Nimbal is installed\\.\nService DACL updated successfully\n") + StartedPattern);

    const ServiceFacts facts = readService();
    ASSERT_TRUE(facts.installed);
    EXPECT_EQ(facts.state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(facts.displayName, L"Nimbal Privacy");
    EXPECT_EQ(facts.startType, static_cast<DWORD>(SERVICE_AUTO_START));
    EXPECT_EQ(facts.serviceType & SERVICE_WIN32_OWN_PROCESS, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(facts.description, L"Controls VPN connection state for Nimbal Privacy Browser");
    EXPECT_EQ(_wcsicmp(facts.binaryPath.c_str(), quoted(serviceExe()).c_str()), 0);
    EXPECT_TRUE(facts.startName.empty() || _wcsicmp(facts.startName.c_str(), L"LocalSystem") == 0);
}

TEST_F(ServiceLifecycle, AnInstallFromAFolderWithBlanksRegistersTheQuotedPathAndStartsNoOtherProgram)
{
    // Unquoted, "<folder>\Nimbal Privacy\NimbalService.exe" would start "<folder>\Nimbal.exe" first.
    TempFolder folder;
    const std::wstring decoy = folder.file(L"Nimbal.exe");
    writeWholeFile(decoy, readWholeFile(hostPath(NIMBAL_INSTALLER_PROBE_EXE)));
    ASSERT_TRUE(CreateDirectoryW(folder.file(L"Nimbal Privacy").c_str(), nullptr));
    const std::wstring program = folder.file(L"Nimbal Privacy\\NimbalService.exe");
    ASSERT_TRUE(CopyFileW(serviceExe().c_str(), program.c_str(), FALSE));

    expectMatches(runServiceProgramAt(program, L"-install"),
                  std::string("Nimbal is installed\\.\nService DACL updated successfully\n") + StartedPattern);
    const ServiceFacts facts = readService();
    EXPECT_EQ(facts.state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(facts.binaryPath, quoted(program));
    EXPECT_FALSE(fileExists(decoy + L".cmdline"));
    runServiceProgramAt(program, L"-remove");
}

TEST(ProgramPath, IsReadWholeOrNotAtAll)
{
    wchar_t whole[2048] = {};
    const DWORD length = GetModuleFileNameW(nullptr, whole, 2048);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, 2047u);
    // The install reads it into MAX_PATH characters; Wine can start programs from deeper folders.
    const struct { DWORD capacity; bool whole; } cases[] = {
        { length + 1, true }, { MAX_PATH, length < MAX_PATH }, { length, false }, { length - 1, false }, { 1, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.capacity);
        const std::optional<std::wstring> path = modulePath(nullptr, c.capacity);
        ASSERT_EQ(path.has_value(), c.whole);
        if (c.whole) {
            EXPECT_EQ(*path, whole);
        }
    }
}

TEST_F(ServiceLifecycle, EverySwitchDoesWhatItSays)
{
    runServiceProgram(L"-install");
    ASSERT_EQ(readService().state, static_cast<DWORD>(SERVICE_RUNNING));

    // Recognised in any case and after either switch character; installing twice fails in its own words.
    expectMatches(runServiceProgram(L"/Install"), "CreateService failed w/err 0x00000431\n"
                                                  "Service DACL updated successfully\n"
                                                  "\nFailed to start Nimbal, error:1056\\.\n");

    // Only the first argument counts.
    expectMatches(runServiceProgram(L"-stop -start"), StoppedPattern);
    EXPECT_EQ(readService().state, static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(lf(runServiceProgram(L"/STOP")), "\nNimbal is already stopped.\n");

    expectMatches(runServiceProgram(L"-start"), StartedPattern);
    EXPECT_EQ(readService().state, static_cast<DWORD>(SERVICE_RUNNING));

    struct { const wchar_t* word; DWORD startType; } const startTypes[] = {
        { L"-manual", SERVICE_DEMAND_START },
        { L"/Disable", SERVICE_DISABLED },
        { L"-AUTO", SERVICE_AUTO_START },
    };
    for (const auto& change : startTypes) {
        EXPECT_EQ(lf(runServiceProgram(change.word)), "Start type changed.\n");
        EXPECT_EQ(readService().startType, change.startType);
    }

    expectMatches(runServiceProgram(L"-remove"), std::string(StoppedPattern) + "Nimbal is removed\\.\n");
    EXPECT_FALSE(readService().installed);
}

TEST_F(ServiceLifecycle, RemovingAStoppedServiceSaysItIsAlreadyStopped)
{
    runServiceProgram(L"-install");
    runServiceProgram(L"-stop");
    EXPECT_EQ(lf(runServiceProgram(L"-remove")), "\nNimbal is already stopped.\nNimbal is removed.\n");
}

class MissingService : public ServiceLifecycle,
                       public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(MissingService, ActionsReportErrorOneThousandSixty)
{
    // 1060: the service does not exist.
    EXPECT_EQ(lf(runServiceProgram(GetParam())), "OpenService failed w/err 0x00000424\n");
}

INSTANTIATE_TEST_SUITE_P(CommandLine, MissingService,
                         ::testing::Values(L"-start", L"-stop", L"-remove", L"-manual", L"-disable", L"-auto"));
