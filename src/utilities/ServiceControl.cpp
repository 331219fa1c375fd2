#include "ServiceControl.h"

#include "Handles.h"
#include "Logger.h"
#include "ServiceIdentity.h"

#include <aclapi.h>

#include <cstdio>
#include <vector>

namespace {

// Polls the service once a second while it stays in `pendingState`, printing a dot per poll;
// returns the last state read.
DWORD waitWhilePending(SC_HANDLE service, DWORD pendingState)
{
    SERVICE_STATUS status {};
    status.dwCurrentState = pendingState;
    for (;;) {
        Sleep(1000);
        if (!QueryServiceStatus(service, &status))
            break;
        if (status.dwCurrentState != pendingState)
            break;
        wprintf(L".");
    }
    return status.dwCurrentState;
}

// Stops the service and waits for it, as the stop and remove actions share it.
void stopOpenedService(SC_HANDLE service)
{
    SERVICE_STATUS status {};
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        wprintf(L"\n%ls is already stopped.\n", ServiceName);
        return;
    }
    wprintf(L"Stopping %ls.", ServiceName);
    const DWORD state = waitWhilePending(service, SERVICE_STOP_PENDING);
    if (state == SERVICE_STOPPED)
        wprintf(L"\n%ls is stopped.\n", ServiceName);
    else
        wprintf(L"\n%ls failed to stop.\n", ServiceName);
}

} // namespace

std::optional<std::wstring> modulePath(HMODULE module, DWORD capacity)
{
    std::vector<wchar_t> buffer(capacity);
    const DWORD length = GetModuleFileNameW(module, buffer.data(), capacity);
    // A path that fills the buffer was cut to fit (and is not terminated before Vista).
    if (length == 0 || length >= capacity) {
        if (length != 0)
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return std::nullopt;
    }
    return std::wstring(buffer.data(), length);
}

void installService()
{
    const std::optional<std::wstring> program = modulePath(nullptr, MAX_PATH);
    if (!program) {
        const DWORD error = GetLastError();
        if (error == ERROR_INSUFFICIENT_BUFFER)
            wprintf(L"The program's path is longer than %d characters: the service cannot be installed from there.\n",
                    MAX_PATH - 1);
        else
            wprintf(L"GetModuleFileNameW failed w/err 0x%08lx\n", error);
        return;
    }
    // Quoted: unquoted, a blank in the path (C:\Program Files\...) lets the control manager start
    // C:\Program.exe in its place.
    const std::wstring imagePath = L"\"" + *program + L"\"";
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        wprintf(L"OpenSCManager failed w/err 0x%08lx\n", GetLastError());
        return;
    }
    ScHandle service(CreateServiceW(manager.get(), ServiceName, ServiceDisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    imagePath.c_str(), nullptr, nullptr, L"\0", nullptr, nullptr));
    if (!service) {
        wprintf(L"CreateService failed w/err 0x%08lx\n", GetLastError());
        return;
    }
    SERVICE_DESCRIPTIONW description { const_cast<wchar_t*>(ServiceDescription) };
    if (!ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description))
        wprintf(L"Failed setting service description 0x%08lx\n", GetLastError());
    wprintf(L"%ls is installed.\n", ServiceName);
}

void stopService()
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        wprintf(L"OpenSCManager failed w/err 0x%08lx\n", GetLastError());
        return;
    }
    ScHandle service(OpenServiceW(manager.get(), ServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        wprintf(L"OpenService failed w/err 0x%08lx\n", GetLastError());
        return;
    }
    stopOpenedService(service.get());
}

void uninstallService()
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        wprintf(L"OpenSCManager failed w/err 0x%08lx\n", GetLastError());
        return;
    }
    ScHandle service(OpenServiceW(manager.get(), ServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        wprintf(L"OpenService failed w/err 0x%08lx\n", GetLastError());
        return;
    }
    stopOpenedService(service.get());
    if (DeleteService(service.get()))
        wprintf(L"%ls is removed.\n", ServiceName);
    else
        wprintf(L"DeleteService failed w/err 0x%08lx\n", GetLastError());
}

void startService()
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        const DWORD error = GetLastError();
        wprintf(L"OpenSCManager failed w/err 0x%08lx\n", error);
        LOG_ERROR << "OpenSCManager failed w/err " << error;
        return;
    }
    ScHandle service(OpenServiceW(manager.get(), ServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
    if (!service) {
        const DWORD error = GetLastError();
        wprintf(L"OpenService failed w/err 0x%08lx\n", error);
        LOG_ERROR << "OpenService failed w/err " << error;
        return;
    }
    if (!StartServiceW(service.get(), 0, nullptr)) {
        wprintf(L"\nFailed to start %ls, error:%d.\n", ServiceName, static_cast<int>(GetLastError()));
        return;
    }
    wprintf(L"Starting %ls.", ServiceName);
    const DWORD state = waitWhilePending(service.get(), SERVICE_START_PENDING);
    if (state == SERVICE_RUNNING)
        wprintf(L"\n%ls is started.\n", ServiceName);
    else
        wprintf(L"\n%ls failed to start.\n", ServiceName);
}

void changeStartType(DWORD startType)
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        wprintf(L"OpenSCManager failed w/err 0x%08lx\n", GetLastError());
        return;
    }
    ScHandle service(OpenServiceW(manager.get(), ServiceName, SERVICE_CHANGE_CONFIG));
    if (!service) {
        wprintf(L"OpenService failed w/err 0x%08lx\n", GetLastError());
        return;
    }
    if (ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr, nullptr))
        wprintf(L"Start type changed.\n");
    else
        wprintf(L"Cannot change start type.\n");
}

std::wstring everyoneAccountName()
{
    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &sid)) {
        wprintf(L"AllocateAndInitializeSid failed (%d)\n", static_cast<int>(GetLastError()));
        return std::wstring();
    }
    std::vector<wchar_t> name(900), domain(900);
    DWORD nameLength = 900, domainLength = 900;
    SID_NAME_USE use;
    const BOOL found = LookupAccountSidW(nullptr, sid, name.data(), &nameLength, domain.data(), &domainLength, &use);
    const DWORD error = GetLastError();
    FreeSid(sid);
    if (!found) {
        wprintf(L"LookupAccountSid failed (%d)\n", static_cast<int>(error));
        return std::wstring();
    }
    return std::wstring(name.data());
}

void updateServiceDacl()
{
    ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        wprintf(L"OpenSCManager failed (%d)\n", static_cast<int>(GetLastError()));
        return;
    }
    ScHandle service(OpenServiceW(manager.get(), ServiceName, READ_CONTROL | WRITE_DAC));
    if (!service) {
        wprintf(L"OpenService failed (%d)\n", static_cast<int>(GetLastError()));
        return;
    }

    DWORD needed = 0;
    SECURITY_DESCRIPTOR probe;
    if (!QueryServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, &probe, 0, &needed)) {
        const DWORD error = GetLastError();
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            wprintf(L"QueryServiceObjectSecurity failed (%d)\n", static_cast<int>(error));
            return;
        }
    }
    struct HeapBuffer {
        void* data;
        ~HeapBuffer() { if (data) HeapFree(GetProcessHeap(), 0, data); }
    } descriptor { HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed) };
    if (descriptor.data == nullptr) {
        wprintf(L"HeapAlloc failed\n");
        return;
    }
    if (!QueryServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, descriptor.data, needed, &needed)) {
        wprintf(L"QueryServiceObjectSecurity failed (%d)\n", static_cast<int>(GetLastError()));
        return;
    }

    BOOL present = FALSE, defaulted = FALSE;
    PACL oldDacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor.data, &present, &oldDacl, &defaulted)) {
        wprintf(L"GetSecurityDescriptorDacl failed(%d)\n", static_cast<int>(GetLastError()));
        return;
    }

    std::wstring everyone = everyoneAccountName();
    EXPLICIT_ACCESSW access {};
    BuildExplicitAccessWithNameW(&access, &everyone[0], SERVICE_START, SET_ACCESS, NO_INHERITANCE);
    PACL newDacl = nullptr;
    const DWORD merged = SetEntriesInAclW(1, &access, oldDacl, &newDacl);
    LocalMemory newDaclOwner(newDacl);
    if (merged != ERROR_SUCCESS) {
        wprintf(L"Try to set entries for '%ls'", everyone.c_str());
        wprintf(L"SetEntriesInAcl failed(%d)\n", static_cast<int>(merged));
        return;
    }

    SECURITY_DESCRIPTOR newDescriptor;
    if (!InitializeSecurityDescriptor(&newDescriptor, SECURITY_DESCRIPTOR_REVISION)) {
        wprintf(L"InitializeSecurityDescriptor failed(%d)\n", static_cast<int>(GetLastError()));
        return;
    }
    if (!SetSecurityDescriptorDacl(&newDescriptor, TRUE, newDacl, FALSE)) {
        wprintf(L"SetSecurityDescriptorDacl failed(%d)\n", static_cast<int>(GetLastError()));
        return;
    }
    if (SetServiceObjectSecurity(service.get(), DACL_SECURITY_INFORMATION, &newDescriptor))
        wprintf(L"Service DACL updated successfully\n");
    else
        wprintf(L"SetServiceObjectSecurity failed(%d)\n", static_cast<int>(GetLastError()));
}
