#pragma once
// Console actions that install, remove, start, stop and reconfigure the service.

#include <windows.h>

#include <optional>
#include <string>

// The full path of `module`'s file (nullptr: the program's), read into `capacity` characters;
// nothing when it does not fit or cannot be read (GetLastError tells why). A path cut to fit
// would name another file.
std::optional<std::wstring> modulePath(HMODULE module, DWORD capacity);

void installService();
void uninstallService();
void startService();
void stopService();
void changeStartType(DWORD startType);
void updateServiceDacl();
std::wstring everyoneAccountName();
