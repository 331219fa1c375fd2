#pragma once
// Server ids come from local clients and become both a file name in the configuration folder and
// a word of the daemon's command line, so only a plain file name is accepted.

#include <string>

// Letters and digits of ASCII, "-", "_" and ".", not beginning with "."; the empty id (the
// "default" configuration) is accepted too.
bool isValidServerId(const std::wstring& serverId);
