#pragma once
// Every text of the local HTTP control server as its clients and the service log see it.
// The first log line of each URL is in the URL table (UrlHandlerTable.cpp).

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

namespace HttpLog {

// LocalHttpServer::start and stop
constexpr const char* Starting = "Win server starting on port";
constexpr const char* InitializeFailed = "HttpInitialize failed";
constexpr const char* CreateHandleFailed = "HttpCreateHttpHandle failed";
constexpr const char* ListeningOn = "Listening on url";
constexpr const char* AddUrlFailed = "HttpAddUrl failed with error code";
constexpr const char* Stopping = "Stopping web server...";

// The request loop
constexpr const char* ProcessRequests = "LocalHttpServer::processRequests";
constexpr const char* Begin = "begin";
constexpr const char* Waiting = "Waiting for HTTP request";
constexpr const char* BufferTooSmall = "Buffer was too small";
constexpr const char* ConnectionInvalidWithId = "Error: connection invalid, but request id not null";
constexpr const char* ConnectionInvalid = "Error: connection invalid";
constexpr const char* InvalidHandle = "Invalid handle";
constexpr const char* Aborted = "Requests processing aborted";
constexpr const char* LastErrorAfterText = "; last error:";
constexpr const char* LastError = "last error:";
constexpr const char* UnknownError = "Error: unknown";
constexpr const char* LoopEnd = "HttpReceiveHttpRequest end";

// Dispatch and replies
constexpr const char* UnsupportedMethod = "Got an unsupported request with method";
constexpr const char* GotPost = "Got a POST request";
constexpr const char* CallingHandler = "calling handler of";
constexpr const char* UnsupportedPost = "Got unsupported POST request";
constexpr const char* SendFailed = "HttpSendHttpResponse failed";

// Bodies and fields
constexpr const char* GetPostBody = "LocalHttpServer::getPostBody";
constexpr const char* FailedWith = "failed with";
constexpr const char* LastErrorOnNewLine = "\nLast error:";
constexpr const char* EntityBodyReturned = "HttpReceiveRequestEntityBody returned";
constexpr const char* BodyRefused = "refused a request body larger than";
constexpr const char* NoSuchParameter = "no such parameter";

// Handlers
constexpr const char* VpnStateIs = "VPN state is";
constexpr const char* InvalidVpnState = "Not a VPN state:";
constexpr const char* CurrentServerIs = "VPN current server ID is";
constexpr const char* ConnectWithId = "Connect to server with ID";
constexpr const char* ConnectToVpn = "LocalHttpServer::connectToVPN";
constexpr const char* NewUserSid = "New user SID is";
constexpr const char* SetUser = "LocalHttpServer::setUser";
constexpr const char* UpdateAccCredentials = "LocalHttpServer::updateAccCredentials";
constexpr const char* AccountResetPass = "LocalHttpServer::accountResetPass";
constexpr const char* RequestedSetting = "Requested setting by name";
constexpr const char* GetSetting = "LocalHttpServer::getSetting";
constexpr const char* SetSetting = "LocalHttpServer::setSetting";
constexpr const char* ReadOnlySetting = "refused to change";
constexpr const char* ProcessRemoteLogin = "LocalHttpServer::processRemoteLogin";

} // namespace HttpLog

// Bodies above this size are refused unread: every local user can reach the server.
constexpr std::size_t MaxRequestBodyBytes = 65536;
