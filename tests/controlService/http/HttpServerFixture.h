#pragma once
// A control server on a loopback port of the test program's own, served on a thread of the test,
// with a fake service behind it, an empty general settings section and the log read back.

#include "FakeConfigSectionManager.h"
#include "HttpTestPort.h"

#include "SettingsStoreFixture.h"

#include "LoopbackHttp.h"
#include "http/LocalHttpServer.h"
#include "settings/ConfigManager.h"

#include <memory>
#include <thread>

// The text of an [ERROR] line of the log: each part followed by a blank.
inline std::string errorLine(const std::vector<std::string>& parts)
{
    std::string line = "[ERROR]:\t ";
    for (const std::string& part : parts)
        line += part + " ";
    return line;
}

inline std::string infoLine(const std::vector<std::string>& parts)
{
    std::string line = "[INFO]: \t ";
    for (const std::string& part : parts)
        line += part + " ";
    return line;
}

// The server's request queue, for tests that break it under the running loop.
struct LocalHttpServerTestPeer {
    static HANDLE queue(LocalHttpServer& server)
    {
        std::lock_guard<std::mutex> lock(server.mutex);
        return server.requestQueue.get();
    }
};

class HttpServerFixture : public SettingsStoreFixture {
protected:
    static constexpr const char* WaitingLine = "Waiting for HTTP request";

    void SetUp() override
    {
        SettingsStoreFixture::SetUp();
        clearSettings();
        ASSERT_TRUE(server->start(port));
        runLoop();
    }

    void TearDown() override
    {
        stopServer();
        clearSettings();
        SettingsStoreFixture::TearDown();
    }

    // Returns once the loop waits for its first request.
    void runLoop()
    {
        const size_t waits = countLines(WaitingLine);
        loop = std::thread([this] { server->processRequests(); });
        waitForLoopPast(waits);
    }

    // Bounded: a loop that never gets there fails the test's own checks.
    void waitForLoopPast(size_t waits) const
    {
        for (int i = 0; i < 600 && countLines(WaitingLine) <= waits; ++i)
            Sleep(50);
    }

    // The client's connection goes first: a new server is reached on a new one.
    void stopServer()
    {
        client.reset();
        if (server)
            server->stop();
        if (loop.joinable())
            loop.join();
    }

    LoopbackConnection& connection()
    {
        if (!client)
            client = std::make_unique<LoopbackConnection>(port);
        return *client;
    }

    // The tests' process never loads or saves the general document: it stays in memory only.
    static void clearSettings() { mainSettings().putChild(L"", ConfigSection::Tree()); }

    // One request, returned once the loop waits for the next: what a handler logs after its reply is in.
    HttpReply send(const std::string& method, const std::string& target, const std::string& body = std::string(),
                   const std::string& headers = std::string())
    {
        const size_t waits = countLines(WaitingLine);
        HttpReply reply = connection().request(method, target, body, headers);
        waitForLoopPast(waits);
        return reply;
    }

    HttpReply post(const std::string& path, const std::string& body = std::string(),
                   const std::string& headers = std::string())
    {
        return send("POST", "/" + path, body, headers);
    }

    // Bounded: false when `line` is not logged within a minute.
    bool waitForLine(const std::string& line) const
    {
        for (int i = 0; i < 1200 && countLines(line) == 0; ++i)
            Sleep(50);
        return countLines(line) != 0;
    }

    size_t countLinesStartingWith(const std::string& prefix) const
    {
        size_t count = 0;
        for (const std::string& line : rawLogLines())
            count += line.compare(0, prefix.size(), prefix) == 0;
        return count;
    }

    const unsigned short port = httpTestPort();
    FakeConfigSectionManager manager;
    std::unique_ptr<LocalHttpServer> server = std::make_unique<LocalHttpServer>(&manager);
    std::thread loop;
    std::unique_ptr<LoopbackConnection> client;
};
