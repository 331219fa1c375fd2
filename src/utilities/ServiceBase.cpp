#include "ServiceBase.h"

#include "Logger.h"

#include <cwchar>
#include <exception>

CServiceBase* CServiceBase::instance = nullptr;
DWORD CServiceBase::checkPoint = 1;

CServiceBase::CServiceBase(const wchar_t* name)
    : serviceName(name)
    , status {}
    , statusHandle(nullptr)
{
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_START_PENDING;
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
}

CServiceBase::~CServiceBase() = default;

void CServiceBase::OnStart(DWORD, LPWSTR*) {}
void CServiceBase::OnStop() {}
void CServiceBase::OnPause() {}
void CServiceBase::OnContinue() {}
void CServiceBase::OnShutdown() {}

void WINAPI CServiceBase::serviceMain(DWORD argc, LPWSTR* argv)
{
    CServiceBase* service = instance;
    service->statusHandle = RegisterServiceCtrlHandlerW(service->serviceName, serviceCtrlHandler);
    if (service->statusHandle == nullptr) {
        // Without a status handle nothing can be reported to the control manager.
        LOG_ERROR << "RegisterServiceCtrlHandlerW failed w/err" << GetLastError();
        return;
    }
    try {
        service->setServiceStatus(SERVICE_START_PENDING);
        service->OnStart(argc, argv);
        service->setServiceStatus(SERVICE_RUNNING);
    } catch (DWORD error) {
        service->writeErrorLogEntry(L"Service Start", error);
        service->setServiceStatus(SERVICE_STOPPED, error);
    } catch (...) {
        service->writeEventLogEntry(L"Service failed to start.", EVENTLOG_ERROR_TYPE);
        service->setServiceStatus(SERVICE_STOPPED);
    }
}

void WINAPI CServiceBase::serviceCtrlHandler(DWORD control)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
        instance->stop();
        break;
    case SERVICE_CONTROL_PAUSE:
        instance->pause();
        break;
    case SERVICE_CONTROL_CONTINUE:
        instance->continueService();
        break;
    case SERVICE_CONTROL_SHUTDOWN:
        instance->shutdown();
        break;
    default:
        break;
    }
}

void CServiceBase::setServiceStatus(DWORD state, DWORD exitCode, DWORD)
{
    status.dwCurrentState = state;
    status.dwWin32ExitCode = exitCode;
    status.dwWaitHint = 0;
    status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : checkPoint++;
    SetServiceStatus(statusHandle, &status);
}

void CServiceBase::stop()
{
    const DWORD originalState = status.dwCurrentState;
    try {
        setServiceStatus(SERVICE_STOP_PENDING);
        OnStop();
        setServiceStatus(SERVICE_STOPPED);
    } catch (DWORD error) {
        writeErrorLogEntry(L"Service Stop", error);
        setServiceStatus(originalState);
    } catch (...) {
        writeEventLogEntry(L"Service failed to stop.", EVENTLOG_ERROR_TYPE);
        setServiceStatus(originalState);
    }
}

void CServiceBase::pause()
{
    try {
        setServiceStatus(SERVICE_PAUSE_PENDING);
        OnPause();
        setServiceStatus(SERVICE_PAUSED);
    } catch (DWORD error) {
        writeErrorLogEntry(L"Service Pause", error);
        setServiceStatus(SERVICE_RUNNING);
    } catch (...) {
        writeEventLogEntry(L"Service failed to pause.", EVENTLOG_ERROR_TYPE);
        setServiceStatus(SERVICE_RUNNING);
    }
}

void CServiceBase::continueService()
{
    try {
        setServiceStatus(SERVICE_CONTINUE_PENDING);
        OnContinue();
        setServiceStatus(SERVICE_RUNNING);
    } catch (DWORD error) {
        writeErrorLogEntry(L"Service Continue", error);
        setServiceStatus(SERVICE_PAUSED);
    } catch (...) {
        writeEventLogEntry(L"Service failed to resume.", EVENTLOG_ERROR_TYPE);
        setServiceStatus(SERVICE_PAUSED);
    }
}

void CServiceBase::shutdown()
{
    try {
        setServiceStatus(SERVICE_STOP_PENDING);
        OnShutdown();
        setServiceStatus(SERVICE_STOPPED);
    } catch (DWORD error) {
        writeErrorLogEntry(L"Service Shutdown", error);
    } catch (...) {
        writeEventLogEntry(L"Service failed to shut down.", EVENTLOG_ERROR_TYPE);
    }
}

void CServiceBase::writeEventLogEntry(const wchar_t* message, WORD type)
{
    HANDLE source = RegisterEventSourceW(nullptr, serviceName);
    if (source == nullptr)
        return;
    const wchar_t* strings[2] = { serviceName, message };
    ReportEventW(source, type, 0, 0, nullptr, 2, 0, strings, nullptr);
    DeregisterEventSource(source);
}

void CServiceBase::writeErrorLogEntry(const wchar_t* function, DWORD error)
{
    // Longer text is cut to fit the buffer.
    wchar_t message[260] = {};
    _snwprintf(message, 259, L"%ls failed w/err 0x%08lx", function, error);
    writeEventLogEntry(message, EVENTLOG_ERROR_TYPE);
}
