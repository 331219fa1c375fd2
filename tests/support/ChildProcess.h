#pragma once
// Runs a program as a child process and collects what it prints.

#include <windows.h>

#include <string>

struct ChildResult {
    DWORD exitCode = 0;
    std::string output;   // standard output and standard error, as written
    std::string errorOutput;   // standard error, where it is kept apart
    bool timedOut = false;
    bool started = false;
};

// Runs `commandLine` to its end (or until `timeoutMs`), feeding `input` to its standard input; with
// `token`, as the user and with the rights that token gives.
ChildResult runChild(const std::wstring& commandLine, const std::string& input = std::string(),
                     DWORD timeoutMs = 120000, HANDLE token = nullptr);

// As runChild, but in `workingFolder` and with standard error kept apart from standard output.
ChildResult runChildApart(const std::wstring& commandLine, const std::wstring& workingFolder,
                          const std::string& input = std::string(), DWORD timeoutMs = 120000);

// A Linux path (as the build knows it) as the Windows path Wine gives it on drive Z:.
std::wstring hostPath(const std::string& unixPath);

// Quotes one argument for a command line.
std::wstring quoted(const std::wstring& argument);
