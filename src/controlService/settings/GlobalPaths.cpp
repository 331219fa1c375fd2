#include "GlobalPaths.h"

#include <windows.h>
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

} // namespace

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
    if (!PathFileExistsW(AppdataPath.c_str()))
        CreateDirectoryW(AppdataPath.c_str(), nullptr);
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
