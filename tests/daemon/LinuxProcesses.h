#pragma once
// Linux processes as a test under Wine reaches them: started through CreateProcessW, seen
// through Z:\proc. Wine's handles of such processes cannot be waited on.

#include <windows.h>

#include <string>
#include <vector>

bool linuxProcessExists(unsigned pid);

// The process's arguments, each followed by a NUL byte, as /proc gives them; empty when it is gone.
std::string linuxCommandLine(unsigned pid);

// Waits up to `timeoutMs` until no process's command line holds `text`; true when none does.
bool waitUntilNoneWith(const std::string& text, DWORD timeoutMs);

// Starts a Linux program (arguments[0] is its Windows path, such as Z:\usr\sbin\openvpn).
bool startLinuxProgram(const std::vector<std::wstring>& arguments);

// Runs `command` with /bin/sh -c and waits up to `timeoutMs` for it; its exit status, or -1 when
// it could not be started or did not end in time.
int runLinuxShell(const std::string& command, DWORD timeoutMs);

// `text` as one word for /bin/sh.
std::string shellQuoted(const std::string& text);

// The pid in the file openvpn writes for --writepid, once it is there (waits up to `timeoutMs`); 0
// when it does not come.
unsigned waitForPidFile(const std::wstring& path, DWORD timeoutMs);

// Waits up to `timeoutMs` for process `pid` to be gone; true when it is (never for pid 0).
bool waitUntilGone(unsigned pid, DWORD timeoutMs);

// Kills, by SIGKILL, the openvpn whose pid is in the file `pidFile`, if it still runs, when the
// guard goes: what a failing test leaves is cleaned up.
class OpenVpnGuard {
public:
    explicit OpenVpnGuard(std::wstring pidFile) : pidFile_(std::move(pidFile)) {}
    ~OpenVpnGuard();
    OpenVpnGuard(const OpenVpnGuard&) = delete;
    OpenVpnGuard& operator=(const OpenVpnGuard&) = delete;

private:
    std::wstring pidFile_;
};
