#pragma once
// Server ids come from local clients and become both a file name in the configuration folder and
// a word of the daemon's command line, so only a plain file name is accepted.

#include <cstddef>
#include <string>

// Keeps the configuration's path (the folder, the id and ".ovpn") well within MAX_PATH.
constexpr std::size_t MaxServerIdLength = 128;

// Letters and digits of ASCII, "-", "_" and ".", not beginning with ".", at most
// MaxServerIdLength characters, and not a DOS device name (CON, PRN, AUX, NUL, COM0 to COM9,
// LPT0 to LPT9, with or without an extension); the empty id (the "default" configuration) is
// accepted too.
bool isValidServerId(const std::wstring& serverId);
