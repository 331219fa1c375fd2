// The local port probe that chooses the HTTP server's and the daemon's ports.
#include "NetworkHelpers.h"

#include "LogFileFixture.h"
#include "SocketHandle.h"

#include <ws2tcpip.h>

class CheckPortTest : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        WSADATA data {};
        ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
        Logger::instance().setLoggingEnabled(true);
    }
    void TearDown() override
    {
        WSACleanup();
        LogFileFixture::TearDown();
    }

    // A loopback socket bound to a port the system chose; listening when asked.
    static UniqueSocket boundSocket(bool listening, int& port)
    {
        UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int length = sizeof address;
        EXPECT_EQ(bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        if (listening) {
            EXPECT_EQ(listen(s.get(), 1), 0);
        }
        EXPECT_EQ(getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
        port = ntohs(address.sin_port);
        return s;
    }

    // The probe's own lines; each part is followed by a blank.
    std::vector<std::string> probeLines() const
    {
        std::vector<std::string> lines = logLines();
        lines.erase(lines.begin()); // "Enabled logging..."
        return lines;
    }
};

class BusyPort : public CheckPortTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(BusyPort, HeldByAListeningSocketIsBusy)
{
    int port = 0;
    const UniqueSocket holder = boundSocket(true, port);
    const std::string host = GetParam();
    EXPECT_FALSE(checkPort(host, port));
    EXPECT_EQ(probeLines(), (std::vector<std::string> {
                                "[INFO]: \t checkPort Port is busy " + host + " : " + std::to_string(port) + " " }));
}

// A name is resolved to its address first.
INSTANTIATE_TEST_SUITE_P(CheckPort, BusyPort, ::testing::Values("127.0.0.1", "localhost"));

TEST_F(CheckPortTest, FreePortIsAvailableAndStaysFree)
{
    int port = 0;
    boundSocket(false, port); // closed again at once: the port is free now
    EXPECT_TRUE(checkPort("127.0.0.1", port));
    // The probe let go of the port: it can be taken right after.
    EXPECT_TRUE(checkPort("127.0.0.1", port));
    const std::string line = "[INFO]: \t checkPort Port is available 127.0.0.1 : " + std::to_string(port) + " ";
    EXPECT_EQ(probeLines(), (std::vector<std::string> { line, line }));
}

// Ports that no TCP socket can have: each would be cut to 16 bits, and 0 binds to any free port.
TEST_F(CheckPortTest, APortOutsideOneTo65535IsNeverAvailable)
{
    int free = 0;
    boundSocket(false, free); // closed again at once: the port is free now
    for (const int port : { free + 65536, -65536 + free, 0, -1, 65536 }) {
        EXPECT_FALSE(checkPort("127.0.0.1", port)) << port;
    }
    const std::vector<std::string> lines = probeLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "[INFO]: \t checkPort no such port 127.0.0.1 : " + std::to_string(free + 65536) + " ");
}

TEST_F(CheckPortTest, UnresolvableNameIsNoSuchHost)
{
    // A name with an empty label is refused by the resolver before any query leaves the machine.
    EXPECT_FALSE(checkPort("no..such..host", 80));
    const std::vector<std::string> lines = probeLines();
    ASSERT_EQ(lines.size(), 1u);
    const std::regex expected("\\[INFO\\]: \\t checkPort Error  \\d+  no such host  no\\.\\.such\\.\\.host ");
    EXPECT_TRUE(std::regex_match(lines[0], expected)) << lines[0];
}

TEST_F(CheckPortTest, WithoutWindowsSocketsNoSocketOpens)
{
    WSACleanup();
    EXPECT_FALSE(checkPort("127.0.0.1", 80));
    WSADATA data {};
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    EXPECT_EQ(probeLines(), (std::vector<std::string> {
                                "[INFO]: \t checkPort Error  10093  opening socket to  127.0.0.1 : 80 " }));
}
