#pragma once
// The replies of the local HTTP control server as its clients see them: reasons and bodies, and
// the largest body it reads.

#include <cstddef>

namespace HttpReason {

constexpr const char* Ok = "OK";
constexpr const char* BadRequest = "Bad request";
constexpr const char* InternalServerError = "Internal Server Error";
constexpr const char* NotImplemented = "Not Implemented";
constexpr const char* TokenNotExist = "Token not exist";

} // namespace HttpReason

namespace HttpBody {

constexpr const char* NonPostMethod = "Got an unsupported request with non-POST method";
constexpr const char* NoUrlHandler = "Can't find URL handler";
constexpr const char* BodyTooLarge = "Request body is larger than 65536 bytes";

constexpr const char* Ping = "GDEZHESCHIO!";
constexpr const char* Disconnecting = "Disconnecting";
constexpr const char* UpToDate = "Up-to-date";
constexpr const char* Updating = "Updating";
constexpr const char* UpdateNotManual = "Update type got from server isn't manual";
constexpr const char* Relogining = "Relogining";
constexpr const char* Setting = "Setting";
constexpr const char* UserNotFound = "Param \"user\" not found";
constexpr const char* LoggingEnabled = "Logging enabled";
constexpr const char* LoggingDisabled = "Logging disabled";
constexpr const char* Posted = "Posted";
constexpr const char* PostFailed = "Failed to post log files";
constexpr const char* Success = "Success";
constexpr const char* EnterCorrectCredentials = "Please, enter correct email and password";
constexpr const char* CredentialsNotFound = "Param \"login\" or \"pass\" not found";
// Also the reply to a reset request without "email".
constexpr const char* NameNotFound = "Param \"name\" not found";
constexpr const char* NameOrValueNotFound = "Param \"name\" or \"value\" not found";
constexpr const char* NotASettingName =
    "Param \"name\" can't hold a value: it is empty, has an empty part, names a folder or lies below another setting";
constexpr const char* ReadOnlySetting = "Settings under \"LastLoginRequestInfo\" can't be changed";
constexpr const char* AddressEmpty = "Address couldn't be empty";
constexpr const char* RemoteLoginEmpty = "None of params \"token\", \"lifeTime\" or \"creationtime\" can be empty";
constexpr const char* RemoteLoginNotFound = "Param \"token\", \"lifeTime\" or \"creationtime\" not found";

} // namespace HttpBody

// Bodies above this size are refused unread: every local user can reach the server.
constexpr std::size_t MaxRequestBodyBytes = 65536;
