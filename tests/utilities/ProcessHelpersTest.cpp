// Starting, waiting for, finding and forcibly ending processes. Under Wine every process runs as
// the same user, so the user-token tests show that path is taken, not that privileges differ.
#include "ProcessHelpers.h"

#include "ChildProcess.h"
#include "LogFileFixture.h"

#include <thread>

namespace {

constexpr DWORD Bound = 30000; // only a bound: every wait below normally ends much sooner
const wchar_t ProbeName[] = L"NimbalProbeChild.exe";
const wchar_t MissingProgram[] = L"Z:\\no\\such\\folder\\program.exe";

std::wstring probe()
{
    return hostPath(NIMBAL_PROBE_CHILD_EXE);
}

std::wstring probeCommand(const std::wstring& arguments)
{
    return quoted(probe()) + L" " + arguments;
}

// Set here only: a child started with this process's environment sees it, one started with the
// console user's own environment does not.
const wchar_t OwnVariable[] = L"NIMBAL_PROBE_OWN_VARIABLE";

} // namespace

class ProcessHelpersTest : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        Logger::instance().setLoggingEnabled(true);
        SetEnvironmentVariableW(OwnVariable, L"present");
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(OwnVariable, nullptr);
        LogFileFixture::TearDown();
    }

    // The log after "Enabled logging...".
    std::vector<std::string> lines() const
    {
        std::vector<std::string> all = logLines();
        all.erase(all.begin());
        return all;
    }

    // A command for the probe that writes the variable's value, as its child sees it, to `file`.
    std::wstring variableCommand(const std::wstring& file) const
    {
        return probeCommand(std::wstring(L"env ") + OwnVariable + L" " + quoted(file));
    }

    // Waits for the probe's report file; it is moved into place whole.
    std::wstring awaitReport(const std::wstring& file) const
    {
        for (DWORD waited = 0; !fileExists(file) && waited < Bound; waited += 50)
            Sleep(50);
        const std::string bytes = readWholeFile(file);
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
    }

    static std::string narrow(const std::wstring& text) { return std::string(text.begin(), text.end()); }
};

struct WaitCase {
    const char* name;
    std::wstring arguments;
    int expected;
};

void PrintTo(const WaitCase& value, std::ostream* out)
{
    *out << value.name;
}

class LaunchAndWait : public ProcessHelpersTest, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(LaunchAndWait, ReturnsTheExitCode)
{
    const std::wstring command = probeCommand(GetParam().arguments);
    EXPECT_EQ(launchAndWait(command), GetParam().expected);
    EXPECT_EQ(lines(), (std::vector<std::string> { "Launched " + narrow(command) }));
}

INSTANTIATE_TEST_SUITE_P(ProcessHelpers, LaunchAndWait, ::testing::Values(
    WaitCase { "Three", L"exit 3", 3 },
    WaitCase { "Zero", L"exit 0", 0 },
    WaitCase { "Large", L"exit 1000", 1000 }),
    [](const ::testing::TestParamInfo<WaitCase>& info) { return info.param.name; });

TEST_F(ProcessHelpersTest, LaunchAndWaitEndsACommandThatRunsPastTheLimit)
{
    const std::wstring command = probeCommand(L"wait");
    EXPECT_EQ(launchAndWait(command, 200), -1);
    EXPECT_EQ(lines(), (std::vector<std::string> { "Launched " + narrow(command),
                                                   "launchAndWait: not ended within 200 ms, terminated: "
                                                       + narrow(command) }));
    std::vector<DWORD> running;
    findProcessesByName(ProbeName, running);
    EXPECT_TRUE(running.empty()) << "the probe still runs";
}

TEST_F(ProcessHelpersTest, LaunchAndWaitOfAMissingProgramIsMinusOne)
{
    EXPECT_EQ(launchAndWait(MissingProgram), -1);
    EXPECT_EQ(lines(), (std::vector<std::string> { "CreateProcess failed 2" }));
}

TEST_F(ProcessHelpersTest, LaunchAppStartsWithThisProcesssEnvironmentAndDoesNotWait)
{
    const std::wstring report = folder.file(L"own.txt");
    const std::wstring command = variableCommand(report);
    EXPECT_TRUE(launchApp(command));
    EXPECT_EQ(awaitReport(report), L"present");
    EXPECT_EQ(lines(), (std::vector<std::string> { "LaunchApp_ " + narrow(command), "Launched " + narrow(command) }));
}

TEST_F(ProcessHelpersTest, LaunchAppOfAMissingProgramFails)
{
    EXPECT_FALSE(launchApp(MissingProgram));
    EXPECT_EQ(lines(), (std::vector<std::string> { "LaunchApp_ " + narrow(MissingProgram), "CreateProcess failed 2" }));
}

TEST_F(ProcessHelpersTest, UserTokenIsAPrimaryToken)
{
    const UniqueHandle token = getUserToken();
    ASSERT_TRUE(token);
    TOKEN_TYPE type {};
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token.get(), TokenType, &type, sizeof type, &size));
    EXPECT_EQ(type, TokenPrimary);
    EXPECT_TRUE(lines().empty());
}

TEST_F(ProcessHelpersTest, LaunchAppAsUserStartsWithTheUsersOwnEnvironment)
{
    const std::wstring report = folder.file(L"user.txt");
    const std::wstring command = variableCommand(report);
    EXPECT_TRUE(LaunchAppAsUser(command));
    EXPECT_EQ(awaitReport(report), L"<unset>");
    EXPECT_EQ(lines(), (std::vector<std::string> { "LaunchAppAsUser " + narrow(command), "CreateEnvironmentBlock",
                                                   "CreateProcessAsUser Launched " + narrow(command) }));
    // The impersonation ended with the call.
    HANDLE threadToken = nullptr;
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &threadToken));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_TOKEN));
}

TEST_F(ProcessHelpersTest, FailedUserStartIsNotRetriedUnlessElevationIsNeeded)
{
    const UniqueHandle token = getUserToken();
    ASSERT_TRUE(token);
    EXPECT_FALSE(createProcessAsUser(MissingProgram, token.get(), nullptr));
    EXPECT_EQ(lines(), (std::vector<std::string> { "CreateProcessAsUser failed 2" }));
    EXPECT_FALSE(LaunchAppAsUser(MissingProgram));
}

TEST_F(ProcessHelpersTest, TheStartThroughTheShellRunsAProgramGivenByItsQuotedPath)
{
    const UniqueHandle token = getUserToken();
    ASSERT_TRUE(token);
    const std::wstring report = folder.file(L"shell.txt");
    // Without an environment block of its own the program sees this process's environment.
    EXPECT_TRUE(createProcessThroughShell(variableCommand(report), token.get(), nullptr));
    EXPECT_EQ(awaitReport(report), L"present");
}

// A probe that waits to be ended; ended in any case when the test is over.
class RunningProbe : public ProcessHelpersTest {
protected:
    void SetUp() override
    {
        ProcessHelpersTest::SetUp();
        STARTUPINFOW startup {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info {};
        std::wstring line = probeCommand(L"wait");
        ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
        child = ProcessHandles(info);
        id = info.dwProcessId;
    }
    void TearDown() override
    {
        if (child.process && WaitForSingleObject(child.process.get(), 0) == WAIT_TIMEOUT) {
            TerminateProcess(child.process.get(), 1);
            WaitForSingleObject(child.process.get(), Bound);
        }
        ProcessHelpersTest::TearDown();
    }

    static bool contains(const std::vector<DWORD>& ids, DWORD id)
    {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    }

    ProcessHandles child;
    DWORD id = 0;
};

TEST_F(RunningProbe, IsFoundByItsImageNameInAnyCaseAndAppended)
{
    std::vector<DWORD> ids { 0xFFFFFFF0 };
    findProcessesByName(L"nimbalprobechild.EXE", ids);
    ASSERT_FALSE(ids.empty());
    EXPECT_EQ(ids.front(), 0xFFFFFFF0u) << "what the list held is kept";
    EXPECT_TRUE(contains(ids, id));

    std::vector<DWORD> exact;
    findProcessesByName(ProbeName, exact);
    EXPECT_TRUE(contains(exact, id));
    EXPECT_TRUE(lines().empty());
}

TEST_F(RunningProbe, IsNotFoundByANameWithAFolderOrWithoutItsExtension)
{
    for (const std::wstring& name : { probe(), std::wstring(L"NimbalProbeChild"), std::wstring(L"ProbeChild.exe") }) {
        std::vector<DWORD> ids;
        findProcessesByName(name, ids);
        EXPECT_FALSE(contains(ids, id)) << narrow(name);
    }
}

TEST_F(RunningProbe, TerminateProcessForceEndsItOnceTheDebuggingThreadEnds)
{
    bool result = false;
    // The debugger is the calling thread; the system ends the frozen process when that thread ends.
    std::thread debugger([&] { result = terminateProcessForce(child.process.get()); });
    debugger.join();
    EXPECT_TRUE(result);
    ASSERT_EQ(WaitForSingleObject(child.process.get(), Bound), static_cast<DWORD>(WAIT_OBJECT_0));
    DWORD exitCode = 0;
    GetExitCodeProcess(child.process.get(), &exitCode);
    EXPECT_NE(exitCode, 0u) << "the probe ended by itself";
    EXPECT_EQ(lines(),
              (std::vector<std::string> { "[INFO]: \t terminateProcessForce Terminating process by debugging it " }));
}

TEST_F(RunningProbe, TerminateProcessForceOfAnEndedProcessFailsSilently)
{
    ASSERT_TRUE(TerminateProcess(child.process.get(), 9));
    ASSERT_EQ(WaitForSingleObject(child.process.get(), Bound), static_cast<DWORD>(WAIT_OBJECT_0));
    EXPECT_FALSE(terminateProcessForce(child.process.get()));
    EXPECT_TRUE(lines().empty());
}
