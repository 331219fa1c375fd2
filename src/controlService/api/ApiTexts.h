#pragma once
// Every wire text and log text of the vendor-API client, as the server and the service log see them.

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

// Reason texts of the result records.
namespace ApiStatus {

constexpr const char* Ok = "OK";
constexpr const char* BadRequest = "Bad request";
constexpr const char* Unauthorized = "Unauthorized";
constexpr const char* InternalError = "Internal Server Error";

} // namespace ApiStatus

// Messages of the result records.
namespace ApiMessage {

constexpr const wchar_t* Success = L"Success";
constexpr const wchar_t* UnhandledCode = L"Unhandled server error code";
constexpr const wchar_t* CheckinFailed = L"'install' method was not successful, end processing function";
constexpr const wchar_t* CannotCreateRequest = L"cannot create WinHttp.WinHttpRequest.5.1";
constexpr const wchar_t* EmptyGuid = L"Trying to process with empty guid";
constexpr const wchar_t* CannotOpen = L"Cannot create POST request";
constexpr const wchar_t* CannotSetHeader = L"Cannot set request header";
constexpr const wchar_t* SendFailed = L"Failed to process request";
constexpr const wchar_t* TokenExpired = L"Token expired, please relogin";

constexpr const wchar_t* NotRegistered = L"Not registered";
constexpr const wchar_t* SaveConfigFailed = L"Failed to save config file";

} // namespace ApiMessage

// Log lines, by the function that writes them.
namespace ApiLog {

constexpr const char* CannotCreateRequest = "cannot create WinHttp.WinHttpRequest.5.1";
constexpr const char* CannotOpen = "Cannot create POST request";
constexpr const char* CannotSetHeader = "Cannot set request header";
constexpr const char* IgnoreSslErrors = "Ignore SSL errors on Win XP only";
constexpr const char* RequestAbandoned = "WinHttpRequest::send request abandoned: the service is stopping";
constexpr const char* RequestTo = "Request to";
constexpr const char* Posted = "POSTed\n";
constexpr const char* Received = "\nreceived:\n";

constexpr const char* RequestServerData = "ServerApiOperator::requestServerData";
constexpr const char* QueryMark = "?";
constexpr const char* SendFailedTo = "failed to send request to url";
constexpr const char* WithParams = "with params";
constexpr const char* Got401 = "Got 401 response code";
constexpr const char* UnexpectedCode = "Unexpected response code";
constexpr const char* WithStatus = "with status:";

constexpr const char* Checkin = "ServerApiOperator::checkin";
constexpr const char* CannotSend = "Cannot send request";
constexpr const char* LoginFailedWith = "Login failed with";
constexpr const char* LoginFailedUnknown = "Login failed with unknown exception";
constexpr const char* CheckinResponse = "Response from Checkin request";
constexpr const char* CheckinJsonEmpty = "Checkin request json is empty";
constexpr const char* CheckinJsonError = "Error reading checkin response on line: ";
constexpr const char* HandleCheckinResponse = "ServerApiOperator::handleCheckinResponse";
constexpr const char* UnknownException = "unknown exception";

constexpr const char* GuidFailed = "Error generating GUID";
constexpr const char* GuidFailedError = "GenGuid failed";

constexpr const char* LoginStatusFalse = "User login response status false";
constexpr const char* ResetStatusFalse = "Reset account password response status false";

constexpr const char* CreateFolderFailed = "Failed to create sub-directory";
constexpr const char* LeftAsIs = "leaved as is";
constexpr const char* FileUpdated = "updated";
constexpr const char* FileUpdateFailed = "update failed";

constexpr const char* PostLogfiles = "ServerApiOperator::postLogfiles";
constexpr const char* PostingLogfile =
    "posting logfile Nimbal Privacy Service, version 1.1.0.33 built Mon Aug 24 18:04:29 2015";
constexpr const char* UploadResponse = "response: ";

} // namespace ApiLog

// What a JSON reply handler writes and answers when the reply is empty, not JSON or an empty object.
struct ReplyLogTexts {
    const char* reply;   // logged before the reply text
    const char* empty;   // logged for an empty object
    const char* error;   // logged before the syntax error's line number
};

struct ReplyFailureMessages {
    const wchar_t* emptyReply;
    const wchar_t* syntaxError;
    const wchar_t* emptyJson;
};

namespace ApiReplyFailure {

constexpr ReplyFailureMessages Common { L"Empty response", L"Incorrect response from server",
                                        L"Response json is empty" };
constexpr ReplyFailureMessages Connect { L"Server response is empty", L"Error reading response json",
                                         L"Connect to server response json is empty" };

} // namespace ApiReplyFailure

namespace ApiReplyLog {

constexpr ReplyLogTexts Login { "Response from user login request", "User login response json is empty",
                                "Error reading login request on line: " };
constexpr ReplyLogTexts Register { "Response from user register request", "User register response json is empty",
                                   "Error reading register response on line: " };
constexpr ReplyLogTexts Support { "Response from send support message request",
                                  "Send support message response json is empty",
                                  "Error reading send support message response on line: " };
constexpr ReplyLogTexts Autologin { "Response from autologin notify request", "Autologin notify response json is empty",
                                    "Error reading autologin notify response on line: " };
constexpr ReplyLogTexts Reset { "Response from reset account password request is",
                                "Reset account password response json is empty",
                                "Error reading reset account password request on line: " };
constexpr ReplyLogTexts Limits { "Response from account limits request is", "Account limits response json is empty",
                                 "Error reading account limits request on line: " };
constexpr ReplyLogTexts Connect { "Response from Connect to Server request", "Connect to server request json is empty",
                                  "Error reading Connect response on line: " };

} // namespace ApiReplyLog
