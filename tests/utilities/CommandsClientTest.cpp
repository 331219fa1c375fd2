#include "CommandsClient.h"
#include "LogFileFixture.h"
#include "PipeBytes.h"
#include "StringHelpers.h"

#include <future>
#include <thread>

namespace {

// One server instance of the pipe, made as the service makes its own.
FileHandle createInstance(const std::wstring& name, DWORD maxInstances = PIPE_UNLIMITED_INSTANCES)
{
    return FileHandle(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_DUPLEX,
                                       PIPE_TYPE_MESSAGE | PIPE_READMODE_BYTE | PIPE_WAIT, maxInstances, 1024, 1024,
                                       0, nullptr));
}

// Completes the server side of a connection; the client may have come first.
bool acceptClient(HANDLE instance)
{
    return ConnectNamedPipe(instance, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED;
}

} // namespace

class CommandsClientTest : public LogFileFixture {
protected:
    void SetUp() override
    {
        LogFileFixture::SetUp();
        Logger::instance().setLoggingEnabled(true);
    }

    std::vector<std::string> linesAfterEnabling()
    {
        std::vector<std::string> lines = logLines();
        lines.erase(lines.begin());
        return lines;
    }

    const std::wstring name = uniquePipeName(L"commands");
    const std::string narrowName = toNarrowString(name);
};

TEST_F(CommandsClientTest, ConnectsAtConstructionAndCarriesFramesBothWays)
{
    FileHandle instance = createInstance(name);
    ASSERT_TRUE(instance.valid());

    CommandsClient client(name);
    ASSERT_NE(client.pipe(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(acceptClient(instance.get()));
    EXPECT_EQ(client.pipeName(), name);
    EXPECT_EQ(client.buffer().capacity(), 1024u);

    client.buffer().startMessage();
    client.buffer().appendByte(15);
    ASSERT_TRUE(client.buffer().send(client.pipe()));

    PipeMessage server;
    ASSERT_TRUE(server.readFrom(instance.get()));
    EXPECT_EQ(server.readByte(), 15);
    EXPECT_EQ(server.remaining(), 0u);

    // A reply several times the pipe's buffer still arrives as one frame.
    const std::wstring longText(20000, L'v');
    server.startMessage();
    server.appendString(longText);
    std::thread replier([&] { EXPECT_TRUE(server.send(instance.get())); });
    ASSERT_TRUE(client.buffer().readFrom(client.pipe()));
    replier.join();
    std::wstring text;
    client.buffer().readString(text);
    EXPECT_EQ(text, longText);

    EXPECT_EQ(linesAfterEnabling(), (std::vector<std::string> { "[INFO]: \t Connecting to:  " + narrowName + " ",
                                                                "[INFO]: \t Client connected:  true " }));
}

TEST_F(CommandsClientTest, ConnectingAgainOpensNothing)
{
    FileHandle instance = createInstance(name);
    CommandsClient client(name);
    const HANDLE first = client.pipe();
    ASSERT_NE(first, INVALID_HANDLE_VALUE);

    EXPECT_TRUE(client.connect());
    EXPECT_EQ(client.pipe(), first);
    EXPECT_EQ(linesAfterEnabling(), (std::vector<std::string> { "[INFO]: \t Connecting to:  " + narrowName + " ",
                                                                "[INFO]: \t Client connected:  true ",
                                                                "[INFO]: \t Client connected:  true " }));
}

TEST_F(CommandsClientTest, WithoutAServerItFailsAndCanConnectLater)
{
    CommandsClient client(name);
    EXPECT_EQ(client.pipe(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(client.connect());
    EXPECT_FALSE(client.buffer().send(client.pipe()));

    FileHandle instance = createInstance(name);
    EXPECT_TRUE(client.connect());
    EXPECT_TRUE(acceptClient(instance.get()));

    EXPECT_EQ(linesAfterEnabling(), (std::vector<std::string> { "[INFO]: \t Connecting to:  " + narrowName + " ",
                                                                "[INFO]: \t Client connected:  false ",
                                                                "[INFO]: \t Connecting to:  " + narrowName + " ",
                                                                "[INFO]: \t Client connected:  false ",
                                                                "[INFO]: \t Connecting to:  " + narrowName + " ",
                                                                "[INFO]: \t Client connected:  true " }));
}

TEST_F(CommandsClientTest, WaitsWhileTheOnlyInstanceIsBusy)
{
    FileHandle instance = createInstance(name, 1);
    auto first = std::make_unique<CommandsClient>(name);
    ASSERT_NE(first->pipe(), INVALID_HANDLE_VALUE);
    ASSERT_TRUE(acceptClient(instance.get()));

    std::future<bool> second = std::async(std::launch::async, [this] {
        CommandsClient client(name);
        return client.pipe() != INVALID_HANDLE_VALUE;
    });
    // Give the second client time to find the instance busy before it comes free.
    Sleep(500);
    DisconnectNamedPipe(instance.get());
    first.reset();
    std::future<bool> accepted = std::async(std::launch::async, [&] { return acceptClient(instance.get()); });
    const bool secondConnected = second.get();
    if (!secondConnected) // the accept would wait for it for ever
        FileHandle(CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(secondConnected);
    EXPECT_TRUE(accepted.get());
}

TEST_F(CommandsClientTest, GivesUpWhenABusyInstanceNeverComesFree)
{
    FileHandle instance = createInstance(name, 1);
    CommandsClient first(name);
    ASSERT_NE(first.pipe(), INVALID_HANDLE_VALUE);

    CommandsClient second(name);
    EXPECT_EQ(second.pipe(), INVALID_HANDLE_VALUE);
    EXPECT_EQ(linesAfterEnabling().back(), "[INFO]: \t Client connected:  false ");
}

TEST_F(CommandsClientTest, DestroyingTheClientClosesItsEnd)
{
    FileHandle instance = createInstance(name);
    auto client = std::make_unique<CommandsClient>(name);
    ASSERT_TRUE(acceptClient(instance.get()));
    client.reset();

    PipeMessage server;
    EXPECT_FALSE(server.readFrom(instance.get()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BROKEN_PIPE));
}
