#pragma once
// The service installed from the reliability tests' own copy of NimbalService.exe (the launcher
// beside it as its daemon), and what these tests do to it from outside: find and kill its Linux
// process, start and stop it through the control manager, talk to it over its pipe.

#include "InstalledServiceFixture.h"
#include "PipeTestClient.h"

#include "CommandsClient.h"
#include "LinuxProcesses.h"
#include "StringHelpers.h"

#include <cctype>
#include <chrono>
#include <cwctype>
#include <functional>
#include <string>

namespace reliability {

// The bounds of every wait in these tests: generous, since Wine under load can be slow.
constexpr DWORD Patience = 60000;

inline std::wstring serviceProgram()
{
    return hostPath(NIMBAL_RELIABILITY_SERVICE_EXE);
}

inline std::string lowered(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The Linux process running `program` (its Windows path, as Wine shows it as the first argument in
// /proc); 0 when none does. Copies of the service in other folders, and other prefixes' services,
// have other paths.
inline unsigned linuxPidOf(const std::wstring& program)
{
    const std::string wanted = lowered(toNarrowString(program));
    unsigned found = 0;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (!std::iswdigit(entry.cFileName[0]))
            continue;
        const unsigned pid = static_cast<unsigned>(std::wcstoul(entry.cFileName, nullptr, 10));
        const std::string commandLine = linuxCommandLine(pid);
        const std::string first = lowered(commandLine.substr(0, commandLine.find('\0')));
        // Wine pads the first argument with blanks.
        if (first.compare(0, wanted.size(), wanted) == 0
            && first.find_first_not_of(' ', wanted.size()) == std::string::npos)
            found = pid;
    } while (found == 0 && FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

inline bool waitUntil(const std::function<bool()>& condition, DWORD timeoutMs = Patience, DWORD stepMs = 50)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(stepMs);
    }
}

} // namespace reliability

class ReliabilityService : public InstalledService {
protected:
    ReliabilityService() : InstalledService(reliability::serviceProgram()) {}

    unsigned servicePid() const { return reliability::linuxPidOf(program); }

    // SIGKILL to the service's Linux process: no stop routine, no destructor, nothing flushed.
    // True once that process is gone.
    bool killServiceHard()
    {
        const unsigned pid = servicePid();
        if (pid == 0)
            return false;
        if (runLinuxShell("kill -KILL " + std::to_string(pid), reliability::Patience) != 0)
            return false;
        return waitUntilGone(pid, reliability::Patience);
    }

    std::string startService() { return runServiceProgramAt(program, L"-start"); }
    std::string stopService() { return runServiceProgramAt(program, L"-stop"); }

    // The service's pipe once it takes clients again.
    static bool pipeAnswers()
    {
        PipeConnection client(CommandsPipeName, reliability::Patience);
        return client.connected() && client.ask(request(CMD_GET_VPN_STATE)).has_value();
    }
};
