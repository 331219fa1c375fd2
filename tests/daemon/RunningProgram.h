#pragma once
// A Windows program started the way the service starts its daemon: no window, no inherited
// handles. It is terminated when its owner goes, so a failing test leaves nothing running.

#include "Handles.h"

#include <windows.h>

#include <string>

class RunningProgram {
public:
    explicit RunningProgram(const std::wstring& commandLine);
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    bool started() const { return process_.valid(); }
    bool running() const;
    // True when the program ended within `timeoutMs`.
    bool waitForExit(DWORD timeoutMs) const;
    DWORD exitCode() const;
    void terminate();
    // Milliseconds since the program was started.
    ULONGLONG age() const { return GetTickCount64() - startTick_; }

private:
    UniqueHandle process_;
    ULONGLONG startTick_ = 0;
};
