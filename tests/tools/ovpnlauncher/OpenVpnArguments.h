#pragma once
// The daemon's command line turned into openvpn's on Linux.

#include <string>
#include <vector>

// openvpn's arguments for `daemonArguments` (those after the program name): every Windows path
// becomes its Linux path, and the management interface is bound to 127.0.0.1, the address the
// service connects to, where "localhost" could name ::1 first on Linux. Other arguments pass
// unchanged. Throws std::runtime_error for a path that Wine cannot map.
std::vector<std::wstring> openVpnArguments(const std::vector<std::wstring>& daemonArguments);

// The value after `option`, or empty.
std::wstring optionValue(const std::vector<std::wstring>& arguments, const std::wstring& option);
