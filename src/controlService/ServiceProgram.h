#pragma once
// The service program's entry: one console action per switch, or the service object handed to
// the service control dispatcher.

#include "ServiceBase.h"

#include <cstdio>

void printUsage();

// True when the first argument is a switch: its action has run, or the usage text was printed.
bool runConsoleSwitch(int argc, wchar_t* argv[]);

// Runs the service until it stops; from a console this fails and says so.
void runServiceDispatcher(CServiceBase& service);

template <typename Service>
int serviceProgramMain(int argc, wchar_t* argv[])
{
    if (runConsoleSwitch(argc, argv))
        return 0;
    printUsage();
    fflush(stdout);
    Service service;
    runServiceDispatcher(service);
    return 0;
}
