// The process-wide folders and endpoint addresses, as static initialisation left them.
#include "settings/GlobalPaths.h"

#include "TempFolder.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <map>
#include <optional>
#include <string>

TEST(GlobalPaths, TempPathIsTheSystemsTemporaryFolder)
{
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, temp);
    EXPECT_EQ(TempPath, temp);
    EXPECT_EQ(TempPath.back(), L'\\');
}

TEST(GlobalPaths, AppdataPathIsTheProductFolderInCommonAppData)
{
    wchar_t common[MAX_PATH + 1] = {};
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common), S_OK);
    EXPECT_EQ(AppdataPath, std::wstring(common) + L"\\Nimbal Privacy\\");
    const DWORD attributes = GetFileAttributesW(AppdataPath.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << "the folder is created at start";
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

// What the explicit entries of the path's DACL allow, by trustee SID; none when it cannot be read.
std::map<std::wstring, ACCESS_MASK> allowedBySid(const std::wstring& path)
{
    std::map<std::wstring, ACCESS_MASK> allowed;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor)
        != ERROR_SUCCESS)
        return allowed;
    ULONG count = 0;
    PEXPLICIT_ACCESS_W entries = nullptr;
    if (dacl != nullptr && GetExplicitEntriesFromAclW(dacl, &count, &entries) == ERROR_SUCCESS) {
        for (ULONG i = 0; i < count; ++i) {
            LPWSTR sid = nullptr;
            if (entries[i].Trustee.TrusteeForm != TRUSTEE_IS_SID
                || (entries[i].grfAccessMode != GRANT_ACCESS && entries[i].grfAccessMode != SET_ACCESS)
                || !ConvertSidToStringSidW(reinterpret_cast<PSID>(entries[i].Trustee.ptstrName), &sid))
                continue;
            allowed[sid] |= entries[i].grfAccessPermissions;
            LocalFree(sid);
        }
        LocalFree(entries);
    }
    LocalFree(descriptor);
    return allowed;
}

const std::wstring Everyone = L"S-1-1-0";
const std::wstring Users = L"S-1-5-32-545";

// Opens the folder to Everyone, as a folder made with the entries of the common application-data
// folder is open to every user.
void openToEveryone(const std::wstring& folder)
{
    EXPLICIT_ACCESSW entry {};
    entry.grfAccessPermissions = FILE_ALL_ACCESS;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    ASSERT_TRUE(CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size));
    BuildTrusteeWithSidW(&entry.Trustee, everyone);
    PACL acl = nullptr;
    ASSERT_EQ(SetEntriesInAclW(1, &entry, nullptr, &acl), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(SetNamedSecurityInfoW(const_cast<wchar_t*>(folder.c_str()), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                    nullptr, nullptr, acl, nullptr),
              static_cast<DWORD>(ERROR_SUCCESS));
    LocalFree(acl);
}

// Write, append, delete or take over: whatever lets a user change what is in a folder.
bool changes(ACCESS_MASK mask)
{
    return (mask
            & (GENERIC_ALL | GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_WRITE_ATTRIBUTES
               | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER))
        != 0;
}

// What Everyone and Users are let do; none when the DACL cannot be read.
std::optional<ACCESS_MASK> everyUsersRights(const std::wstring& folder)
{
    const auto allowed = allowedBySid(folder);
    if (allowed.empty())
        return std::nullopt;
    ACCESS_MASK rights = 0;
    for (const std::wstring& sid : { Everyone, Users }) {
        const auto entry = allowed.find(sid);
        if (entry != allowed.end())
            rights |= entry->second;
    }
    return rights;
}

} // namespace

TEST(GlobalPaths, NoUserButSystemAndAdministratorsMayChangeAppdataPath)
{
    const auto rights = everyUsersRights(AppdataPath);
    ASSERT_TRUE(rights) << "the folder's DACL cannot be read";
    EXPECT_FALSE(changes(*rights)) << std::hex << *rights;
}

TEST(GlobalPaths, AServiceFolderMadeAnewLetsInOnlySystemAndAdministrators)
{
    const TempFolder temp;
    const std::wstring folder = temp.file(L"service");

    makeServiceFolder(folder);

    EXPECT_NE(GetFileAttributesW(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
    const auto rights = everyUsersRights(folder);
    ASSERT_TRUE(rights) << "the folder's DACL cannot be read";
    EXPECT_EQ(*rights, 0u);
}

// Wine keeps no DACL of its own but shows the folder's Unix mode, and changing the DACL of a folder
// that exists leaves the others' read bits: there only the right to change can be seen to go.
TEST(GlobalPaths, AServiceFolderMadeBeforeWithOpenEntriesIsClosed)
{
    const TempFolder temp;
    const std::wstring folder = temp.file(L"service");
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    openToEveryone(folder);
    ASSERT_TRUE(changes(everyUsersRights(folder).value_or(0))) << "the folder could not be opened to Everyone";

    makeServiceFolder(folder);

    const auto rights = everyUsersRights(folder);
    ASSERT_TRUE(rights) << "the folder's DACL cannot be read";
    EXPECT_FALSE(changes(*rights)) << std::hex << *rights;
}

TEST(GlobalPaths, ModuleAndInstallPathsNameThisProgram)
{
    wchar_t module[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    EXPECT_EQ(ModulePath, module);
    EXPECT_EQ(InstallPath + L"global_paths_test.exe", ModulePath);
}

struct FolderCase {
    std::wstring path;
    std::wstring folder;
};

class FolderOf : public ::testing::TestWithParam<FolderCase> {};

TEST_P(FolderOf, KeepsEverythingUpToTheLastBackslash)
{
    EXPECT_EQ(folderOf(GetParam().path), GetParam().folder);
}

INSTANTIATE_TEST_SUITE_P(GlobalPaths, FolderOf,
                         ::testing::Values(FolderCase { L"C:\\Program Files\\Nimbal\\NimbalService.exe",
                                                        L"C:\\Program Files\\Nimbal\\" },
                                           FolderCase { L"NimbalService.exe", L"" }, FolderCase { L"", L"" },
                                           FolderCase { L"C:\\", L"C:\\" },
                                           FolderCase { L"\\\\?\\C:\\a\\b", L"\\\\?\\C:\\a\\" }));

TEST(GlobalPaths, EndpointsShareTheBuildsApiHost)
{
    const std::wstring host = L"" EXPECTED_API_HOST;
    EXPECT_EQ(std::wstring(ApiHost), host);
    const std::wstring https = L"https://" + host;
    EXPECT_EQ(CheckinUrl, https + L"/v3/client/checkin");
    EXPECT_EQ(ServersListUrl, https + L"/v3/servers/list");
    EXPECT_EQ(ServerConnectUrl, https + L"/v3/server/connect");
    EXPECT_EQ(ProductsListUrl, https + L"/v3/products/list");
    EXPECT_EQ(RegisterUrl, https + L"/v3/accounts/register");
    EXPECT_EQ(LoginUrl, https + L"/v3/accounts/login");
    EXPECT_EQ(OrdersUrl, https + L"/v3/accounts/orders");
    EXPECT_EQ(ResetUrl, https + L"/v3/accounts/reset");
    EXPECT_EQ(LimitsUrl, https + L"/v3/accounts/limits");
    EXPECT_EQ(SupportUrl, https + L"/v3/support");
    EXPECT_EQ(AutologinedUrl, https + L"/v3/accounts/autologined");
    EXPECT_EQ(LogUploadUrl, L"http://" + host + L"/user/log/");
}
