#pragma once
// Every settings key the service itself reads or writes (all in the general section), with defaults.

#include "ConfigSection.h"

#include <string>

namespace SettingsKeys {

// Tuning values the server may change at each check-in.
constexpr const wchar_t* UpdateRequestInterval = L"UpdatableSettings.updateRequestInterval";
constexpr const wchar_t* UpdateRequestIntervalIfFailed = L"UpdatableSettings.updateRequestIntervalIfFailed";
constexpr const wchar_t* VpnDiagnosticsInterval = L"UpdatableSettings.vpnDiagnosticsInterval";
constexpr const wchar_t* OvpnControlPort = L"UpdatableSettings.ovpnControlPort";
constexpr const wchar_t* RemindOnBrowserDays = L"UpdatableSettings.remindOnBrowserDays";
constexpr const wchar_t* AgentIconUpdTimeout = L"UpdatableSettings.agentIconUpdTimeout";
constexpr const wchar_t* RegexpWhite = L"UpdatableSettings.regexpWhite";
constexpr const wchar_t* RegexpBlack = L"UpdatableSettings.regexpBlack";

// The last check-in answer, stored whole.
constexpr const wchar_t* LastLoginRequestInfo = L"LastLoginRequestInfo";
constexpr const wchar_t* OfferedVersion = L"LastLoginRequestInfo.version";
constexpr const wchar_t* UpdateType = L"LastLoginRequestInfo.updateType";
constexpr const wchar_t* UpdateUrl = L"LastLoginRequestInfo.updateUrl";

constexpr const wchar_t* LastConnectServerId = L"LastConnectResponseInfo.serverId";

constexpr const wchar_t* OvpnRequiredState = L"Internal.ovpnRequiredState";
constexpr const wchar_t* LoggingEnabled = L"Internal.LoggingEnabled";

constexpr const wchar_t* InstalledVersion = L"InstallSettings.LastVersion";
constexpr const wchar_t* LocalHttpsPort = L"InstallSettings.LocalHttpsPort";
constexpr const wchar_t* ClientGuid = L"InstallSettings.clientGUID";

// The account credentials; the branch never reaches a logged copy of a document.
constexpr const wchar_t* Hidden = L"Hidden";
constexpr const wchar_t* VpnUserLogin = L"Hidden.VpnUser.login";
constexpr const wchar_t* VpnUserPassword = L"Hidden.VpnUser.password";
constexpr const wchar_t* VpnUserRememberMe = L"Hidden.VpnUser.rememberMe";
constexpr const wchar_t* VpnUserToken = L"Hidden.VpnUser.token";

} // namespace SettingsKeys

namespace SettingsDefaults {

constexpr int UpdateRequestInterval = 86400;
constexpr int UpdateRequestIntervalIfFailed = 3600;
constexpr int VpnDiagnosticsInterval = 60;
constexpr int OvpnControlPort = 5555;
constexpr int RemindOnBrowserDays = 2;
constexpr bool OvpnRequiredState = false;
constexpr int AgentIconUpdTimeout = 2;

} // namespace SettingsDefaults

// The settings a check-in answer updates, in copy order: LastLoginRequestInfo.<name> goes to
// UpdatableSettings.<name>.
constexpr const wchar_t* CheckinCopiedSettings[] = {
    L"regexpWhite",           L"regexpBlack",    L"updateRequestInterval", L"updateRequestIntervalIfFailed",
    L"vpnDiagnosticsInterval", L"ovpnControlPort", L"remindOnBrowserDays",   L"agentIconUpdTimeout",
};

// Writes the default check-in intervals.
void setDefaultUpdateIntervals(ConfigSection& section);

// Copies the text at `from` to `to` unless it is empty or the JSON null ("null"); the target keeps
// its value otherwise.
void copySettingIfSet(ConfigSection& section, const std::wstring& from, const std::wstring& to);

// The eight copies after a stored check-in answer, in CheckinCopiedSettings order.
void copyCheckinSettings(ConfigSection& section);
