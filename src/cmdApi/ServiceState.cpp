#include "ServiceState.h"

#include "Handles.h"
#include "Logger.h"
#include "ServiceControl.h"
#include "ServiceIdentity.h"

#include <cstdio>

namespace {

// startService returns once the service has left start-pending; this is for its pipe to appear.
constexpr DWORD StartSettleMs = 1000;

} // namespace

bool serviceInstalled()
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        const DWORD error = GetLastError();
        wprintf(L"OpenSCManager failed w/err 0x%08lx\n", error);
        LOG_ERROR << "OpenSCManager failed w/err " << error;
        return true;
    }
    ScHandle service(OpenServiceW(manager.get(), ServiceName, SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD error = GetLastError();
        wprintf(L"OpenService failed w/err 0x%08lx\n", error);
        LOG_ERROR << "OpenService failed w/err " << error;
        return false;
    }
    return true;
}

bool checkServiceState(DWORD mask)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        wprintf(L"OpenSCManager failed w/err 0x%08lx\n", GetLastError());
        return false;
    }
    ScHandle service(OpenServiceW(manager.get(), ServiceName, SERVICE_QUERY_STATUS));
    if (!service) {
        wprintf(L"OpenService failed w/err 0x%08lx\n", GetLastError());
        return false;
    }
    SERVICE_STATUS status {};
    return QueryServiceStatus(service.get(), &status) && (status.dwCurrentState & ~mask) == 0;
}

bool startAndCheckService()
{
    // startService says on the console how it went; the manager is asked afresh all the same.
    startService();
    Sleep(StartSettleMs);
    return checkServiceState(StartingOrRunningMask);
}
