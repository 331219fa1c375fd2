// The process-wide folders and endpoint addresses, as static initialisation left them.
#include "settings/GlobalPaths.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

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
