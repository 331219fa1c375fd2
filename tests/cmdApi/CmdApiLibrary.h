#pragma once
// The built NimbalCmdApi.dll, loaded into the test process once and kept, as the host keeps it.

#include <windows.h>

struct CmdApiLibrary {
    using BoolCall = bool (*)();

    HMODULE module = nullptr;
    BoolCall connectVPN = nullptr;
    BoolCall disconnectVPN = nullptr;
    int (*getVpnState)() = nullptr;
    BoolCall isServiceInstalled = nullptr;
    BoolCall isServiceRunning = nullptr;
    BoolCall tryToStartService = nullptr;
    void (*vpnUserLogOut)() = nullptr;
};

// Fails the calling test when the library or one of its exports cannot be found.
const CmdApiLibrary& cmdApi();
