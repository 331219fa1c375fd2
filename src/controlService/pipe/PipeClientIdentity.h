#pragma once
// Who is at the other end of the command pipe. The service runs as LocalSystem and answers every
// local user, so what a client may reach is decided by the client's own token, never by what it says.

#include "Handles.h"

#include <windows.h>

#include <optional>
#include <string>

struct PipeClientIdentity {
    // The client's user, as SID text ("S-1-5-21-...").
    std::wstring userSid;
    // LocalSystem or an enabled member of Administrators: it may act for every user of the machine.
    bool privileged = false;
};

// The client's impersonation token (TOKEN_QUERY and TOKEN_DUPLICATE); empty when it cannot be
// taken (GetLastError tells why). A request must have been read from the pipe first.
UniqueHandle pipeClientToken(HANDLE pipe);

// The identity a token (primary or impersonation, opened with TOKEN_QUERY and TOKEN_DUPLICATE)
// stands for; nothing when it cannot be read.
std::optional<PipeClientIdentity> tokenIdentity(HANDLE token);

// True for a token of LocalSystem.
bool isLocalSystemToken(HANDLE token);

// Whether a client may have its connection use the settings of the user `sid`: its own user's,
// the general ones (the empty SID), or any user's when it is privileged.
bool mayActFor(const PipeClientIdentity& client, const std::wstring& sid);
