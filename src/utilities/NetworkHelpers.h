#pragma once
// Local TCP port probe. Windows Sockets must have been started (WSAStartup) by the caller.

#include <string>

// True when a TCP socket can be bound to the host's address and the port. The probe neither
// listens nor connects, so a port that another program bound without exclusivity can count as free.
// A port outside 1 to 65535 is never available.
bool checkPort(const std::string& host, int port);
