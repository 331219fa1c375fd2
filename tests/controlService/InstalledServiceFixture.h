#pragma once
// The service installed into the test prefix and started by the control manager, over a settings
// folder cleared first, with logging switched on in its general document; removed at the end.

#include "LogLines.h"
#include "ServiceFixture.h"

#include "settings/GlobalPaths.h"

#include "StringCipher.h"
#include "TempFolder.h"

#include <algorithm>
#include <string>
#include <vector>

class InstalledService : public ::testing::Test {
protected:
    explicit InstalledService(std::wstring program = serviceExe()) : program(std::move(program)) {}

    void SetUp() override
    {
        removeService();
        ASSERT_FALSE(readService().installed);
        clearSettingsFolder();
        writeWholeFile(AppdataPath + L"settings.params", encryptString("{\"Internal\":{\"LoggingEnabled\":\"true\"}}"));
        const std::string output = runServiceProgramAt(program, L"-install");
        ASSERT_NE(output.find("Nimbal is started."), std::string::npos) << output;
    }
    void TearDown() override { removeService(); }

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

    const std::wstring program;
};
