#pragma once
// Console actions that install, remove, start, stop and reconfigure the service.

#include <windows.h>

#include <string>

void installService();
void uninstallService();
void startService();
void stopService();
void changeStartType(DWORD startType);
void updateServiceDacl();
std::wstring everyoneAccountName();
