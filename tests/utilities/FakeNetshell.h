#pragma once
// A stand-in for the system's network-connection manager: a DLL named netshell.dll that serves
// the manager's class and records what is done with the connections it hands out.

#include <windows.h>

struct FakeConnection {
    const wchar_t* deviceName; // copied by the fake
    HRESULT propertiesResult;  // what GetProperties answers
    HRESULT connectResult;     // what Connect answers
};

struct FakeReport {
    int connected[16];     // indices of the connections connected, in call order
    int connectCount;
    int propertiesHanded;
    int propertiesFreed;
    int liveObjects;       // manager, enumerators and connections not released yet
};

// Exported as "FakeNetshellConfigure" and "FakeNetshellReport".
using ConfigureFakeNetshell = void (*)(const FakeConnection* connections, int count);
using ReadFakeNetshell = void (*)(FakeReport* report);
