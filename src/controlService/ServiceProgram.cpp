#include "ServiceProgram.h"

#include "ServiceControl.h"

#include <windows.h>

#include <cwchar>

namespace {

// Runs the action named by a switch word; false when the word names none.
bool runSwitch(const wchar_t* word)
{
    if (_wcsicmp(word, L"install") == 0) {
        installService();
        updateServiceDacl();
        startService();
    } else if (_wcsicmp(word, L"remove") == 0) {
        uninstallService();
    } else if (_wcsicmp(word, L"start") == 0) {
        startService();
    } else if (_wcsicmp(word, L"stop") == 0) {
        stopService();
    } else if (_wcsicmp(word, L"manual") == 0) {
        changeStartType(SERVICE_DEMAND_START);
    } else if (_wcsicmp(word, L"disable") == 0) {
        changeStartType(SERVICE_DISABLED);
    } else if (_wcsicmp(word, L"auto") == 0) {
        changeStartType(SERVICE_AUTO_START);
    } else {
        return false;
    }
    return true;
}

} // namespace

void printUsage()
{
    wprintf(L"Parameters:\n");
    wprintf(L" -install  to install the service.\n");
    wprintf(L" -remove   to remove the service.\n");
    wprintf(L" -start    to start the service.\n");
    wprintf(L" -stop     to stop the service.\n");
    wprintf(L" -manual   to set the service to start manually.\n");
    wprintf(L" -disable  to disable service.\n");
    wprintf(L" -auto     to set the service to start auto.\n");
}

bool runConsoleSwitch(int argc, wchar_t* argv[])
{
    if (argc <= 1 || (argv[1][0] != L'-' && argv[1][0] != L'/'))
        return false;
    if (!runSwitch(argv[1] + 1))
        printUsage();
    return true;
}

void runServiceDispatcher(CServiceBase& service)
{
    CServiceBase::instance = &service;
    SERVICE_TABLE_ENTRYW table[] = {
        { const_cast<wchar_t*>(service.serviceName), CServiceBase::serviceMain },
        { nullptr, nullptr },
    };
    if (!StartServiceCtrlDispatcherW(table))
        wprintf(L"Service failed to run w/err 0x%08lx\n", GetLastError());
}
