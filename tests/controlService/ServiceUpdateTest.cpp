// The service object's update: which offers it refuses, offers or starts, how it starts the
// installer it downloaded from the mock API, and how a stop ends a download. In process, over the
// service's own settings folder, so it runs alone.
#include "ChildProcess.h"
#include "LogLines.h"
#include "MockApi.h"
#include "SettingsLogFixture.h"
#include "TempFolder.h"
#include "UpdateFolderFacts.h"

#include "ZazozeControlService.h"
#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"
#include "settings/SettingsKeys.h"

#include "StringHelpers.h"

#include <functional>
#include <regex>

namespace {

class ServiceUnderTest : public ZazozeControlService {
public:
    using ZazozeControlService::asyncUpdateRunning;
    using ZazozeControlService::OnStop;
    using ZazozeControlService::updDownloader;

    bool launchApp(const std::wstring& commandLine) override
    {
        if (launchFailure)
            launchFailure();
        return ZazozeControlService::launchApp(commandLine);
    }
    // Set: starting a program throws what this throws.
    std::function<void()> launchFailure;
};

const std::wstring GeneralDocument = AppdataPath + L"settings.params";
const std::string Stopped = "Stop  ZazozeControlService::updateAsynchronously";
const std::wstring OtherVersion = L"1.2.0.1";

using update_folder::TempPathSwap;

} // namespace

class ServiceUpdate : public SettingsLogFixture {
protected:
    void SetUp() override
    {
        SettingsLogFixture::SetUp();
        DeleteFileW(GeneralDocument.c_str());
        mock.reset();
        installer = readWholeFile(hostPath(NIMBAL_INSTALLER_PROBE_EXE));
        ASSERT_FALSE(installer.empty());
    }
    void TearDown() override
    {
        // No work item may outlive the service object.
        service.updDownloader.cancel_downloading = true;
        for (int i = 0; i < 3000 && (service.asyncUpdateRunning || service.updDownloader.downloading); ++i)
            Sleep(10);
        for (const std::wstring& path : downloaded)
            removeDownload(path);
        DeleteFileW(GeneralDocument.c_str());
        mock.reset();
        SettingsLogFixture::TearDown();
    }

    void offer(const std::wstring& version, const std::wstring& type, const std::wstring& url)
    {
        ConfigSection& settings = mainSettings();
        settings.setValue(SettingsKeys::OfferedVersion, version);
        settings.setValue(SettingsKeys::UpdateType, type);
        settings.setValue(SettingsKeys::UpdateUrl, url);
    }

    std::vector<std::string> entries() const { return unstampedLines(logText()); }
    size_t count(const std::string& line) const
    {
        const auto all = entries();
        return static_cast<size_t>(std::count(all.begin(), all.end(), line));
    }
    // Waits (bounded) until `line` has been logged `times` times.
    bool logGets(const std::string& line, size_t times = 1)
    {
        for (int i = 0; i < 3000; ++i) {
            if (count(line) >= times)
                return true;
            Sleep(10);
        }
        return false;
    }
    // Waits (bounded) until the update after `stopsBefore` "Stop" lines has ended: its work item
    // clears its flag just after its last line, and one queued before that would find it set.
    bool updateEnded(size_t stopsBefore)
    {
        if (!logGets(Stopped, stopsBefore + 1))
            return false;
        for (int i = 0; i < 3000 && service.asyncUpdateRunning; ++i)
            Sleep(10);
        return !service.asyncUpdateRunning;
    }
    // The path the downloads were written to, from their log lines.
    std::vector<std::wstring> downloadPaths()
    {
        downloaded = update_folder::downloadPathsIn(entries());
        return downloaded;
    }
    // Offers another version of the type over https and runs the update to its end; the path it
    // downloaded to, or "" when it downloaded nothing.
    std::wstring updateOnce(const wchar_t* type)
    {
        offer(OtherVersion, type, mock.downloadUrl(L"setup", L"https"));
        const size_t before = count(Stopped);
        EXPECT_TRUE(service.runUpdate());
        EXPECT_TRUE(updateEnded(before));
        const std::vector<std::wstring> paths = downloadPaths();
        return paths.empty() ? std::wstring() : paths.back();
    }
    // The command line the installer recorded, or "" when it did not run.
    static std::string recordedCommandLine(const std::wstring& path)
    {
        const std::wstring record = path + L".cmdline";
        for (int i = 0; i < 3000 && !fileExists(record); ++i)
            Sleep(10);
        return fileExists(record) ? readWholeFile(record) : std::string();
    }
    static void removeDownload(const std::wstring& path)
    {
        DeleteFileW((path + L".cmdline").c_str());
        // The installer may still be on its way out.
        for (int i = 0; i < 200 && fileExists(path) && !DeleteFileW(path.c_str()); ++i)
            Sleep(10);
        RemoveDirectoryW(folderOf(path).c_str());
    }

    // What the downloads left in the temporary folder.
    static std::vector<std::wstring> leftInTemp() { return namesIn(TempPath); }

    MockApi mock;
    std::string installer;
    std::vector<std::wstring> downloaded;
    // The downloads go to a temporary folder of the test's own.
    TempFolder temp;
    const TempPathSwap tempSwap { temp.path() };
    ServiceUnderTest service;
};

TEST_F(ServiceUpdate, TheOfferDecidesWhatIsRefusedOfferedOrStarted)
{
    const std::wstring url = mock.downloadUrl(L"setup", L"https");
    struct {
        const char* name;
        std::wstring version;
        const wchar_t* type;
        std::wstring offered;   // getUpdateUrlIfAvailable
        bool runs;              // runUpdate
    } const cases[] = {
        { "silent, other version", OtherVersion, L"silent", L"", true },
        { "manual, other version", OtherVersion, L"manual", url, false },
        { "no type, other version", OtherVersion, L"", url, true },
        { "manual, same version", L"1.1.0.33", L"manual", L"", false },
        { "no type, same version", L"1.1.0.33", L"", L"", true },
        { "silent, same version", L"1.1.0.33", L"silent", L"", true },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        offer(c.version, c.type, url);
        EXPECT_EQ(service.getUpdateUrlIfAvailable(), c.offered);
        // Without a served file the update ends as a failed download, and starts nothing.
        const size_t before = count(Stopped);
        EXPECT_EQ(service.runUpdate(), c.runs);
        if (c.runs) {
            EXPECT_TRUE(updateEnded(before));
        }
    }
    EXPECT_EQ(count("Start  ZazozeControlService::runUpdate manual"), 2u);
    EXPECT_EQ(count("Update did not downloaded ok"), 4u);
    EXPECT_EQ(count("Update launched ok"), 0u);
    EXPECT_EQ(mock.requestsTo("/download/setup").size(), 4u);
    // Each failed download took its folder with it.
    EXPECT_TRUE(leftInTemp().empty()) << toNarrowString(leftInTemp().front());
}

TEST_F(ServiceUpdate, TheInstallerIsStartedQuotedWithTheSwitchesOfItsType)
{
    mock.serveDownload("setup", 200, installer);
    struct { const char* name; const wchar_t* type; bool fromCheckin; const char* switches; } const cases[] = {
        { "silent offer after a check-in", L"silent", true, " /S /update" },
        { "client asks, no type", L"", false, " /update" },
        { "client asks, unknown type", L"beta", false, " /update" },
    };
    const std::wregex freshFolder(L"[0-9a-f]+\\\\setup\\.exe");
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        offer(OtherVersion, c.type, mock.downloadUrl(L"setup", L"https"));
        if (c.fromCheckin)
            service.onSettingsUpdated();
        else
            EXPECT_TRUE(service.runUpdate());
        ASSERT_TRUE(updateEnded(i));
        const std::vector<std::wstring> paths = downloadPaths();
        ASSERT_EQ(paths.size(), i + 1);
        const std::wstring& path = paths.back();
        ASSERT_EQ(path.compare(0, TempPath.size(), TempPath), 0);
        EXPECT_TRUE(std::regex_match(path.substr(TempPath.size()), freshFolder)) << toNarrowString(path);
        EXPECT_EQ(readWholeFile(path), installer);
        EXPECT_EQ(recordedCommandLine(path), "\"" + toNarrowString(path) + "\"" + c.switches);
        EXPECT_EQ(count("Update launched ok"), i + 1);
    }
}

TEST_F(ServiceUpdate, AnOfferOverPlainHttpIsNeitherDownloadedNorStarted)
{
    mock.serveDownload("setup", 200, installer);
    const std::wstring url = mock.downloadUrl(L"setup", L"http");
    for (const wchar_t* type : { L"silent", L"" }) {
        SCOPED_TRACE(toNarrowString(type));
        offer(OtherVersion, type, url);
        const size_t before = count(Stopped);
        EXPECT_TRUE(service.runUpdate());
        ASSERT_TRUE(updateEnded(before));
    }
    EXPECT_EQ(count("Downloading file: refused, the URL is not https: " + toNarrowString(url)), 2u);
    EXPECT_EQ(count("Update did not downloaded ok"), 2u);
    EXPECT_TRUE(mock.requestsTo("/download/setup").empty());
    EXPECT_TRUE(downloadPaths().empty());
    EXPECT_EQ(count("Update launched ok"), 0u);
    EXPECT_EQ(count("Update did not launched ok"), 0u);
    EXPECT_TRUE(leftInTemp().empty()) << toNarrowString(leftInTemp().front());
}

TEST_F(ServiceUpdate, TheInstallerCanBeChangedOnlyBySystemAndAdministrators)
{
    mock.serveDownload("setup", 200, installer);
    // In the user's session the installer is opened to Everyone, to read and run only.
    for (const wchar_t* type : { L"silent", L"" }) {
        SCOPED_TRACE(toNarrowString(type));
        const std::wstring installerPath = updateOnce(type);
        ASSERT_FALSE(installerPath.empty());
        ASSERT_FALSE(recordedCommandLine(installerPath).empty());
        for (const std::wstring& path : { folderOf(installerPath), installerPath }) {
            const update_folder::Access access = update_folder::accessOf(path);
            ASSERT_TRUE(access.read) << toNarrowString(path);
            EXPECT_TRUE(update_folder::onlyAdministratorsChange(access)) << toNarrowString(path);
            EXPECT_FALSE(update_folder::changes(access.everyone))
                << toNarrowString(path) << " " << std::hex << access.everyone;
        }
    }
}

TEST_F(ServiceUpdate, ABlankInTheTemporaryFolderDoesNotStartAnotherProgram)
{
    // Unquoted, "<folder>\Nimbal Temp\..." would start "<folder>\Nimbal.exe" first.
    TempFolder parent;
    const std::wstring decoy = parent.file(L"Nimbal.exe");
    writeWholeFile(decoy, installer);
    const std::wstring blanked = parent.file(L"Nimbal Temp\\");
    ASSERT_TRUE(CreateDirectoryW(blanked.c_str(), nullptr));
    const TempPathSwap swap(blanked);
    mock.serveDownload("setup", 200, installer);
    for (const wchar_t* type : { L"silent", L"" }) {
        SCOPED_TRACE(toNarrowString(type));
        const std::wstring installerPath = updateOnce(type);
        ASSERT_FALSE(installerPath.empty());
        EXPECT_FALSE(recordedCommandLine(installerPath).empty());
        EXPECT_FALSE(fileExists(decoy + L".cmdline"));
    }
    // Emptied while the folder still exists; the folder itself goes with `parent`.
    for (const std::wstring& path : downloaded)
        removeDownload(path);
    downloaded.clear();
}

TEST_F(ServiceUpdate, AnErrorAnswerStartsNothingAndLeavesNoFile)
{
    mock.serveDownload("setup", 404, installer);
    offer(OtherVersion, L"silent", mock.downloadUrl(L"setup", L"https"));
    EXPECT_TRUE(service.runUpdate());
    ASSERT_TRUE(logGets(Stopped));
    const std::vector<std::wstring> paths = downloadPaths();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_FALSE(fileExists(paths[0]));
    EXPECT_FALSE(fileExists(paths[0] + L".cmdline"));
    EXPECT_TRUE(linesInOrder(entries(), { "UpdateDownloader::downloadFile: the server answered with HTTP status 404",
                                          "Download ended", "Update did not downloaded ok" }));
    EXPECT_EQ(count("Update launched ok"), 0u);
    EXPECT_TRUE(leftInTemp().empty()) << toNarrowString(leftInTemp().front());
}

TEST_F(ServiceUpdate, AStopDuringASlowDownloadCancelsItAndEndsWithinItsLimit)
{
    // 400 chunks of 100 ms: the download would outlast the stop's limit many times over.
    mock.serveDownload("setup", 200, installer, (static_cast<unsigned>(installer.size()) + 399) / 400, 100);
    offer(OtherVersion, L"silent", mock.downloadUrl(L"setup", L"https"));
    EXPECT_TRUE(service.runUpdate());
    for (int i = 0; i < 3000 && !service.updDownloader.downloading; ++i)
        Sleep(10);
    ASSERT_TRUE(service.updDownloader.downloading);

    // A second request while the first runs goes no further than its work item.
    EXPECT_TRUE(service.runUpdate());
    EXPECT_TRUE(logGets("Asynchronous update already running"));
    EXPECT_EQ(count("Start  ZazozeControlService::updateAsynchronously"), 1u);

    service.OnStop();
    EXPECT_FALSE(service.updDownloader.downloading);
    EXPECT_FALSE(service.asyncUpdateRunning);
    const auto lines = entries();
    EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("ZazozeControlService::OnStop::waitThreadsOnStop Waiting too long", 0) == 0;
    }));
    const std::vector<std::wstring> paths = downloadPaths();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_FALSE(fileExists(paths[0]));
    EXPECT_TRUE(linesInOrder(entries(), { "Nimbal Privacy terminating", "cancel_downloading==true", "Download ended",
                                          "Update did not downloaded ok", "Nimbal Privacy terminated" }));
    EXPECT_TRUE(leftInTemp().empty()) << toNarrowString(leftInTemp().front());
    EXPECT_EQ(mock.requestsTo("/download/setup").size(), 1u);

    // Stopping: a request is accepted and queues nothing.
    EXPECT_TRUE(service.runUpdate());
    Sleep(200);
    EXPECT_EQ(count("Start  ZazozeControlService::updateAsynchronously"), 1u);
}

// A failure that is no standard exception (here while the installer is started) ends the update
// like any other: the next update runs instead of finding one "already running".
TEST_F(ServiceUpdate, AnUpdateEndedByAnUnusualExceptionDoesNotBlockTheNext)
{
    mock.serveDownload("setup", 200, installer);
    offer(OtherVersion, L"silent", mock.downloadUrl(L"setup", L"https"));
    service.launchFailure = [] { throw 42; };
    EXPECT_TRUE(service.runUpdate());
    const std::string escaped = "runAsyncProc work item ended by an unknown exception";
    for (int i = 0; i < 3000 && logText().find(escaped) == std::string::npos; ++i)
        Sleep(10);
    ASSERT_NE(logText().find(escaped), std::string::npos);
    for (int i = 0; i < 3000 && service.asyncUpdateRunning; ++i)
        Sleep(10);
    EXPECT_FALSE(service.asyncUpdateRunning);

    service.launchFailure = nullptr;
    EXPECT_TRUE(service.runUpdate());
    EXPECT_TRUE(logGets(Stopped));
    EXPECT_EQ(count("Asynchronous update already running"), 0u);
    EXPECT_EQ(count("Update launched ok"), 1u);
    EXPECT_EQ(downloadPaths().size(), 2u);
}
