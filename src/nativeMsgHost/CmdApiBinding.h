#pragma once
// The four exports of the command API library that the host calls, bound at run time.

#include <optional>

struct CmdApi {
    using BoolQuery = bool (*)();
    using IntQuery = int (*)();

    BoolQuery isServiceInstalled;
    BoolQuery isServiceRunning;
    BoolQuery tryToStartService;
    IntQuery getVpnState;
};

// Loads "NimbalCmdApi" by name; none unless all four functions are there.
std::optional<CmdApi> bindCmdApi();
