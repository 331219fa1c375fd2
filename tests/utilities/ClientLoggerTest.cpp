// The library's and the host's logger: it can be switched on, never off.
#include "LogFileFixture.h"

using Lines = std::vector<std::string>;

class ClientLoggerTest : public LogFileFixture {};

TEST_F(ClientLoggerTest, StartsInTheCurrentFolderAndOff)
{
    EXPECT_EQ(Logger::instance().getFileName(), folder.file(L"test.log"));
    TearDown();
    EXPECT_EQ(Logger::instance().getFileName(), L"logfile.txt");
    SetUp();
}

TEST_F(ClientLoggerTest, OnlyTheEnablingHalfExists)
{
    LOG_INFO << "dropped";
    LOG_ERROR << "OpenService failed w/err " << 1060;
    Logger::instance().setLoggingEnabled(false);
    LOG_INFO << "still written";
    Logger::instance().setLoggingEnabled(true);
    EXPECT_TRUE(Logger::instance().isLoggingEnabled());
    EXPECT_EQ(logLines(), (Lines { "Enabled logging...", "[ERROR]:\t OpenService failed w/err  1060 ",
                                   "[INFO]: \t still written ",
                                   "Attempting to make logging enabled when it is already enabled" }));
}
