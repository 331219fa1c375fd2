#pragma once
// A fresh folder below the temporary folder, removed with everything in it at the end.

#include <string>
#include <vector>

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    // Ends in a backslash.
    const std::wstring& path() const { return path_; }
    std::wstring file(const std::wstring& name) const { return path_ + name; }

private:
    std::wstring path_;
};

std::string readWholeFile(const std::wstring& path);
void writeWholeFile(const std::wstring& path, const std::string& bytes);
bool fileExists(const std::wstring& path);
// Removes the folder (its path ends in a backslash) with everything in it.
void removeTree(const std::wstring& folder);
// The names of what the folder (its path ends in a backslash) holds, "." and ".." left out.
std::vector<std::wstring> namesIn(const std::wstring& folder);
