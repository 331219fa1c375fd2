#pragma once
// Runs the service program's console actions and reads the service back from the control manager.

#include "ChildProcess.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

inline std::wstring serviceExe()
{
    return hostPath(NIMBAL_SERVICE_EXE);
}

// Runs a build of the service program with `arguments`; the program always ends with code 0.
inline std::string runServiceProgramAt(const std::wstring& program, const std::wstring& arguments)
{
    const ChildResult result = runChild(quoted(program) + L" " + arguments);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut) << std::string(program.begin(), program.end()) << " "
                                  << std::string(arguments.begin(), arguments.end());
    EXPECT_EQ(result.exitCode, 0u);
    return result.output;
}

// Runs NimbalService.exe with `arguments`.
inline std::string runServiceProgram(const std::wstring& arguments)
{
    return runServiceProgramAt(serviceExe(), arguments);
}

struct ServiceFacts {
    bool installed = false;
    DWORD state = 0;
    DWORD startType = 0;
    DWORD serviceType = 0;
    std::wstring displayName;
    std::wstring binaryPath;
    std::wstring startName;
    std::wstring description;
};

inline ServiceFacts readService(const wchar_t* name = L"Nimbal")
{
    ServiceFacts facts;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager)
        return facts;
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG);
    if (service) {
        facts.installed = true;
        SERVICE_STATUS status {};
        if (QueryServiceStatus(service, &status))
            facts.state = status.dwCurrentState;
        DWORD needed = 0;
        QueryServiceConfigW(service, nullptr, 0, &needed);
        std::string buffer(needed, '\0');
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(&buffer[0]);
        if (needed && QueryServiceConfigW(service, config, needed, &needed)) {
            facts.startType = config->dwStartType;
            facts.serviceType = config->dwServiceType;
            facts.displayName = config->lpDisplayName ? config->lpDisplayName : L"";
            facts.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : L"";
            facts.startName = config->lpServiceStartName ? config->lpServiceStartName : L"";
        }
        needed = 0;
        QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed);
        std::string descriptionBuffer(needed + 2, '\0');
        auto* description = reinterpret_cast<SERVICE_DESCRIPTIONW*>(&descriptionBuffer[0]);
        if (needed && QueryServiceConfig2W(service, SERVICE_CONFIG_DESCRIPTION,
                                           reinterpret_cast<BYTE*>(description), needed, &needed)
            && description->lpDescription)
            facts.description = description->lpDescription;
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return facts;
}
