// The installed service's update, offered by the check-in at its start: where it puts the
// installer it downloads from the mock API, and who could change it there before it runs as
// LocalSystem.
#include "InstalledServiceFixture.h"
#include "UpdateFolderFacts.h"

#include "settings/GlobalPaths.h"

#include "ChildProcess.h"
#include "StringHelpers.h"
#include "TempFolder.h"

#include <regex>
#include <set>

namespace {

const std::string DownloadPath = "/download/setup";

// Anyone may write to a folder planted like this: what a local user could have prepared.
bool plantOpenFolder(const std::wstring& folder)
{
    if (!CreateDirectoryW(folder.c_str(), nullptr))
        return false;
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    if (!CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size))
        return false;
    EXPLICIT_ACCESSW entry {};
    entry.grfAccessPermissions = GENERIC_ALL;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = static_cast<LPWSTR>(static_cast<PSID>(everyone));
    PACL acl = nullptr;
    if (SetEntriesInAclW(1, &entry, nullptr, &acl) != ERROR_SUCCESS)
        return false;
    const DWORD set = SetNamedSecurityInfoW(const_cast<LPWSTR>(folder.c_str()), SE_FILE_OBJECT,
                                            DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr);
    LocalFree(acl);
    return set == ERROR_SUCCESS;
}

// The folders of the temporary folder.
std::set<std::wstring> foldersInTemp()
{
    std::set<std::wstring> folders;
    for (const std::wstring& name : namesIn(TempPath)) {
        const DWORD attributes = GetFileAttributesW((TempPath + name).c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            folders.insert(TempPath + name + L"\\");
    }
    return folders;
}

} // namespace

// A check-in reply that offers a silent update of another version, with the stand-in installer
// served for it.
class OfferedUpdate : public InstalledService {
protected:
    virtual const wchar_t* scheme() const { return L"https"; }

    void scriptMock() override
    {
        url = mock.downloadUrl(L"setup", scheme());
        mock.serveDownload("setup", 200, readWholeFile(hostPath(NIMBAL_INSTALLER_PROBE_EXE)));
        mock.setReply(CheckinPath, 200,
                      R"({"status":true,"version":"1.2.0.1","updateType":"silent","updateUrl":")" + toNarrowString(url)
                          + R"(","updateRequestInterval":86400})");
        // Every folder name the clock would foretell for the next minute, planted open to all.
        const std::time_t now = std::time(nullptr);
        for (std::time_t second = now - 5; second <= now + 60; ++second) {
            const std::wstring folder = TempPath + update_folder::timeSeededFolderName(second);
            if (plantOpenFolder(folder))
                planted.push_back(folder);
        }
        before = foldersInTemp();
    }
    void TearDown() override
    {
        InstalledService::TearDown();
        for (const std::wstring& path : downloads()) {
            for (int i = 0; i < 200 && fileExists(path) && !DeleteFileW(path.c_str()); ++i)
                Sleep(10);
            removeTree(folderOf(path));
        }
        for (const std::wstring& folder : planted)
            removeTree(folder + L"\\");
    }

    // The paths the service downloaded to, from its log.
    static std::vector<std::wstring> downloads() { return update_folder::downloadPathsIn(logLines()); }

    std::wstring url;
    std::vector<std::wstring> planted;
    std::set<std::wstring> before;  // the temporary folder's folders before the service started
};

TEST_F(OfferedUpdate, TheInstallerGoesToANewFolderThatOnlySystemAndAdministratorsCanChange)
{
    ASSERT_FALSE(planted.empty());
    ASSERT_TRUE(logGets("Update launched ok"));
    const std::vector<std::wstring> paths = downloads();
    ASSERT_EQ(paths.size(), 1u);
    const std::wstring& path = paths[0];
    // Under Wine the service's temporary folder is this program's, where the folders were planted.
    ASSERT_EQ(path.compare(0, TempPath.size(), TempPath), 0) << toNarrowString(path);
    EXPECT_TRUE(std::regex_match(path.substr(TempPath.size()), std::wregex(L"[0-9a-f]+\\\\setup\\.exe")))
        << toNarrowString(path);
    const std::wstring folder = folderOf(path);
    for (const std::wstring& open : planted)
        EXPECT_NE(folder, open + L"\\") << "the installer went to a folder planted under a foretold name";
    std::set<std::wstring> made = foldersInTemp();
    for (const std::wstring& old : before)
        made.erase(old);
    EXPECT_EQ(made, std::set<std::wstring> { folder });

    const update_folder::Access access = update_folder::accessOf(folder);
    ASSERT_TRUE(access.read);
    EXPECT_TRUE(update_folder::onlyAdministratorsChange(access));
    EXPECT_FALSE(update_folder::changes(access.everyone)) << std::hex << access.everyone;

    for (int i = 0; i < 3000 && !fileExists(path + L".cmdline"); ++i)
        Sleep(10);
    EXPECT_EQ(readWholeFile(path + L".cmdline"), "\"" + toNarrowString(path) + "\" /S /update");
    EXPECT_EQ(mock.requestsTo(DownloadPath).size(), 1u);
}

// The same offer over plain HTTP, where anyone on the way could answer in the server's place.
class OfferedUpdateOverHttp : public OfferedUpdate {
protected:
    const wchar_t* scheme() const override { return L"http"; }
};

TEST_F(OfferedUpdateOverHttp, IsNeitherDownloadedNorStarted)
{
    ASSERT_TRUE(logGets("Update did not downloaded ok"));
    EXPECT_EQ(count("Downloading file: refused, the URL is not https: " + toNarrowString(url)), 1u);
    EXPECT_TRUE(downloads().empty());
    EXPECT_TRUE(mock.requestsTo(DownloadPath).empty());
    EXPECT_EQ(count("Update launched ok"), 0u);
    EXPECT_EQ(count("Update did not launched ok"), 0u);
    // Nor is a folder left behind for it.
    EXPECT_EQ(foldersInTemp(), before);
}
