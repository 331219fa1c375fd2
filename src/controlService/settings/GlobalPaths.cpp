#include "GlobalPaths.h"

#include "Handles.h"

#include <windows.h>
#include <aclapi.h>
#include <shlobj.h>
#include <shlwapi.h>

#ifndef NIMBAL_API_HOST
#error "NIMBAL_API_HOST must name the vendor API host"
#endif

const wchar_t* const ApiHost = L"" NIMBAL_API_HOST;

std::wstring TempPath;
std::wstring AppdataPath;
std::wstring ModulePath;
std::wstring InstallPath;

std::wstring CheckinUrl;
std::wstring ServersListUrl;
std::wstring ServerConnectUrl;
std::wstring ProductsListUrl;
std::wstring RegisterUrl;
std::wstring LoginUrl;
std::wstring OrdersUrl;
std::wstring ResetUrl;
std::wstring LimitsUrl;
std::wstring SupportUrl;
std::wstring AutologinedUrl;
std::wstring LogUploadUrl;

namespace {

const wchar_t ProductFolder[] = L"Nimbal Privacy";

std::wstring https(const wchar_t* endpoint)
{
    return std::wstring(L"https://") + ApiHost + endpoint;
}

// Full access for SYSTEM and Administrators, inherited by everything below; none for anybody else.
LocalMemory administratorsOnlyAcl()
{
    BYTE system[SECURITY_MAX_SID_SIZE];
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    DWORD administratorsSize = sizeof administrators;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize)
        || !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorsSize))
        return LocalMemory();
    EXPLICIT_ACCESSW entries[2] {};
    PSID trustees[2] = { system, administrators };
    for (int i = 0; i < 2; ++i) {
        entries[i].grfAccessPermissions = FILE_ALL_ACCESS;
        entries[i].grfAccessMode = SET_ACCESS;
        entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        entries[i].Trustee.ptstrName = static_cast<LPWSTR>(trustees[i]);
    }
    PACL acl = nullptr;
    if (SetEntriesInAclW(2, entries, nullptr, &acl) != ERROR_SUCCESS)
        return LocalMemory();
    return LocalMemory(acl);
}

} // namespace

void makeServiceFolder(const std::wstring& folder)
{
    const LocalMemory acl = administratorsOnlyAcl();
    const auto dacl = static_cast<PACL>(acl.get());
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes { sizeof attributes, &descriptor, FALSE };
    // Protected: the entries of the folder above do not flow in.
    const bool secured = dacl && InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
        && SetSecurityDescriptorDacl(&descriptor, TRUE, dacl, FALSE)
        && SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    if (!PathFileExistsW(folder.c_str())) {
        if (secured && CreateDirectoryW(folder.c_str(), &attributes))
            return;
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    // Made before, perhaps with the entries of the folder above. A program that may not change them
    // (one not run as SYSTEM or by an administrator) leaves them as they are.
    if (dacl)
        SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT,
                              DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl,
                              nullptr);
}

std::wstring folderOf(const std::wstring& path)
{
    const size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash + 1);
}

void initGlobalPaths()
{
    wchar_t buffer[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, buffer);
    TempPath = buffer;

    wchar_t common[MAX_PATH + 1] = {};
    SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common);
    AppdataPath = std::wstring(common) + L"\\" + ProductFolder;
    makeServiceFolder(AppdataPath);
    AppdataPath += L"\\";

    wchar_t module[MAX_PATH + 1] = {};
    if (GetModuleFileNameW(nullptr, module, MAX_PATH) != 0)
        ModulePath = module;
    InstallPath = folderOf(ModulePath);

    CheckinUrl = https(L"/v3/client/checkin");
    ServersListUrl = https(L"/v3/servers/list");
    ServerConnectUrl = https(L"/v3/server/connect");
    ProductsListUrl = https(L"/v3/products/list");
    RegisterUrl = https(L"/v3/accounts/register");
    LoginUrl = https(L"/v3/accounts/login");
    OrdersUrl = https(L"/v3/accounts/orders");
    ResetUrl = https(L"/v3/accounts/reset");
    LimitsUrl = https(L"/v3/accounts/limits");
    SupportUrl = https(L"/v3/support");
    AutologinedUrl = https(L"/v3/accounts/autologined");
    LogUploadUrl = std::wstring(L"http://") + ApiHost + L"/user/log/";
}

namespace {

// After the strings above, so they exist when it runs.
const bool globalPathsReady = (initGlobalPaths(), true);

} // namespace
