// Serves the control URLs on a loopback port, with a fake service behind them, until standard input
// ends: for clients outside Wine. Prints "listening on <port>" once the URLs are registered, and
// at the end each call the service received as "call <operation>(<arguments>)".
#include "FakeConfigSectionManager.h"
#include "HttpTestPort.h"

#include "TempFolder.h"

#include "Logger.h"
#include "http/LocalHttpServer.h"

#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

namespace {

int serve()
{
    FakeConfigSectionManager manager;
    LocalHttpServer server(&manager);
    const unsigned short port = httpTestPort();
    if (!server.start(port)) {
        std::printf("cannot serve on %u\n", port);
        return 1;
    }
    std::thread loop([&server] { server.processRequests(); });
    std::printf("listening on %u\n", port);
    std::fflush(stdout);

    std::string line;
    while (std::getline(std::cin, line)) {
    }
    server.stop();
    loop.join();
    for (const std::string& call : manager.calls())
        std::printf("call %s\n", call.c_str());
    std::fflush(stdout);
    return 0;
}

} // namespace

int main()
{
    TempFolder logFolder;
    Logger::instance().fileName = logFolder.file(L"serve.log");
    const int result = serve();
    std::lock_guard<std::mutex> lock(Logger::instance().mutex);
    Logger::instance().stream.close();
    return result;
}
