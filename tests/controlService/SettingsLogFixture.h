#pragma once
// A log file of the test's own with logging switched on, read back without the enabling line.

#include "LogFileFixture.h"

class SettingsLogFixture : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        Logger::instance().setLoggingEnabled(true);
    }

    // The lines written since SetUp.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> all = logLines();
        if (!all.empty() && all.front() == "Enabled logging...")
            all.erase(all.begin());
        return all;
    }
};
