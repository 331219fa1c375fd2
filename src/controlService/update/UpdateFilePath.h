#pragma once
// Where a downloaded installer is put: a fresh random folder of the temporary folder.

#include <string>

// The text after the last "/" of the URL, undecoded; the whole URL when it has none.
std::wstring fileNameFromUrl(const std::wstring& url);

// TempPath + random hexadecimal folder + "\" + name, where nothing exists yet under that path.
std::wstring uniqueTempFileName(const std::wstring& name);

// uniqueTempFileName of the URL's file name with ".exe" appended.
std::wstring makeUpdateFilePath(const std::wstring& url);
