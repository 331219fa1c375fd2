#pragma once
// Every log and event-log text of the service object, as it appears in the logs.

#include "ProductVersion.h"

namespace ServiceLog {

// Event log
constexpr const wchar_t* EventStarted = L"Nimbal Privacy Service started";
constexpr const wchar_t* EventStopping = L"Nimbal Privacy is stopping";
constexpr const wchar_t* EventShutdown = L"Nimbal Privacy Shutdown";

// The log file: AppdataPath + name + extension.
constexpr const wchar_t* LogFileName = L"Nimbal Privacy Service";
constexpr const wchar_t* LogFileExtension = L".log";

// Start-up
constexpr const char* BannerBeforeStamp = "Starting Nimbal Privacy Service, version " NIMBAL_VERSION " built";
constexpr const char* UpdateEventFailed = "Error creating update event object";

// How a worker that cannot be queued is reported.
struct WorkerLaunchTexts {
    const char* withError;     // followed by the Windows error code
    const char* withMessage;   // followed by the exception's message
    const char* unknown;
};
constexpr WorkerLaunchTexts UpdateCheckLaunch {
    "ZazozeControlService::UpdateCheckThread launch failed with error",
    "ZazozeControlService::UpdateCheckThread launch failed with: ",
    "ZazozeControlService::UpdateCheckThread launch failed with unknown error",
};
constexpr WorkerLaunchTexts SettingsLaunch {
    "ZazozeControlService::SettingsThread launch failed with error",
    "ZazozeControlService::SettingsThread launch failed with: ",
    "ZazozeControlService::SettingsThread launch failed with unknown error",
};
constexpr WorkerLaunchTexts WinServerLaunch {
    "ZazozeControlService::winServerThread launch failed with error",
    "ZazozeControlService::winServerThread launch failed with: ",
    "ZazozeControlService::winServerThread launch failed with unknown error",
};

// Workers
constexpr const char* StartUpdateCheck = "Start Update Check thread";
constexpr const char* LoginFailed = "Login failed - will retry in";
constexpr const char* Seconds = "seconds(s).";
constexpr const char* StopUpdate = "Stop Update thread";
constexpr const char* StartSettings = "Start Settings thread";
constexpr const char* SettingsCaught = "SettingsThread caught";
constexpr const char* SettingsCaughtUnknown = "SettingsThread caught unknown exception";
constexpr const char* StopSettings = "Stop Settings thread";
constexpr const char* StartWinServer = "Start WinServer thread";
constexpr const char* WinServerCaught = "WinServer thread caught";
constexpr const char* WinServerCaughtUnknown = "WinServer thread caught unknown exception";
constexpr const char* NoFreePort = "No available port found for HTTPS local server";

// Operations
constexpr const char* SetRequiredState = "ZazozeControlService::setRequiredState";
constexpr const char* Enable = "enable=";

// VPN connect and watchdog
constexpr const char* ConnectToServer = "ZazozeControlService::connectToServer";
constexpr const char* ConcurrentCallsOf = "Concurrent calls of ";
constexpr const char* Detected = " detected";
constexpr const char* ConcurrentStatus = "Internal server error";
constexpr const wchar_t* ConcurrentMessage = L"Concurrent calls detected";
constexpr const char* RefusedServerId = "refused a server id that is no plain name:";
constexpr const wchar_t* BadServerIdMessage =
    L"Bad server id: only letters, digits, \"-\", \"_\" and \".\" are allowed, it may not begin with \".\" or "
    L"name a device (CON, PRN, AUX, NUL, COM0 to COM9, LPT0 to LPT9), and it may have at most 128 characters";
constexpr const char* NoVpnCheckEvent = "Vpn check event object not created";
constexpr const char* NotStartedWhileStopping = "the service is stopping: the daemon is not started";
constexpr const char* Watchdog = "ZazozeControlService::checkOpenVpnStateThread";
constexpr const char* Start = "Start";
constexpr const char* Stop = "Stop";
constexpr const char* ThreadId = " Thread ID: ";
constexpr const char* VpnWorks = "OpenVPN works correctly";
constexpr const char* VpnDoesNotWork = "OpenVPN does not work correctly";
constexpr const char* ControllerNotConnected = "OVPN controller was not connected";
constexpr const char* OvpnNotStarted = "OVPN was not started";
constexpr const char* StateIncorrect = "OpenVPN connection state is considered incorrect";
constexpr const char* CannotRepair = "Cannot repair VPN connection";
constexpr const char* ExceptionCaught = " exception caught:";
constexpr const char* UnknownExceptionCaught = " exception caught";
constexpr const wchar_t* AdapterDevice = L"Nimbal";

// Stop
constexpr const char* Terminating = "Nimbal Privacy terminating";
constexpr const char* Terminated = "Nimbal Privacy terminated";
constexpr const char* WaitingForThreads = "Waiting for end of all threads";
constexpr const char* WaitStep = "ZazozeControlService::OnStop::waitThreadsOnStop";
constexpr const char* WaitingTooLong = "Waiting too long for threads!!! Aborting";
constexpr const char* UpdateCheckRunning = "updateCheckThreadRunning=";
constexpr const char* Downloader = "updDownloader";
constexpr const char* Hanged = "hanged";
constexpr const char* Stopped = "stopped";
constexpr const char* IgnoringThreads = "Ignoring unfinished threads to speed-up exit";
constexpr const char* Destructor = "ZazozeControlService::~ZazozeControlService";

} // namespace ServiceLog
