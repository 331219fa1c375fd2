#pragma once
// Starting a program for a pipe client with that client's own identity: the service runs as
// LocalSystem, and a command line from any local user must not run with the service's rights.

#include "Handles.h"

#include <windows.h>

#include <string>

class IConfigSectionManager;

// The identity of the client at the other end of `pipe`, as a primary token; empty when it cannot
// be taken (GetLastError tells why). A request must have been read from the pipe first.
UniqueHandle pipeClientPrimaryToken(HANDLE pipe);

// Starts `commandLine` as the pipe client, in its session and with its environment. A client that
// runs as LocalSystem already has every right the service has, and gets the service's own launch.
// Nothing is started (and the reason is logged) when the client's identity cannot be taken.
bool launchAsPipeClient(HANDLE pipe, const std::wstring& commandLine, IConfigSectionManager& manager);
