#include "ProcessHelpers.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <tlhelp32.h>
#include <wtsapi32.h>

#include <cstdint>

namespace {

// The empty title: start takes a first argument in double quotes for the window's title, and the
// command lines given here begin with the program's path in double quotes.
const wchar_t ElevatingShell[] = L"cmd.exe /C start \"\" ";
// ERROR_ELEVATION_REQUIRED, which the headers lack.
constexpr DWORD ElevationRequired = 740;

// How long a terminated process is given to be gone.
constexpr DWORD TerminateWaitMs = 5000;

constexpr DWORD UserProcessFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS;
constexpr DWORD OwnProcessFlags = CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE;

// Process creation may write into the command line, so it gets a copy of its own.
std::vector<wchar_t> writableCopy(const std::wstring& text)
{
    std::vector<wchar_t> copy(text.begin(), text.end());
    copy.push_back(L'\0');
    return copy;
}

// One CreateProcessAsUserW call on the user's desktop; the new process's handles are closed at once.
bool startAsUser(const std::wstring& commandLine, HANDLE token, LPVOID environment, bool hidden)
{
    wchar_t desktop[] = L"winsta0\\default";
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.lpDesktop = desktop;
    if (hidden) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info {};
    std::vector<wchar_t> line = writableCopy(commandLine);
    if (!CreateProcessAsUserW(token, nullptr, line.data(), nullptr, nullptr, FALSE, UserProcessFlags, environment,
                              nullptr, &startup, &info))
        return false;
    const ProcessHandles started(info);
    return true;
}

// What launchApp and launchAndWait share: a new console, this process's environment and folder.
bool startInOwnSession(const std::wstring& commandLine, ProcessHandles& started)
{
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info {};
    std::vector<wchar_t> line = writableCopy(commandLine);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, OwnProcessFlags, nullptr, nullptr, &startup,
                        &info)) {
        const DWORD error = GetLastError();
        Logger::instance().write("CreateProcess failed", error);
        return false;
    }
    started = ProcessHandles(info);
    Logger::instance().write("Launched", toNarrowString(commandLine));
    return true;
}

// Reverts the calling thread's impersonation on every way out.
class Impersonation {
public:
    explicit Impersonation(HANDLE token) noexcept : active_(ImpersonateLoggedOnUser(token) != FALSE) {}
    ~Impersonation()
    {
        if (active_)
            RevertToSelf();
    }
    Impersonation(const Impersonation&) = delete;
    Impersonation& operator=(const Impersonation&) = delete;
    bool active() const noexcept { return active_; }

private:
    bool active_;
};

} // namespace

UniqueHandle getUserToken()
{
    const DWORD session = WTSGetActiveConsoleSessionId();
    UniqueHandle queried;
    if (!WTSQueryUserToken(session, queried.put())) {
        const DWORD error = GetLastError();
        Logger::instance().write("WTSQueryUserToken failed for session id=", session, "with error", error);
        return UniqueHandle();
    }
    UniqueHandle primary;
    if (!DuplicateTokenEx(queried.get(), TOKEN_ALL_ACCESS_P, nullptr, SecurityDelegation, TokenPrimary,
                          primary.put())) {
        const DWORD error = GetLastError();
        Logger::instance().write("DuplicateTokenEx failed for token", reinterpret_cast<std::uintptr_t>(queried.get()),
                                 "with error", error);
        return UniqueHandle();
    }
    return primary;
}

bool createProcessAsUser(const std::wstring& commandLine, HANDLE token, LPVOID environment)
{
    if (startAsUser(commandLine, token, environment, false)) {
        Logger::instance().write("CreateProcessAsUser Launched", toNarrowString(commandLine));
        return true;
    }
    const DWORD error = GetLastError();
    Logger::instance().write("CreateProcessAsUser failed", error);
    if (error != ElevationRequired)
        return false;
    return createProcessThroughShell(commandLine, token, environment);
}

bool createProcessThroughShell(const std::wstring& commandLine, HANDLE token, LPVOID environment)
{
    // The shell asks for the elevation that a direct start cannot; its own console stays hidden.
    return startAsUser(ElevatingShell + commandLine, token, environment, true);
}

bool launchApp(const std::wstring& commandLine)
{
    Logger::instance().write("LaunchApp_", toNarrowString(commandLine));
    ProcessHandles started;
    return startInOwnSession(commandLine, started);
}

bool LaunchAppAsUser(const std::wstring& commandLine)
{
    Logger::instance().write("LaunchAppAsUser", toNarrowString(commandLine));
    const UniqueHandle token = getUserToken();
    if (!token)
        return false;

    Logger::instance().write("CreateEnvironmentBlock");
    EnvironmentBlock environment;
    if (!CreateEnvironmentBlock(environment.put(), token.get(), FALSE)) {
        const DWORD error = GetLastError();
        Logger::instance().write("CreateEnvironmentBlock failed", error);
        return false;
    }

    const Impersonation impersonation(token.get());
    if (!impersonation.active()) {
        const DWORD error = GetLastError();
        Logger::instance().write("ImpersonateLoggedOnUser failed", error);
        return false;
    }
    return createProcessAsUser(commandLine, token.get(), environment.get());
}

int launchAndWait(const std::wstring& commandLine, DWORD limitMs)
{
    ProcessHandles started;
    if (!startInOwnSession(commandLine, started))
        return -1;
    // The caller may be the one thread that serves the control server: a command that hangs must
    // not hang it with it.
    if (WaitForSingleObject(started.process.get(), limitMs) != WAIT_OBJECT_0) {
        TerminateProcess(started.process.get(), 1);
        WaitForSingleObject(started.process.get(), TerminateWaitMs);
        Logger::instance().write("launchAndWait: not ended within", limitMs, "ms, terminated:",
                                 toNarrowString(commandLine));
        return -1;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(started.process.get(), &exitCode);
    return static_cast<int>(exitCode);
}

void findProcessesByName(const std::wstring& name, std::vector<DWORD>& ids)
{
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot) {
        Logger::instance().write("CreateToolhelp32Snapshot (of processes) failure");
        return;
    }
    PROCESSENTRY32W entry {};
    entry.dwSize = sizeof entry;
    if (!Process32FirstW(snapshot.get(), &entry)) {
        Logger::instance().write("Process32First failure");
        return;
    }
    do {
        // Ordinal comparison ignoring case, as the file system compares names.
        if (CompareStringOrdinal(entry.szExeFile, -1, name.c_str(), -1, TRUE) == CSTR_EQUAL)
            ids.push_back(entry.th32ProcessID);
    } while (Process32NextW(snapshot.get(), &entry));
}

bool terminateProcessForce(HANDLE process)
{
    if (!DebugActiveProcess(GetProcessId(process)) || !DebugBreakProcess(process))
        return false;
    LOG_INFO << "terminateProcessForce" << "Terminating process by debugging it";
    return true;
}
