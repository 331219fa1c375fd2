#pragma once
// Every text of the VPN daemon controller, to the byte: the daemon's files and command line, the
// management commands and the log lines.

namespace DaemonFiles {

constexpr const wchar_t* Executable = L"OpenVPN\\openvelorn.exe";  // below InstallPath
constexpr const wchar_t* ConfigFolder = L"ovpn_config";            // below AppdataPath
constexpr const wchar_t* DefaultConfigName = L"default";
constexpr const wchar_t* ConfigExtension = L".ovpn";
constexpr const wchar_t* DaemonLog = L"ovpn.log";

} // namespace DaemonFiles

// The daemon's command line, piece by piece in the order they are joined.
namespace DaemonCommandLine {

constexpr const wchar_t* Quote = L"\"";
constexpr const wchar_t* FolderOption = L" --cd \"";
constexpr const wchar_t* ConfigOption = L"\" --config ";
constexpr const wchar_t* LogOptions = L" --log-append ovpn.log --verb 3";
constexpr const wchar_t* ManagementOption = L" --management localhost ";

} // namespace DaemonCommandLine

namespace Management {

constexpr const char* Address = "127.0.0.1";
constexpr const char* LineEnd = "\r\n";
constexpr const char* StateCommand = "state";
constexpr const char* StopCommand = "signal SIGTERM";
constexpr const char* ConnectedState = "CONNECTED";
constexpr const char* LoneEnd = "END\n";
constexpr int DefaultPort = 5555;
constexpr int LowestWrappedPort = 1024;
constexpr int HighestPort = 65535;

} // namespace Management

namespace ControllerLog {

constexpr const char* StartOvpn = "OpenVpnStateController::startOVPN";
constexpr const char* StopOvpn = "OpenVpnStateController::stopOVPN";
constexpr const char* KillOvpn = "OpenVpnStateController::killOVPN";
constexpr const char* UpdateVpnPort = "OpenVpnStateController::ConnectionChecker::updateVpnPort";
constexpr const char* WaitForDaemonExit = "OpenVpnStateController::ConnectionChecker::waitForDaemonExit";

constexpr const char* ConcurrentCallOf = "Concurrent call of ";
constexpr const char* Ignored = " ignored";
constexpr const char* ExecutableNotFound = "OpenVPN daemon executable not found:";
constexpr const char* Launched = "Launched";
constexpr const char* CreateProcessFailed = "CreateProcess failed";
constexpr const char* Succeeded = "succeeded";
constexpr const char* Failed = "failed";
constexpr const char* RefusedConfigName = "refused a configuration name that is no server id:";

constexpr const char* WsaStartupFailed = "WSAStartup failed";
constexpr const char* OperationPortIs = "Operation port is ";
constexpr const char* SocketCreationFailed = "Socket creation failed";
constexpr const char* ConnectingSocket = "Connecting controlling socket...";
constexpr const char* SocketNotConnected = "Socket not connected, port";
constexpr const char* PromptEmpty = "Service prompt is empty";
constexpr const char* CommandSendFailed = "Command send failed";
constexpr const char* AnswerIncorrect = "Service answer is incorrect:";
constexpr const char* SendCommandError = "Send command error";
constexpr const char* ReplyEmptyOrTimedOut = "Service reply is empty or timedout";
constexpr const char* SocketCheck = "SocketCheck...";
constexpr const char* SendCommandFailed = "Send command failed";
constexpr const char* StateReceived = "State received: ";
constexpr const char* StillAnswering = "the daemon still answers, no longer waiting for its exit";
constexpr const char* ConnectionClosed = "OpenVPN connection closed";

constexpr const char* SendingStop = "Connected, sending stop command";
constexpr const char* TerminatingProcess = "Terminating process";
constexpr const char* TerminatedOk = "Terminated ok";
constexpr const char* WaitingForStop = "Waiting for stop";
constexpr const char* TerminationTimedOut = "Termination timed out";

} // namespace ControllerLog
