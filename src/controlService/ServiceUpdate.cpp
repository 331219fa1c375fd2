// The update offered by the last check-in: refused, offered to a client, or downloaded and started.
#include "ZazozeControlService.h"

#include "ProductVersion.h"
#include "RunningFlag.h"
#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"
#include "settings/SettingsKeys.h"
#include "update/UpdateFilePath.h"

#include "ComPtr.h"
#include "FileHelpers.h"
#include "Logger.h"
#include "ProcessHelpers.h"
#include "StringHelpers.h"

#include <exception>

namespace {

const wchar_t* const SilentUpdate = L"silent";
const wchar_t* const ManualUpdate = L"manual";
const wchar_t* const SilentSwitches = L" /S /update";
const wchar_t* const UserSwitches = L" /update";

// The installer's path quoted, so that a blank in the temporary folder cannot split it.
std::wstring installerCommandLine(const std::wstring& path, const wchar_t* switches)
{
    return L"\"" + path + L"\"" + switches;
}

} // namespace

bool ZazozeControlService::runUpdate()
{
    const std::wstring type = mainSettings().getValue<std::wstring>(SettingsKeys::UpdateType);
    Logger::instance().write("Start ", "ZazozeControlService::runUpdate", toNarrowString(type));
    if (type == ManualUpdate)
        return false;
    if (stopping)
        return true;
    return queueWorker(&ZazozeControlService::updateAsynchronously, "UpdateAsynchronously");
}

std::wstring ZazozeControlService::getUpdateUrlIfAvailable()
{
    Logger::instance().write("ZazozeControlService::getUpdateUrlIfAvailable");
    ConfigSection& settings = mainSettings();
    if (settings.getValue<std::wstring>(SettingsKeys::OfferedVersion) != ProductVersion
        && settings.getValue<std::wstring>(SettingsKeys::UpdateType) != SilentUpdate)
        return settings.getValue<std::wstring>(SettingsKeys::UpdateUrl);
    return std::wstring();
}

void ZazozeControlService::updateAsynchronously()
{
    // Tested and set in one step: of two items queued together only one may go on.
    if (asyncUpdateRunning.exchange(true)) {
        Logger::instance().write("Asynchronous update already running");
        return;
    }
    // Cleared on every way out, also by an exception that is no standard one (which the work
    // item then logs): left set, every later update would be "already running".
    const RunningFlag running(asyncUpdateRunning);
    const ComInit com(COINIT_APARTMENTTHREADED);
    Logger::instance().write("Start ", "ZazozeControlService::updateAsynchronously");
    try {
        update();
    } catch (const std::exception& error) {
        Logger::instance().write("ZazozeControlService::updateAsynchronously", error.what());
    }
    Logger::instance().write("Stop ", "ZazozeControlService::updateAsynchronously");
}

void ZazozeControlService::update()
{
    Logger& log = Logger::instance();
    log.write("Start ", "ZazozeControlService::update");
    if (updDownloader.downloading) {
        log.write("updDownloader is busy when running", "ZazozeControlService::update", "rejecting download");
        return;
    }
    const std::wstring url = mainSettings().getValue<std::wstring>(SettingsKeys::UpdateUrl);
    if (url.empty()) {
        log.write("Update URL is empty");
        return;
    }
    const std::wstring path = makeUpdateFilePath(url);
    if (path.empty()) {
        log.write("Update not downloaded: no new folder for it in", toNarrowString(TempPath));
        return;
    }
    if (!updDownloader.downloadFile(url, path)) {
        // The folder was made for this download alone, and the download has deleted its file.
        RemoveDirectoryW(folderOf(path).c_str());
        log.write("Update did not downloaded ok");
        return;
    }
    // Read again: the type may have changed during the download.
    bool launched = false;
    if (mainSettings().getValue<std::wstring>(SettingsKeys::UpdateType) == SilentUpdate) {
        launched = launchApp(installerCommandLine(path, SilentSwitches));
    } else {
        grantEveryoneAccess(path);
        launched = LaunchAppAsUser(installerCommandLine(path, UserSwitches));
    }
    log.write(launched ? "Update launched ok" : "Update did not launched ok");
}

// Stop: the running download ends at its next chunk.
void ZazozeControlService::cancelUpdateDownload()
{
    updDownloader.cancel_downloading = true;
}

bool ZazozeControlService::updateDownloadRunning() const
{
    return updDownloader.downloading;
}
