#pragma once

#include <string>

// Where the calling thread's log upload puts the routing table: one file per thread, so that two
// uploads at once do not share one.
std::wstring routingTablePath();
