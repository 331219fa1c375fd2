#pragma once
// Starting programs (in the service's session or the console user's), running a command to its
// end, and finding and forcibly ending processes. Nothing here throws; results are plain values.

#include "Handles.h"

#include <string>
#include <vector>

// A primary token of the user at the console, or an empty owner (the reason is logged).
UniqueHandle getUserToken();

// Starts the command line with the token and environment block on the user's desktop. A program
// that needs elevation is started once more through createProcessThroughShell.
bool createProcessAsUser(const std::wstring& commandLine, HANDLE token, LPVOID environment);

// Starts the command line as createProcessAsUser does, but through the shell, which asks for the
// elevation that a direct start cannot have: "cmd.exe /C start \"\" " and the command line, with
// cmd.exe's console hidden. True when cmd.exe was started; what start then did is not known here.
bool createProcessThroughShell(const std::wstring& commandLine, HANDLE token, LPVOID environment);

// Starts the command line in a new console of this session, without waiting for it.
bool launchApp(const std::wstring& commandLine);

// Starts the command line in the session of the user at the console, with that user's environment.
bool LaunchAppAsUser(const std::wstring& commandLine);

// How long launchAndWait waits unless told: far longer than the routing-table dump of the log
// upload takes, which is what it runs.
constexpr DWORD LaunchAndWaitLimitMs = 60000;

// Starts the command line as launchApp does and waits for it, at most `limitMs`: its exit code, or
// -1 when it could not be started or had not ended by then (it is then terminated).
int launchAndWait(const std::wstring& commandLine, DWORD limitMs = LaunchAndWaitLimitMs);

// Appends the id of every process whose executable name (no folder) equals `name`, ignoring case.
void findProcessesByName(const std::wstring& name, std::vector<DWORD>& ids);

// Last resort for a process that does not end: the calling thread attaches to it as its debugger
// and breaks into it, never answering. The process stays frozen and is ended by the system when
// the calling thread ends. False when either step fails.
bool terminateProcessForce(HANDLE process);
