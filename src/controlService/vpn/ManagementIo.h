#pragma once
// The daemon's management conversation on a connected socket: 8-bit text, commands ending in CR LF.

#include <winsock2.h>

#include <string>
#include <vector>

// One send of command + CR LF; false (and a log line) unless all of it went.
bool sendCommand(SOCKET socket, const std::string& command);

// One receive of at most 1024 bytes, up to its first NUL; empty when the connection ended or failed.
std::string receiveRaw(SOCKET socket);

// What arrives within 666 ms, one receive's worth; empty (and an error line) when nothing did.
// Text that comes later stays unread: every caller closes the connection after an empty reply,
// so it never passes for the answer to a later command.
std::string readReply(SOCKET socket);

// The pieces between commas, the empty ones dropped; a final piece keeps its line ends.
std::vector<std::string> splitByComma(const std::string& text);
