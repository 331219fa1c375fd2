#pragma once
// The vendor API's wire, as the server sees it: the request object, headers, form fields, reply
// members and the files a reply is written to.

#include "ProductVersion.h"

namespace ApiWire {

constexpr const wchar_t* RequestProgId = L"WinHttp.WinHttpRequest.5.1";
constexpr const wchar_t* PostMethod = L"POST";
constexpr const wchar_t* ContentTypeHeader = L"Content-Type";
constexpr const wchar_t* FormContentType = L"application/x-www-form-urlencoded";
constexpr const wchar_t* AuthorizationHeader = L"Authorization";
constexpr const wchar_t* BearerPrefix = L"Bearer ";

constexpr const wchar_t* Version = ProductVersion;
constexpr const wchar_t* Brand = L"Nimbal Privacy";
constexpr const wchar_t* Platform = L"windows";

constexpr const wchar_t* MethodInstall = L"install";
constexpr const wchar_t* MethodUpdate = L"update";
constexpr const wchar_t* MethodPeriodical = L"periodical";

// Form fields.
constexpr const wchar_t* DeviceIdField = L"deviceId";
constexpr const wchar_t* VersionField = L"version";
constexpr const wchar_t* BrandField = L"brand";
constexpr const wchar_t* MethodField = L"method";
constexpr const wchar_t* PlatformField = L"platform";
constexpr const wchar_t* OsBitnessField = L"osBitness";
constexpr const wchar_t* OsVersionField = L"osVersion";
constexpr const wchar_t* OsSpVersionField = L"osSpVersion";
constexpr const wchar_t* OsLocaleField = L"osLocale";
constexpr const wchar_t* VpnServerIdField = L"vpnSrvId";
constexpr const wchar_t* EmailField = L"email";
constexpr const wchar_t* PasswordField = L"password";
constexpr const wchar_t* AddressField = L"address";
constexpr const wchar_t* MessageField = L"message";
constexpr const wchar_t* UserField = L"user";
constexpr const wchar_t* RoutingTableField = L"routingTable";

// Reply members.
constexpr const wchar_t* StatusMember = L"status";
constexpr const wchar_t* StatusTrue = L"true";
constexpr const wchar_t* TokenMember = L"token";
constexpr const wchar_t* MessageMember = L"message";
constexpr const wchar_t* ErrorMessageMember = L"error_message";
constexpr const wchar_t* TimeLeftMember = L"time_left";
constexpr const wchar_t* AuthMember = L"auth";
constexpr const wchar_t* ConfigMember = L"config";
// What a JSON null leaves in the tree.
constexpr const wchar_t* NullText = L"null";

// The credentials file of the connect reply, in the daemon's configuration folder (its
// configuration file is named as the daemon expects it: vpn/ControllerTexts.h).
constexpr const wchar_t* AuthFileName = L"client.auth";

// The routing table that goes with a log upload.
constexpr const wchar_t* RoutingTableCommand = L"cmd /C netstat.exe -rn > ";
constexpr const wchar_t* RoutingTableFilePrefix = L"rtable";
constexpr const wchar_t* RoutingTableFileSuffix = L".txt";

// Secrets in logged request bodies and replies are replaced by this.
constexpr const char* MaskedSecret = "***";

} // namespace ApiWire
