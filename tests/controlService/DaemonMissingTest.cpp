// The daemon controller run from a folder without the daemon.
#include "DaemonControllerFixture.h"

#include <gtest/gtest.h>

TEST_F(DaemonControllerFixture, MissingDaemonIsReportedAndNothingStarts)
{
    writeConfiguration(L"server", directives({}));
    controller->setManagementPort(28090);
    controller->startOVPN(L"server");
    EXPECT_TRUE(logged("[ERROR]:\t OpenVPN daemon executable not found: " + daemon_test::narrow(InstallPath)
                       + "OpenVPN\\openvelorn.exe \r\n"))
        << logText();
    EXPECT_FALSE(logged("Launched"));
    EXPECT_FALSE(controller->isDaemonAlive());
    EXPECT_FALSE(controller->isVpnConnected());
    EXPECT_TRUE(controller->stopOVPN());
}
