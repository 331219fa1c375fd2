#pragma once
// What the VPN daemon controller shares with the daemon, to the byte: the daemon's files, its
// command line and its management interface. The controller's log lines are written where they
// are logged.

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
