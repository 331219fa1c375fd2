#include "LinuxProcesses.h"

#include "CommandLine.h"
#include "StringHelpers.h"
#include "TempFolder.h"
#include "WinePaths.h"

#include <cwctype>

namespace {

std::wstring procEntry(unsigned pid)
{
    return L"Z:\\proc\\" + std::to_wstring(pid);
}

unsigned parseNumber(const std::string& text)
{
    unsigned pid = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            break;
        pid = pid * 10 + static_cast<unsigned>(c - '0');
    }
    return pid;
}

template <typename Condition>
bool waitFor(DWORD timeoutMs, Condition condition)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!condition()) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(100);
    }
    return true;
}

} // namespace

bool linuxProcessExists(unsigned pid)
{
    return pid != 0 && GetFileAttributesW(procEntry(pid).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string linuxCommandLine(unsigned pid)
{
    return readWholeFile(procEntry(pid) + L"\\cmdline");
}

// Whether any process's command line holds `text`.
static bool anyProcessWith(const std::string& text)
{
    bool found = false;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    do {
        if (std::iswdigit(entry.cFileName[0]))
            found = linuxCommandLine(parseNumber(toNarrowString(entry.cFileName))).find(text) != std::string::npos;
    } while (!found && FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

bool waitUntilNoneWith(const std::string& text, DWORD timeoutMs)
{
    return waitFor(timeoutMs, [&] { return !anyProcessWith(text); });
}

bool startLinuxProgram(const std::vector<std::wstring>& arguments)
{
    std::wstring line = joinArguments(arguments);
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                        nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int runLinuxShell(const std::string& command, DWORD timeoutMs)
{
    // The status file appears whole (written aside, then renamed) once the command has ended.
    TempFolder folder;
    const auto linuxFolder = linuxPathOf(folder.path());
    if (!linuxFolder)
        return -1;
    const std::string status = shellQuoted(toNarrowString(*linuxFolder) + "/status");
    const std::string script = "{ " + command + "; } </dev/null; echo $? >" + status + ".new && mv " + status + ".new "
        + status;
    if (!startLinuxProgram({ L"Z:\\bin\\sh", L"-c", toWideString(script) }))
        return -1;
    const std::wstring statusFile = folder.file(L"status");
    if (!waitFor(timeoutMs, [&] { return fileExists(statusFile); }))
        return -1;
    return static_cast<int>(parseNumber(readWholeFile(statusFile)));
}

unsigned waitForPidFile(const std::wstring& path, DWORD timeoutMs)
{
    unsigned pid = 0;
    waitFor(timeoutMs, [&] { return (pid = parseNumber(readWholeFile(path))) != 0; });
    return pid;
}

bool waitUntilGone(unsigned pid, DWORD timeoutMs)
{
    return pid != 0 && waitFor(timeoutMs, [&] { return !linuxProcessExists(pid); });
}

OpenVpnGuard::~OpenVpnGuard()
{
    const unsigned pid = parseNumber(readWholeFile(pidFile_));
    const std::string commandLine = linuxCommandLine(pid);
    const std::string program = commandLine.substr(0, commandLine.find('\0'));
    if (linuxProcessExists(pid) && program.find("openvpn") != std::string::npos)
        runLinuxShell("kill -KILL " + std::to_string(pid), 10000);
}
