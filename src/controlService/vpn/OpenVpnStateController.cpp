#include "OpenVpnStateController.h"

#include "ControllerTexts.h"
#include "ServerId.h"

#include "settings/GlobalPaths.h"

#include "Logger.h"
#include "ProcessHelpers.h"
#include "StringHelpers.h"

#include <vector>

std::mutex startOvpnMutex;

namespace {

constexpr DWORD DaemonCreationFlags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT | NORMAL_PRIORITY_CLASS;
constexpr int KillRounds = 10;
constexpr DWORD KillPollMs = 200;
constexpr DWORD SweepWaitMs = 2000;
// Enough to end a process, wait for it and, failing that, break into it as its debugger.
constexpr DWORD SweepAccess = PROCESS_TERMINATE | SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_CREATE_THREAD
    | PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE;

bool isFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring daemonCommandLine(const std::wstring& exe, const std::wstring& configName, int port)
{
    std::wstring line;
    line += DaemonCommandLine::Quote;
    line += exe;
    line += DaemonCommandLine::Quote;
    line += DaemonCommandLine::FolderOption;
    line += OpenVpnStateController::getOvpnConfigDir();
    line += DaemonCommandLine::ConfigOption;
    line += configName.empty() ? std::wstring(DaemonFiles::DefaultConfigName) : configName;
    line += DaemonFiles::ConfigExtension;
    line += DaemonCommandLine::LogOptions;
    line += DaemonCommandLine::ManagementOption;
    line += std::to_wstring(port);
    return line;
}

} // namespace

OpenVpnStateController::OpenVpnStateController()
{
    checker.initSockets();
}

void OpenVpnStateController::startOVPN(const std::wstring& configName)
{
    const std::unique_lock<std::mutex> starting(startOvpnMutex, std::try_to_lock);
    if (!starting.owns_lock()) {
        LOG_INFO << "Concurrent call of " << "OpenVpnStateController::startOVPN" << " ignored";
        return;
    }
    const ConversationLock conversation = lockConversation();

    // The name becomes a word of the command line and a file name: only a server id will do.
    if (!isValidServerId(configName)) {
        LOG_ERROR << "OpenVpnStateController::startOVPN" << "refused a configuration name that is no server id:"
                  << configName;
        return;
    }
    const std::wstring exe = InstallPath + DaemonFiles::Executable;
    if (exe.empty() || !isFile(exe)) {
        LOG_ERROR << "OpenVPN daemon executable not found:" << exe;
        return;
    }

    if (!checker.updateVpnPort()) {
        LOG_ERROR << "OpenVpnStateController::startOVPN" << "no management port to be had: the daemon is not started";
        return;
    }
    std::wstring commandLine = daemonCommandLine(exe, configName, checker.port());

    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION started {};
    if (CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, DaemonCreationFlags, nullptr, nullptr,
                       &startup, &started)) {
        Logger::instance().write("Launched", toNarrowString(commandLine));
        ProcessHandles handles(started);
        daemonProcess = std::move(handles.process);
        LOG_INFO << "OpenVpnStateController::startOVPN" << "succeeded";
    } else {
        const DWORD error = GetLastError();
        Logger::instance().write("CreateProcess failed", error);
        daemonProcess.reset();
        LOG_ERROR << "OpenVpnStateController::startOVPN" << "failed";
    }
}

bool OpenVpnStateController::stopOVPN()
{
    const ConversationLock conversation = lockConversation();
    // Without a daemon of ours the management port may belong to another program: it is not asked.
    if (checker.connected() || (daemonAlive() && checker.checkState() == ConnectionChecker::TunnelUp)) {
        LOG_INFO << "OpenVpnStateController::stopOVPN" << "Connected, sending stop command";
        checker.sendCommand(Management::StopCommand);
        checker.waitForDaemonExit();
        checker.closeSocket();
    }
    const bool result = killOVPN();
    if (result)
        LOG_INFO << "OpenVpnStateController::stopOVPN" << "succeeded";
    else
        LOG_ERROR << "OpenVpnStateController::stopOVPN" << "failed";
    return result;
}

bool OpenVpnStateController::killOVPN()
{
    const ConversationLock conversation = lockConversation();
    if (!daemonProcess)
        return true;
    LOG_INFO << "OpenVpnStateController::killOVPN" << "Terminating process";
    TerminateProcess(daemonProcess.get(), 1);
    for (int round = 0; round < KillRounds; ++round) {
        if (!daemonAlive()) {
            Logger::instance().write("Terminated ok");
            daemonProcess.reset();
            return true;
        }
        LOG_INFO << "OpenVpnStateController::killOVPN" << "Waiting for stop";
        Sleep(KillPollMs);
    }
    Logger::instance().write("Termination timed out");
    killAllDaemons();
    daemonProcess.reset();
    return false;
}

bool OpenVpnStateController::isVpnConnected()
{
    const ConversationLock conversation = lockConversation();
    if (!daemonAlive())
        return false;
    switch (checker.checkState()) {
    case ConnectionChecker::TunnelUp:
        return true;
    case ConnectionChecker::EndAlone:
        killOVPN();
        return false;
    default:
        return false;
    }
}

bool OpenVpnStateController::isDaemonAlive()
{
    const ConversationLock conversation = lockConversation();
    return daemonAlive();
}

int OpenVpnStateController::checkState()
{
    const ConversationLock conversation = lockConversation();
    return checker.checkState();
}

bool OpenVpnStateController::isManagementConnected()
{
    const ConversationLock conversation = lockConversation();
    return checker.connected();
}

void OpenVpnStateController::setManagementPort(int port)
{
    const ConversationLock conversation = lockConversation();
    checker.setPort(port);
}

int OpenVpnStateController::managementPort()
{
    const ConversationLock conversation = lockConversation();
    return checker.port();
}

bool OpenVpnStateController::daemonAlive() const
{
    return daemonProcess && WaitForSingleObject(daemonProcess.get(), 0) == WAIT_TIMEOUT;
}

std::wstring OpenVpnStateController::getOvpnConfigDir()
{
    return AppdataPath + DaemonFiles::ConfigFolder;
}

std::wstring OpenVpnStateController::getDaemonExeName()
{
    const std::wstring executable = DaemonFiles::Executable;
    return executable.substr(executable.find(L'\\') + 1);
}

void OpenVpnStateController::killAllDaemons()
{
    std::vector<DWORD> ids;
    findProcessesByName(getDaemonExeName(), ids);
    for (DWORD id : ids) {
        const UniqueHandle process(OpenProcess(SweepAccess, FALSE, id));
        if (!process)
            continue;
        TerminateProcess(process.get(), 1);
        if (WaitForSingleObject(process.get(), SweepWaitMs) == WAIT_TIMEOUT)
            terminateProcessForce(process.get());
    }
}
