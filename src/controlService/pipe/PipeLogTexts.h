#pragma once
// Every log text of the pipe command server, as it appears in the service log.

namespace PipeLog {

// CommandsServer
constexpr const char* ServerCreated = "Server created";
constexpr const char* WaitingForClient = "Waiting for client connection server_id=";
constexpr const char* ClientConnected = "Client connected, server_id=";
constexpr const char* ClientDisconnected = "Client disconnected";
constexpr const char* ClosingSection = "Closing section";
constexpr const char* EndOfCommunicate = "End of communicate";
constexpr const char* CloseServer = "CommandsServer::Close, server_id=";
constexpr const char* CancelingIo = "Canceling IO on server";
constexpr const char* TerminatingIoThread = "Terminating IO thread on server";
constexpr const char* FakeClientNotConnected = "Fake client not connected";
constexpr const char* Destructor = "Destructor, server_id=";
constexpr const char* NullThreadParameter = "InstanceThread got an unexpected NULL value in lpvParam.\n";
constexpr const char* ConnectionEndedByException = "InstanceThread: the connection ended by an exception";
constexpr const char* SaveFailed = "Saving the connection's settings failed, server_id=";

// Commands
constexpr const char* SettingRequested = "Setting requested for";
constexpr const char* Colon = ":";
constexpr const char* Equals = "==";
constexpr const char* MissingSetting = "<!!!-MISSING_SETTING-!!!>";
constexpr const char* SettingChanged = "Setting changed for";
constexpr const char* Assigned = ":=";
constexpr const char* ListSettingsCalled = "CMD_LIST_SETTINGS called";
constexpr const char* ListFoldersCalled = "CMD_LIST_FOLDERS called";
constexpr const char* Setting = "Setting";
constexpr const char* RemovedFor = "removed for";
constexpr const char* SetUserCalled = "SetUser called with";
constexpr const char* UpdateUrl = "Update URL:";

// What the server refuses or cannot do, and requests it cannot read.
constexpr const char* HiddenValue = "<hidden>";
constexpr const char* MalformedRequest = "Malformed request ignored, server_id=";
constexpr const char* RequestFailed = "Request failed, server_id=";
constexpr const char* WithCode = "code";
constexpr const char* UnknownError = "unknown error";
constexpr const char* NoSection = "No settings section for the request, server_id=";
constexpr const char* ServerDataChangeRefused = "Change refused, the branch holds the server's answer, for";
constexpr const char* LaunchNoIdentity = "CMD_LAUNCH_APP: the pipe client's identity cannot be taken, nothing started, error";
constexpr const char* LaunchNoEnvironment = "CMD_LAUNCH_APP: no environment for the pipe client, nothing started, error";

// ServerPool
constexpr const char* ServerConnected = "Server connected";
constexpr const char* CreateThreadFailed = "CreateThread failed, GLE=%d.\n";
constexpr const char* FinishPoolThread = "Finish Pool Thread:";
constexpr const char* CloseAll = "ServerPool::Close-- CLOSE ALL";
constexpr const char* ThreadClosed = "thread closed server_id= ";
constexpr const char* CloseDone = "ServerPool::Close-- DONE.";
constexpr const char* AcceptLoopStillRunning = "ServerPool::~ServerPool: the accept loop did not end";

} // namespace PipeLog
