// The update downloader against files the mock API serves, and where it puts them.
#include "LogLines.h"
#include "MockApi.h"
#include "SettingsLogFixture.h"

#include "settings/GlobalPaths.h"
#include "update/UpdateDownloader.h"
#include "update/UpdateFilePath.h"

#include "StringHelpers.h"

#include <windows.h>

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

TEST_F(UpdateDownloaderTest, OnlyAWholeOkAnswerIsKeptInTheFile)
{
    struct {
        const char* name;
        int status;
        unsigned chunkBytes;
        const wchar_t* scheme;
        bool kept;
    } const cases[] = {
        { "whole", 200, 0, L"http", true },
        { "chunked", 200, 4096, L"http", true },
        { "secure", 200, 0, L"https", true },
        { "missing", 404, 0, L"http", false },
        { "failing", 500, 1000, L"http", false },
    };
    const std::string bytes = payload(50000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        mock.serveDownload(c.name, c.status, bytes, c.chunkBytes, 0);
        const std::wstring path = folder.file(toWideString(c.name) + L".exe");
        EXPECT_EQ(downloader.downloadFile(mock.downloadUrl(toWideString(c.name), c.scheme), path), c.kept);
        EXPECT_FALSE(downloader.downloading);
        EXPECT_EQ(fileExists(path), c.kept);
        if (c.kept)
            EXPECT_EQ(readWholeFile(path), bytes);
        else
            EXPECT_TRUE(contains(entries(), "UpdateDownloader::downloadFile: the server answered with HTTP status " +
                                                std::to_string(c.status)));
    }
    EXPECT_EQ(mock.requests().size(), std::size(cases));
}

TEST_F(UpdateDownloaderTest, MakesTheFilesOwnFolderOneLevelDeep)
{
    mock.serveDownload("setup", 200, "MZ");
    const std::wstring path = folder.path() + L"fresh\\setup.exe";
    EXPECT_TRUE(downloader.downloadFile(mock.downloadUrl(L"setup"), path));
    EXPECT_EQ(readWholeFile(path), "MZ");

    EXPECT_FALSE(downloader.downloadFile(mock.downloadUrl(L"setup"), folder.path() + L"no\\such\\setup.exe"));
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
    std::thread download([&] { result = downloader.downloadFile(mock.downloadUrl(L"slow"), path); });
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

TEST(UpdateFilePath, AFreshHexadecimalFolderOfTheTemporaryFolderNamesTheExe)
{
    const std::wregex shape(L"([0-9a-f]+)\\\\setup\\.exe\\.exe");
    const std::wstring path = makeUpdateFilePath(L"http://h/x/setup.exe");
    ASSERT_EQ(path.compare(0, TempPath.size(), TempPath), 0);
    std::wsmatch match;
    const std::wstring rest = path.substr(TempPath.size());
    ASSERT_TRUE(std::regex_match(rest, match, shape)) << toNarrowString(path);
    EXPECT_NE(match[1].str()[0], L'0');
}

class UniqueTempName : public SettingsLogFixture {};

TEST_F(UniqueTempName, ANameThatIsTakenIsNeverHandedOut)
{
    const std::wstring name = L"nimbal-unique-test.bin";
    // Seeded by the second: tried until both calls fall in one second, so the second meets the first.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::wstring first = uniqueTempFileName(name);
        const std::wstring folderPath = folderOf(first);
        ASSERT_TRUE(CreateDirectoryW(folderPath.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        writeWholeFile(first, "taken");
        const std::wstring second = uniqueTempFileName(name);
        const bool sameSecond = std::time(nullptr) == before;
        DeleteFileW(first.c_str());
        RemoveDirectoryW(folderPath.c_str());
        EXPECT_NE(second, first);
        if (sameSecond) {
            const auto lines = unstampedLines(logText());
            EXPECT_TRUE(contains(lines, toNarrowString(first) + " exists, trying to generate another"));
            return;
        }
    }
    ADD_FAILURE() << "no two calls within one second";
}
