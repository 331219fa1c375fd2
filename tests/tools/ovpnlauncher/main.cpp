// The launcher: stands where the service expects its VPN daemon (OpenVPN\openvelorn.exe) and
// runs Debian's openvpn in its place, with the Windows paths of its command line turned into
// Linux paths. It lives exactly as long as that openvpn, ends with openvpn's exit status, and
// openvpn ends when the launcher is ended, TerminateProcess included.
//
// Wine runs a Linux program from CreateProcessW but gives a handle that cannot be waited on, so
// the launcher runs openvpn through a bash script (ovpnlauncher.sh, built in) and the two keep a
// loopback connection open between them (ScriptLink.h).

#include "CommandLine.h"
#include "LauncherScript.h"
#include "OpenVpnArguments.h"
#include "ScriptLink.h"
#include "StringHelpers.h"
#include "Winsock.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace {

const wchar_t LinuxShell[] = L"Z:\\bin\\bash";
const DWORD ScriptConnectTimeoutMs = 30000;

void startLinuxProgram(std::wstring commandLine)
{
    if (GetFileAttributesW(LinuxShell) == INVALID_FILE_ATTRIBUTES)
        throw std::runtime_error("no Linux shell at Z:\\bin\\bash (is this Wine, with Z: as the Linux root?)");
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                        nullptr, nullptr, &startup, &process))
        throw std::runtime_error("starting the Linux shell failed (error " + std::to_string(GetLastError()) + ")");
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

int runOpenVpn(const std::vector<std::wstring>& daemonArguments)
{
    WinsockSession sockets;
    if (!sockets.started())
        throw std::runtime_error("WSAStartup failed");
    std::vector<std::wstring> command = openVpnArguments(daemonArguments);
    ScriptLink link;
    const std::vector<std::wstring> shell = { LinuxShell, L"-c", toWideString(LauncherScript), L"ovpnlauncher",
                                              std::to_wstring(link.port()) };
    command.insert(command.begin(), shell.begin(), shell.end());
    startLinuxProgram(joinArguments(command));
    link.accept(ScriptConnectTimeoutMs);
    const auto status = link.exitStatus();
    if (!status)
        throw std::runtime_error("the openvpn script ended without reporting openvpn's exit");
    return *status;
}

// To standard error, and to the daemon log where openvpn would have written its own complaint.
void reportFailure(const std::vector<std::wstring>& daemonArguments, const std::string& message)
{
    std::fprintf(stderr, "ovpnlauncher: %s\n", message.c_str());
    std::wstring log = optionValue(daemonArguments, L"--log-append");
    if (log.empty())
        return;
    const std::wstring folder = optionValue(daemonArguments, L"--cd");
    if (!folder.empty() && log.find(L':') == std::wstring::npos)
        log = folder + L"\\" + log;
    std::ofstream(log.c_str(), std::ios::app) << "ovpnlauncher: " << message << "\n";
}

} // namespace

int wmain()
{
    const std::vector<std::wstring> arguments = processArguments();
    const std::vector<std::wstring> daemonArguments(arguments.begin() + (arguments.empty() ? 0 : 1), arguments.end());
    try {
        return runOpenVpn(daemonArguments);
    } catch (const std::exception& e) {
        reportFailure(daemonArguments, e.what());
        return 1;
    }
}
