#pragma once
// Points the process's logger at a file of its own and puts it back to its first state afterwards.

#include "Logger.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

class LogFileFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        closeLog();
        Logger::instance().fileName = folder.file(L"test.log");
    }
    void TearDown() override
    {
        closeLog();
        Logger::instance().fileName = L"logfile.txt";
    }

    static void closeLog()
    {
        std::lock_guard<std::mutex> lock(Logger::instance().mutex);
        Logger::instance().stream.close();
    }

    std::string logText() const { return readWholeFile(folder.file(L"test.log")); }

    // The log's text cut at each CR LF, the last line also without one.
    std::vector<std::string> rawLines() const
    {
        std::vector<std::string> lines;
        const std::string text = logText();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos)
                end = text.size();
            lines.push_back(text.substr(start, end - start));
            start = end + 2;
        }
        return lines;
    }

    // The lines of the log with their timestamps checked and removed.
    std::vector<std::string> logLines() const
    {
        static const std::regex stamp("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\t");
        std::vector<std::string> lines;
        const std::string text = logText();
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            EXPECT_NE(end, std::string::npos) << "line without CR LF at " << start;
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            EXPECT_TRUE(std::regex_search(line, stamp)) << line;
            lines.push_back(std::regex_replace(line, stamp, ""));
            start = end + 2;
        }
        return lines;
    }

    TempFolder folder;
};
