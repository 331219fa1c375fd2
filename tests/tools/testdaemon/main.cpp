// The test daemon: stands where the service expects its VPN daemon (OpenVPN\openvelorn.exe),
// takes the command line the service gives OpenVPN, and offers a management interface on
// 127.0.0.1 whose answers each test chooses through its configuration file (Behaviour.h).
// Everything it sees is recorded in its working folder (Journal.h).

#include "Behaviour.h"
#include "CommandLine.h"
#include "DaemonOptions.h"
#include "Journal.h"
#include "ManagementServer.h"
#include "StringHelpers.h"
#include "Winsock.h"

#include <windows.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

std::string readConfiguration(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    if (!file)
        throw std::runtime_error("Options error: In [CMD-LINE]:1: Error opening configuration file: "
                                 + toNarrowString(path));
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

int runDaemon(const DaemonOptions& options, const Journal& journal)
{
    if (!options.error.empty())
        throw std::runtime_error(options.error);
    const Behaviour behaviour = parseBehaviour(readConfiguration(options.configFile));
    if (options.managementHost != L"localhost" && options.managementHost != L"127.0.0.1")
        throw std::runtime_error("management host must be localhost or 127.0.0.1: "
                                 + toNarrowString(options.managementHost));
    WinsockSession sockets;
    if (!sockets.started())
        throw std::runtime_error("WSAStartup failed");
    return ManagementServer(behaviour, options.managementPort, journal).run();
}

} // namespace

int wmain()
{
    const DaemonOptions options = parseDaemonOptions(processArguments());
    // The record belongs in the working folder; when that cannot be entered it stays where we are.
    const bool inFolder = options.folder.empty() || SetCurrentDirectoryW(options.folder.c_str());
    const Journal journal(RecordFileName, options.logFile);
    journal.note("start: " + toNarrowString(GetCommandLineW()));
    try {
        if (!inFolder)
            throw std::runtime_error("cannot change to --cd folder: " + toNarrowString(options.folder));
        return runDaemon(options, journal);
    } catch (const std::exception& e) {
        journal.note(std::string("error: ") + e.what());
        return 1;
    }
}
