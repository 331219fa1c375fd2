// The operations that the front ends reach the service through, where the service itself does them.
#include "ZazozeControlService.h"

#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"
#include "settings/SettingsKeys.h"
#include "vpn/ControllerTexts.h"

#include "FileHelpers.h"
#include "Logger.h"
#include "ProcessHelpers.h"
#include "StringHelpers.h"

#include <exception>

namespace {

// How much of each log a log upload carries, from its end.
constexpr std::int64_t UploadedLogTail = 65536;

std::wstring escapedTail(const std::wstring& path)
{
    return urlEscape(readFileTail(UploadedLogTail, path));
}

} // namespace

ConfigSection* ZazozeControlService::getConfigUser(const std::wstring& sid)
{
    try {
        return ConfigManager::instance().getConfigUser(sid);
    } catch (const std::exception& error) {
        Logger::instance().write(error.what());
    } catch (...) {
        logStackTrace();
    }
    return nullptr;
}

void ZazozeControlService::saveUserAndMainSettings(const std::wstring& sid)
{
    if (!sid.empty())
        ConfigManager::instance().saveConfigSection(sid);
    ConfigManager::instance().saveMainSettings();
}

void ZazozeControlService::saveConfigSection(const std::wstring& sid)
{
    ConfigManager::instance().saveConfigSection(sid);
}

bool ZazozeControlService::launchApp(const std::wstring& commandLine)
{
    return ::launchApp(commandLine);
}

void ZazozeControlService::setRequiredState(bool enable)
{
    Logger::instance().write("ZazozeControlService::setRequiredState", "enable=", enable);
    // Stored first: the connect that follows reads it.
    mainSettings().setValue(SettingsKeys::OvpnRequiredState, enable);
    applyRequiredState();
}

void ZazozeControlService::restartUpdateCheck()
{
    // One restart at a time: beside another, a restart could find the worker that the other had
    // queued after its own wake-up was taken, and wait for it until the next check-in is due.
    const std::lock_guard<std::mutex> lock(restartMutex);
    if (stopping)
        return;
    if (updateEvent)
        SetEvent(updateEvent.get());
    do {
        Sleep(666);
    } while (updateCheckThreadRunning);
    // The stop may have begun meanwhile; then nothing new is queued.
    if (!stopping)
        queueWorker(&ZazozeControlService::UpdateCheckThread, "UpdateCheckThread");
}

bool ZazozeControlService::postLogs()
{
    return apiOperator.postLogfiles(logUploadFields());
}

std::wstring ZazozeControlService::logUploadFields()
{
    const std::wstring installLog = escapedTail(InstallPath + L"install.log");
    const std::wstring daemonLog = escapedTail(OpenVpnStateController::getOvpnConfigDir() + L"\\" + DaemonFiles::DaemonLog);
    const std::wstring serviceLog = escapedTail(Logger::instance().getFileName());
    return L"&srvLog=" + serviceLog + L"&ovpnLog=" + daemonLog + L"&installLog=" + installLog;
}
