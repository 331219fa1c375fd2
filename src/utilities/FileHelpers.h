#pragma once
// File size, file tails for uploads and the log's truncation, and opening a file to everyone.

#include <windows.h>

#include <cstdint>
#include <string>

// Size in bytes, or -1 when the file cannot be opened.
std::int64_t getFileSize(const std::wstring& path);

// The last `maximum` bytes of the file, each byte one character, ending at the first NUL among them.
// A file that cannot be read gives "...reading \"<path>\" failed..." in place of its text.
std::wstring readFileTail(std::int64_t maximum, const std::wstring& path);
// The same as raw bytes, for narrow text; the failure text is narrowed.
std::string readFileTailBytes(std::int64_t maximum, const std::wstring& path);

// Lets Everyone read and execute a file or folder (not change it), keeping its other and inherited entries.
// True when the path could be opened, whatever the grant did.
bool grantEveryoneAccess(const std::wstring& path);
// The same for a handle opened with READ_CONTROL and WRITE_DAC; failures are silent.
void grantEveryoneAccessToHandle(HANDLE handle);
