#pragma once
// The reasons and messages of the result records the service hands back from the vendor API.

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

// What a JSON reply handler answers when the reply is empty, not JSON or an empty object.
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
