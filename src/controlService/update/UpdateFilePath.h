#pragma once
// Where a downloaded installer is put: a new folder of the temporary folder, named at random,
// in which only SYSTEM and Administrators can create, change or delete anything. Every local user
// can write to the temporary folder, and the installer is started as LocalSystem.

#include <cstdint>
#include <functional>
#include <string>

// The text after the last "/" of the URL, undecoded; the whole URL when it has none.
std::wstring fileNameFromUrl(const std::wstring& url);

// Gives a random 32-bit value; false when there is none.
using RandomSource = std::function<bool(std::uint32_t&)>;
// The system's cryptographic generator: no other user can foretell the folder's name.
bool systemRandom(std::uint32_t& value);

// Makes the folder TempPath + a random value in lower-case hexadecimal and returns that folder +
// "\" + name. A name that is taken (by anything) is never used: another value is drawn, a few
// times at most. Empty, with the reason logged, when no folder could be made.
std::wstring uniqueTempFileName(const std::wstring& name, const RandomSource& random = systemRandom);

// uniqueTempFileName of the URL's file name with ".exe" appended.
std::wstring makeUpdateFilePath(const std::wstring& url);
