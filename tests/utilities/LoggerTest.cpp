#include "LogFileFixture.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

using Lines = std::vector<std::string>;

class LoggerTest : public LogFileFixture {};

TEST_F(LoggerTest, NothingIsWrittenWhileLoggingIsOff)
{
    Logger::instance().write("dropped");
    LOG_INFO << "dropped too";
    EXPECT_FALSE(fileExists(folder.file(L"test.log")));
}

TEST_F(LoggerTest, WriteJoinsPartsWithSingleBlanks)
{
    Logger::instance().setLoggingEnabled(true);
    Logger::instance().write("one");
    Logger::instance().write("WTSQueryUserToken failed for session id=", 7, "with error", std::string("5"));
    Logger::instance().write("text", -12);
    EXPECT_EQ(logLines(), (Lines { "Enabled logging...", "one",
                                   "WTSQueryUserToken failed for session id= 7 with error 5", "text -12" }));
}

TEST_F(LoggerTest, LineValuesEachEndInABlank)
{
    Logger::instance().setLoggingEnabled(true);
    LOG_INFO << "first" << 42;
    LOG_INFO << std::wstring(L"wide") << L"text" << std::runtime_error("boom");
    LOG_ERROR << "Error creating update event object";
    EXPECT_EQ(logLines(), (Lines { "Enabled logging...", "[INFO]: \t first 42 ", "[INFO]: \t wide text boom ",
                                   "[ERROR]:\t Error creating update event object " }));
}

TEST_F(LoggerTest, TimestampIsLocalTimeFollowedByColonTab)
{
    const std::string stamp = Logger::currentTimestamp();
    ASSERT_EQ(stamp.size(), 21u);
    EXPECT_EQ(stamp.substr(19), ":\t");
    SYSTEMTIME now;
    GetLocalTime(&now);
    EXPECT_EQ(std::stoi(stamp.substr(0, 4)), now.wYear);
}

TEST_F(LoggerTest, ErrorLineSwitchesLoggingOnAndLeavesItOn)
{
    LOG_INFO << "before";
    LOG_ERROR << "failure" << 5;
    LOG_INFO << "after";
    EXPECT_TRUE(Logger::instance().isLoggingEnabled());
    EXPECT_EQ(logLines(), (Lines { "Enabled logging...", "[ERROR]:\t failure 5 ", "[INFO]: \t after " }));
}

TEST_F(LoggerTest, EnableAndDisableMessages)
{
    Logger& logger = Logger::instance();
    logger.setLoggingEnabled(false); // already off: its complaint is dropped
    logger.setLoggingEnabled(true);
    logger.setLoggingEnabled(true);
    logger.setLoggingEnabled(false);
    LOG_INFO << "not written";
    EXPECT_FALSE(logger.isLoggingEnabled());
    EXPECT_EQ(logLines(), (Lines { "Enabled logging...",
                                   "Attempting to make logging enabled when it is already enabled",
                                   "Disabling logging..." }));
}

TEST_F(LoggerTest, EnablingAppendsToAnExistingFile)
{
    writeWholeFile(folder.file(L"test.log"), "2020-01-01 00:00:00:\told line\r\n");
    Logger::instance().setLoggingEnabled(true);
    EXPECT_EQ(logLines(), (Lines { "old line", "Enabled logging..." }));
}

TEST_F(LoggerTest, AFileThatCannotBeOpenedLeavesLoggingOff)
{
    Logger::instance().fileName = folder.file(L"missing-folder\\test.log");
    Logger::instance().setLoggingEnabled(true);
    EXPECT_FALSE(Logger::instance().isLoggingEnabled());
}

TEST_F(LoggerTest, LinesFromManyThreadsNeverInterleave)
{
    Logger::instance().setLoggingEnabled(true);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                LOG_INFO << "thread" << t << "line" << i << std::string(50, 'x');
        });
    for (auto& thread : threads)
        thread.join();
    const Lines lines = logLines();
    ASSERT_EQ(lines.size(), 1u + 8 * 200);
    const std::regex whole("^\\[INFO\\]: \\t thread \\d line \\d+ x{50} $");
    for (size_t i = 1; i < lines.size(); ++i)
        ASSERT_TRUE(std::regex_match(lines[i], whole)) << lines[i];
}

TEST_F(LoggerTest, ErrorLinesOfManyThreadsAtOnceSwitchLoggingOnOnce)
{
    // Logging off, then several threads make their first [ERROR] line at the same moment: one of
    // them opens the file, and every line of every thread is written, also those that follow.
    constexpr int Rounds = 100;
    constexpr int Threads = 8;
    for (int round = 0; round < Rounds; ++round) {
        closeLog();
        std::atomic<int> ready { 0 };
        std::vector<std::thread> threads;
        for (int t = 0; t < Threads; ++t)
            threads.emplace_back([&ready, t] {
                ++ready;
                while (ready < Threads) {
                }
                LOG_ERROR << "error of thread" << t;
            });
        for (auto& thread : threads)
            thread.join();
        LOG_INFO << "after round" << round;
    }

    const Lines lines = logLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Enabled logging..."), Rounds);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Attempting to make logging enabled when it is already enabled"), 0);
    for (int round = 0; round < Rounds; ++round)
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "[INFO]: \t after round " + std::to_string(round) + " "), 1)
            << round;
    for (int t = 0; t < Threads; ++t)
        EXPECT_EQ(std::count(lines.begin(), lines.end(), "[ERROR]:\t error of thread " + std::to_string(t) + " "), Rounds)
            << t;
}

// Truncation of the service's log at start.
class LogTruncationTest : public LogFileFixture {
protected:
    // A file of exactly `size` bytes made of CR LF-ended lines "line N".
    std::string makeLog(size_t size)
    {
        std::string text;
        for (int n = 0; text.size() < size; ++n)
            text += "2020-01-01 00:00:00:\tline " + std::to_string(n) + "\r\n";
        text.resize(size);
        writeWholeFile(folder.file(L"test.log"), text);
        return text;
    }
};

TEST_F(LogTruncationTest, FileOfExactlyTheLimitIsLeftAlone)
{
    const std::string original = makeLog(1048576);
    Logger::instance().truncateLogIfNeeded();
    EXPECT_EQ(logText(), original);
}

TEST_F(LogTruncationTest, FileOneByteOverIsCutToItsLastCompleteLines)
{
    const std::string original = makeLog(1048577);
    Logger::instance().truncateLogIfNeeded();

    // Expected: "...truncated..." on a line of its own, then the whole lines of the last
    // megabyte, each run of CR and LF shrunk to its first character.
    std::string tail = original.substr(1);
    tail = tail.substr(tail.find('\n') + 1);
    std::string collapsed;
    for (size_t i = 0; i < tail.size(); ++i) {
        if ((tail[i] == '\n') && i > 0 && tail[i - 1] == '\r')
            continue;
        collapsed += tail[i];
    }
    EXPECT_EQ(logText(), "...truncated...\r\n" + collapsed);
    EXPECT_EQ(logText().find("\r\n", 17), std::string::npos);
}

TEST_F(LogTruncationTest, EmptyLinesDisappearAndNewLinesEndInCrLf)
{
    std::string text(1048600, 'a');
    text.replace(100, 2, "\r\n");             // cut by the boundary at 24: dropped up to its LF
    text.replace(1000, 8, "\r\n\r\n\r\n\r\n"); // three empty lines
    text.replace(text.size() - 4, 4, "b\r\n\n");
    writeWholeFile(folder.file(L"test.log"), text);

    // Open while truncating: its first line joins the file (the cut still falls before the LF
    // at 101); the stream is closed for the rewrite and reopened after it.
    Logger::instance().setLoggingEnabled(true);
    Logger::instance().truncateLogIfNeeded();
    Logger::instance().write("later");

    const std::string expected = "...truncated...\r\n" + std::string(898, 'a') + "\r" +
                                 std::string(1048596 - 1008, 'a') + "b\r" +
                                 "STAMPEnabled logging...\r" + "STAMPlater\r\n";
    const std::string result =
        std::regex_replace(logText(), std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\t"), "STAMP");
    EXPECT_EQ(result.size(), expected.size());
    EXPECT_TRUE(result == expected);
    EXPECT_TRUE(Logger::instance().isLoggingEnabled());
}

TEST_F(LogTruncationTest, MissingFileIsNoFile)
{
    Logger::instance().truncateLogIfNeeded();
    EXPECT_FALSE(fileExists(folder.file(L"test.log")));
}

TEST_F(LogTruncationTest, TailWithoutAnyLineEndIsKeptWhole)
{
    writeWholeFile(folder.file(L"test.log"), std::string(1048577, 'z'));
    Logger::instance().truncateLogIfNeeded();
    EXPECT_EQ(logText(), "...truncated...\r\n" + std::string(1048576, 'z'));
}

TEST_F(LogTruncationTest, TailEndsAtTheFirstNulByte)
{
    std::string text = makeLog(1048700);
    text[text.size() - 100] = '\0';
    writeWholeFile(folder.file(L"test.log"), text);
    Logger::instance().truncateLogIfNeeded();
    const std::string result = logText();
    EXPECT_EQ(result.find('\0'), std::string::npos);
    EXPECT_LT(result.size(), 1048576u - 90);
}
