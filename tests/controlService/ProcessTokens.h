#pragma once
// Tokens of this program's own user, to stand for pipe clients. Wine runs every program as an
// elevated administrator and hands a pipe server the token of its own process for every client.

#include "Handles.h"

#include <windows.h>

// This process's token, opened to read it and to make copies.
inline UniqueHandle processToken()
{
    UniqueHandle token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, token.put());
    return token;
}

// A token of the same user in which Administrators only denies: a user who is no administrator.
inline UniqueHandle nonAdministratorToken()
{
    UniqueHandle own;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, own.put()))
        return UniqueHandle();
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size))
        return UniqueHandle();
    SID_AND_ATTRIBUTES denyOnly { administrators, 0 };
    UniqueHandle restricted;
    if (!CreateRestrictedToken(own.get(), 0, 1, &denyOnly, 0, nullptr, 0, nullptr, restricted.put()))
        return UniqueHandle();
    return restricted;
}
