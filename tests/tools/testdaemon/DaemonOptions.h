#pragma once
// The part of OpenVPN's command line that the service gives its daemon.

#include <string>
#include <vector>

struct DaemonOptions {
    std::wstring folder;          // --cd: working folder, where the other files are
    std::wstring configFile;      // --config
    std::wstring logFile;         // --log-append
    int verbosity = 1;            // --verb
    std::wstring managementHost;  // --management HOST PORT
    unsigned short managementPort = 0;
    std::string error;            // the first fault found, in OpenVPN's words; empty when none
};

// Reads the options after the program name. As much as could be read is filled in even when
// `error` is set, so that the fault can be reported in the right folder.
DaemonOptions parseDaemonOptions(const std::vector<std::wstring>& arguments);
