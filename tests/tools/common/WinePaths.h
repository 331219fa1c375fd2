#pragma once
// Windows paths as the Linux side of Wine names them.

#include <optional>
#include <string>

// A path with a drive letter, such as C:\ProgramData or Z:\tmp.
bool isWindowsAbsolutePath(const std::wstring& path);

// The Linux path of `windowsPath` by Wine's own drive mapping (as `winepath -u` gives it), or
// nothing when Wine cannot map it (not running under Wine, or its folder does not exist).
std::optional<std::wstring> linuxPathOf(const std::wstring& windowsPath);
