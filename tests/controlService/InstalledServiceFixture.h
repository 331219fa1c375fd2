#pragma once
// The service installed into the test prefix and started by the control manager, over a settings
// folder cleared first, with logging switched on in its general document; removed at the end.
// It checks in with the mock API at start, as scripted before the start; the registry's device
// identifier that the check-in writes is put back afterwards.

#include "LogLines.h"
#include "RegistryGuidBackup.h"
#include "ServiceFixture.h"

#include "settings/GlobalPaths.h"

#include "Handles.h"
#include "MockApi.h"
#include "StringCipher.h"
#include "TempFolder.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

class InstalledService : public ::testing::Test {
protected:
    explicit InstalledService(std::wstring program = serviceExe()) : program(std::move(program)) {}

    void SetUp() override
    {
        removeService();
        ASSERT_FALSE(readService().installed);
        mock.reset();
        scriptMock();
        clearSettingsFolder();
        writeWholeFile(AppdataPath + L"settings.params", encryptString("{\"Internal\":{\"LoggingEnabled\":\"true\"}}"));
        const std::string output = runServiceProgramAt(program, L"-install");
        ASSERT_NE(output.find("Nimbal is started."), std::string::npos) << output;
    }
    void TearDown() override
    {
        removeService();
        view32.restore();
        view64.restore();
    }

    // What the mock answers from the service's first check-in on.
    virtual void scriptMock() {}

    void removeService()
    {
        if (readService().installed)
            runServiceProgramAt(program, L"-remove");
    }

    // Every document and backup of the settings store, and the log.
    static void clearSettingsFolder()
    {
        for (const wchar_t* pattern : { L"settings.params*", L"user.*.params*", L"Nimbal Privacy Service.log" }) {
            WIN32_FIND_DATAW entry;
            HANDLE search = FindFirstFileW((AppdataPath + pattern).c_str(), &entry);
            if (search == INVALID_HANDLE_VALUE)
                continue;
            do {
                DeleteFileW((AppdataPath + entry.cFileName).c_str());
            } while (FindNextFileW(search, &entry));
            FindClose(search);
        }
    }

    static std::string document(const std::wstring& name) { return decryptString(readWholeFile(AppdataPath + name)); }

    static std::vector<std::string> logLines()
    {
        return unstampedLines(readWholeFile(AppdataPath + L"Nimbal Privacy Service.log"));
    }
    static size_t count(const std::string& line)
    {
        const auto lines = logLines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }
    static bool logHasInOrder(const std::vector<std::string>& expected) { return linesInOrder(logLines(), expected); }
    // Waits (bounded) until the log holds the line `times` times.
    static bool logGets(const std::string& line, size_t times = 1)
    {
        for (int i = 0; i < 6000; ++i) {
            if (count(line) >= times)
                return true;
            Sleep(10);
        }
        return false;
    }

    // The port the service's HTTP server started on, from its log; 0 when it has not started yet.
    static int httpPort()
    {
        const std::string prefix = "Win server starting on port ";
        for (int i = 0; i < 6000; ++i) {
            for (const std::string& line : logLines()) {
                if (line.compare(0, prefix.size(), prefix) == 0)
                    return std::stoi(line.substr(prefix.size()));
            }
            Sleep(10);
        }
        return 0;
    }

    // Constructed before SetUp changes anything.
    const registry_guid_backup::ViewState view32 { KEY_WOW64_32KEY };
    const registry_guid_backup::ViewState view64 { KEY_WOW64_64KEY };
    // Waits (bounded) until the mock has had `times` check-ins.
    bool checkinsGet(size_t times)
    {
        for (int i = 0; i < 6000; ++i) {
            if (mock.requestsTo(CheckinPath).size() >= times)
                return true;
            Sleep(10);
        }
        return false;
    }

    // Waits (bounded) until a successful check-in has been saved: the update worker then waits.
    static bool checkinSaved()
    {
        for (int i = 0; i < 6000; ++i) {
            if (fileExists(AppdataPath + L"settings.params") && document(L"settings.params").find("\"LastLoginRequestInfo\"") != std::string::npos)
                return true;
            Sleep(10);
        }
        return false;
    }

    // Sends the stop control on a thread of its own, with handles of its own (the control manager
    // answers one call at a time on a handle): join it once the stop is seen to have ended.
    static std::thread sendStopInBackground()
    {
        return std::thread([] {
            ScHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
            ScHandle service(OpenServiceW(manager.get(), L"Nimbal", SERVICE_STOP));
            SERVICE_STATUS status {};
            ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
        });
    }

    static constexpr const char* CheckinPath = "/v3/client/checkin";

    const std::wstring program;
    MockApi mock;
};
