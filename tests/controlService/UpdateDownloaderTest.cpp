// The update downloader against files the mock API serves, and where it puts them.
#include "LogLines.h"
#include "MockApi.h"
#include "SettingsLogFixture.h"

#include "settings/GlobalPaths.h"
#include "update/UpdateDownloader.h"
#include "update/UpdateFilePath.h"

#include "UpdateFolderFacts.h"

#include "StringHelpers.h"

#include <windows.h>

#include <algorithm>
#include <ctime>
#include <regex>
#include <thread>

namespace {

std::string payload(size_t size)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 256) & 0xff);
    return bytes;
}

bool contains(const std::vector<std::string>& lines, const std::string& line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

} // namespace

class UpdateDownloaderTest : public SettingsLogFixture {
protected:
    void SetUp() override
    {
        SettingsLogFixture::SetUp();
        mock.reset();
    }
    void TearDown() override
    {
        mock.reset();
        SettingsLogFixture::TearDown();
    }
    std::vector<std::string> entries() const { return unstampedLines(logText()); }

    MockApi mock;
    UpdateDownloader downloader;
};

TEST_F(UpdateDownloaderTest, OnlyAWholeOkAnswerOverHttpsIsKeptInTheFile)
{
    struct {
        const char* name;
        int status;
        unsigned chunkBytes;
        const wchar_t* scheme;
        bool kept;
    } const cases[] = {
        { "whole", 200, 0, L"https", true },
        { "chunked", 200, 4096, L"https", true },
        { "missing", 404, 0, L"https", false },
        { "failing", 500, 1000, L"https", false },
        // Anyone on the way can answer a plain-HTTP request: nothing is asked for.
        { "plain", 200, 0, L"http", false },
        { "plainChunked", 200, 4096, L"http", false },
    };
    const std::string bytes = payload(50000);
    size_t asked = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mock.serveDownload(c.name, c.status, bytes, c.chunkBytes, 0);
        const std::wstring path = folder.file(toWideString(c.name) + L".exe");
        const std::wstring url = mock.downloadUrl(toWideString(c.name), c.scheme);
        EXPECT_EQ(downloader.downloadFile(url, path), c.kept);
        EXPECT_FALSE(downloader.downloading);
        EXPECT_EQ(fileExists(path), c.kept);
        if (c.kept) {
            EXPECT_EQ(readWholeFile(path), bytes);
        }
        const bool plain = std::wstring(c.scheme) == L"http";
        if (plain) {
            EXPECT_TRUE(contains(entries(), "Downloading file: refused, the URL is not https: " + toNarrowString(url)));
        } else if (!c.kept) {
            EXPECT_TRUE(contains(entries(), "UpdateDownloader::downloadFile: the server answered with HTTP status " +
                                                std::to_string(c.status)));
        }
        asked += plain ? 0 : 1;
        EXPECT_EQ(mock.requests().size(), asked);
    }
    for (const MockRequest& request : mock.requests())
        EXPECT_EQ(request.scheme, "https");
}

TEST_F(UpdateDownloaderTest, MakesTheFilesOwnFolderOneLevelDeep)
{
    mock.serveDownload("setup", 200, "MZ");
    const std::wstring path = folder.path() + L"fresh\\setup.exe";
    EXPECT_TRUE(downloader.downloadFile(mock.downloadUrl(L"setup", L"https"), path));
    EXPECT_EQ(readWholeFile(path), "MZ");

    EXPECT_FALSE(downloader.downloadFile(mock.downloadUrl(L"setup", L"https"), folder.path() + L"no\\such\\setup.exe"));
    EXPECT_TRUE(contains(entries(), "Cannot create output file directory " + toNarrowString(folder.path()) +
                                        "no\\such\\setup.exe"));
}

TEST_F(UpdateDownloaderTest, RefusesWhatItCannotFetchAndClearsItsFlag)
{
    struct { const wchar_t* url; const char* line; } const cases[] = {
        { L"", "Downloading file: empty URL" },
        { L"not a url", "Error in WinHttpCrackUrl" },
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(downloader.downloadFile(c.url, folder.file(L"x.exe")));
        EXPECT_FALSE(downloader.downloading);
        const auto lines = entries();
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                                [&](const std::string& l) { return l.rfind(c.line, 0) == 0; }))
            << c.line;
    }
    EXPECT_FALSE(fileExists(folder.file(L"x.exe")));
    EXPECT_TRUE(mock.requests().empty());
}

TEST_F(UpdateDownloaderTest, ACancelEndsASlowDownloadAtItsNextChunkAndDeletesTheFile)
{
    // 200 chunks of 100 ms: far longer than any test waits.
    mock.serveDownload("slow", 200, payload(200 * 512), 512, 100);
    const std::wstring path = folder.file(L"slow.exe");
    bool result = true;
    std::thread download([&] { result = downloader.downloadFile(mock.downloadUrl(L"slow", L"https"), path); });
    for (int i = 0; i < 3000 && (!fileExists(path) || readWholeFile(path).empty()); ++i)
        Sleep(10);
    EXPECT_TRUE(downloader.downloading);
    downloader.cancel_downloading = true;
    download.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(downloader.downloading);
    EXPECT_FALSE(fileExists(path));
    EXPECT_TRUE(linesInOrder(entries(), { "cancel_downloading==true", "Download ended" }));
}

TEST(UpdateFilePath, TheFileNameIsTheUrlsLastSegmentAsItStands)
{
    struct { const wchar_t* url; const wchar_t* name; } const cases[] = {
        { L"https://cdn.example.com/a/b/setup.exe", L"setup.exe" },
        { L"http://h/get?file=x%20y", L"get?file=x%20y" },
        { L"http://h/dir/", L"" },
        { L"no-slash", L"no-slash" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(fileNameFromUrl(c.url), c.name);
}

// Downloads go to a temporary folder of the test's own.
class UniqueTempName : public SettingsLogFixture {
protected:
    std::vector<std::string> entries() const { return unstampedLines(logText()); }

    const update_folder::TempPathSwap swap { folder.path() };
};

TEST_F(UniqueTempName, AFreshHexadecimalFolderOfTheTemporaryFolderNamesTheExe)
{
    const std::wregex shape(L"([0-9a-f]+)\\\\setup\\.exe\\.exe");
    const std::wstring path = makeUpdateFilePath(L"https://h/x/setup.exe");
    ASSERT_EQ(path.compare(0, TempPath.size(), TempPath), 0);
    std::wsmatch match;
    const std::wstring rest = path.substr(TempPath.size());
    ASSERT_TRUE(std::regex_match(rest, match, shape)) << toNarrowString(path);
    EXPECT_NE(match[1].str()[0], L'0');
    // The folder is there, and nothing in it yet.
    const DWORD attributes = GetFileAttributesW(folderOf(path).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_FALSE(fileExists(path));
}

TEST_F(UniqueTempName, ATakenNameIsNeverUsedAndAnotherIsDrawn)
{
    // Planted beforehand under names a generator might draw: a folder and a file.
    ASSERT_TRUE(CreateDirectoryW((TempPath + L"a1").c_str(), nullptr));
    writeWholeFile(TempPath + L"b2", "planted");
    const struct {
        const char* what;
        std::vector<std::uint32_t> values;  // drawn in this order; then the source has none
        const wchar_t* folder;              // "" when no name is handed out
        size_t taken;                       // "exists" lines
        const char* failure;                // the line that ends a failed search
    } cases[] = {
        { "a free name", { 0xc3 }, L"c3", 0, nullptr },
        { "a planted folder, then a free name", { 0xa1, 0xd4 }, L"d4", 1, nullptr },
        { "a planted file and folder, then a free name", { 0xb2, 0xa1, 0xe5 }, L"e5", 2, nullptr },
        { "the name made by the previous case", { 0xe5, 0xf6 }, L"f6", 1, nullptr },
        { "every name taken", std::vector<std::uint32_t>(16, 0xa1), L"", 16,
          "uniqueTempFileName: every name drawn is taken in " },
        { "no random value", {}, L"", 0, "uniqueTempFileName: no random value for the folder's name" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const size_t linesBefore = entries().size();
        size_t next = 0;
        const RandomSource scripted = [&](std::uint32_t& value) {
            if (next == c.values.size())
                return false;
            value = c.values[next++];
            return true;
        };
        const std::wstring path = uniqueTempFileName(L"setup.exe", scripted);
        EXPECT_EQ(path, *c.folder ? TempPath + c.folder + L"\\setup.exe" : std::wstring());
        const std::vector<std::string> all = entries();
        const std::vector<std::string> logged(all.begin() + static_cast<std::ptrdiff_t>(linesBefore), all.end());
        EXPECT_EQ(static_cast<size_t>(std::count_if(logged.begin(), logged.end(), [](const std::string& line) {
                      return line.find(" exists, trying to generate another") != std::string::npos;
                  })),
                  c.taken);
        if (c.failure) {
            ASSERT_FALSE(logged.empty());
            EXPECT_EQ(logged.back().rfind(c.failure, 0), 0u) << logged.back();
        }
    }
    EXPECT_EQ(readWholeFile(TempPath + L"b2"), "planted");
}

TEST_F(UniqueTempName, NamesMadeWithinOneSecondDifferAndNoneIsTheOneTheClockForetells)
{
    const std::time_t before = std::time(nullptr);
    std::vector<std::wstring> folders;
    for (int i = 0; i < 8; ++i)
        folders.push_back(folderOf(uniqueTempFileName(L"setup.exe")));
    const std::time_t after = std::time(nullptr);
    std::sort(folders.begin(), folders.end());
    EXPECT_EQ(std::unique(folders.begin(), folders.end()), folders.end());
    for (std::time_t second = before - 1; second <= after + 1; ++second) {
        const std::wstring foretold = TempPath + update_folder::timeSeededFolderName(second) + L"\\";
        EXPECT_EQ(std::find(folders.begin(), folders.end(), foretold), folders.end()) << toNarrowString(foretold);
    }
}

TEST_F(UniqueTempName, OnlySystemAndAdministratorsMayChangeWhatIsInTheFolder)
{
    const std::wstring path = uniqueTempFileName(L"setup.exe");
    ASSERT_FALSE(path.empty());
    const update_folder::Access folder = update_folder::accessOf(folderOf(path));
    ASSERT_TRUE(folder.read);
    EXPECT_TRUE(update_folder::onlyAdministratorsChange(folder)) << toNarrowString(folder.owner);
    EXPECT_EQ(std::find(folder.writers.begin(), folder.writers.end(), L"S-1-1-0"), folder.writers.end());
    EXPECT_FALSE(update_folder::changes(folder.everyone)) << std::hex << folder.everyone;
    EXPECT_NE(std::find(folder.writers.begin(), folder.writers.end(), L"S-1-5-18"), folder.writers.end());
}
