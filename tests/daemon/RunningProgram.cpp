#include "RunningProgram.h"

RunningProgram::RunningProgram(const std::wstring& commandLine)
{
    std::wstring line = commandLine;
    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    startTick_ = GetTickCount64();
    if (CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT,
                       nullptr, nullptr, &startup, &process)) {
        CloseHandle(process.hThread);
        process_.reset(process.hProcess);
    }
}

RunningProgram::~RunningProgram()
{
    if (running())
        terminate();
}

bool RunningProgram::running() const
{
    return started() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT;
}

bool RunningProgram::waitForExit(DWORD timeoutMs) const
{
    return started() && WaitForSingleObject(process_.get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD RunningProgram::exitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (started())
        GetExitCodeProcess(process_.get(), &code);
    return code;
}

void RunningProgram::terminate()
{
    if (!started())
        return;
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 10000);
}
