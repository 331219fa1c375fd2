#pragma once
// What the service control manager says about the service.

#include <windows.h>

// Masks for checkServiceState: a state passes when it has no bit outside the mask.
constexpr DWORD RunningMask = 4;            // running
constexpr DWORD StartingOrRunningMask = 6;  // start-pending (2), running (4) or pause-pending (6)

// True when the service exists. Also true when the manager itself cannot be asked.
bool serviceInstalled();
// True when the service's current state has no bit outside `mask`.
bool checkServiceState(DWORD mask);
// Asks the manager to start the service, gives it a second, and tells whether it is then
// starting or running.
bool startAndCheckService();
