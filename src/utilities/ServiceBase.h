#pragma once
// Base class of the service object: ties it to the service control manager.

#include <windows.h>

class CServiceBase {
public:
    explicit CServiceBase(const wchar_t* serviceName);
    virtual ~CServiceBase();

    static void WINAPI serviceMain(DWORD argc, LPWSTR* argv);
    static void WINAPI serviceCtrlHandler(DWORD control);

    void stop();
    void pause();
    void continueService();
    void shutdown();

    void setServiceStatus(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0);
    void writeEventLogEntry(const wchar_t* message, WORD type);
    void writeErrorLogEntry(const wchar_t* function, DWORD error);

    // The one service object of the process; set by the program entry before the dispatcher starts.
    static CServiceBase* instance;
    // Check point of every pending report; shared with the service's own stop wait.
    static DWORD checkPoint;

    const wchar_t* serviceName;
    SERVICE_STATUS status;
    SERVICE_STATUS_HANDLE statusHandle;

protected:
    // Overrides report failures by throwing a Windows error code (DWORD) or any other exception.
    virtual void OnStart(DWORD argc, LPWSTR* argv);
    virtual void OnStop();
    virtual void OnPause();
    virtual void OnContinue();
    virtual void OnShutdown();
};
