#pragma once
// A token of this program's own user in which Administrators only denies: a user of the machine
// who is no administrator. Wine runs every program as an elevated administrator.

#include "Handles.h"

#include <windows.h>

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
