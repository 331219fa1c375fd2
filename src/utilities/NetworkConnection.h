#pragma once
// Connecting network connections through the system's network-connection manager (netshell).

#include <string>

// Connects the first connection whose device name contains `device` (case-sensitive), or every
// connection when `device` is empty. True when the manager's list could be walked, whether or not
// anything matched or connected. The calling thread must have COM initialised; calls are serialised.
bool connectNetworkConnection(const std::wstring& device);
