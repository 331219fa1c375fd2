#pragma once
// The daemon's configuration folder below AppdataPath, as the connect reply writes it: files that a
// test names are put back (or removed) afterwards, and the folder too if the test made it.

#include "settings/GlobalPaths.h"

#include "TempFolder.h"

#include <windows.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

class OvpnConfigFolder {
public:
    explicit OvpnConfigFolder(const std::vector<std::wstring>& names)
        : existed(fileExists(folder()))
    {
        for (const std::wstring& name : names)
            saved[name] = fileExists(file(name)) ? std::optional<std::string>(readWholeFile(file(name))) : std::nullopt;
    }
    ~OvpnConfigFolder()
    {
        for (const auto& [name, content] : saved) {
            if (content)
                writeWholeFile(file(name), *content);
            else
                DeleteFileW(file(name).c_str());
        }
        if (!existed)
            RemoveDirectoryW(folder().c_str());
    }
    OvpnConfigFolder(const OvpnConfigFolder&) = delete;
    OvpnConfigFolder& operator=(const OvpnConfigFolder&) = delete;

    static std::wstring folder() { return AppdataPath + L"ovpn_config"; }
    static std::wstring file(const std::wstring& name) { return folder() + L"\\" + name; }

    // Starts the test without the folder's files that it names, and without the folder if it made it.
    void clear() const
    {
        for (const auto& entry : saved)
            DeleteFileW(file(entry.first).c_str());
        if (!existed)
            RemoveDirectoryW(folder().c_str());
    }

private:
    const bool existed;
    std::map<std::wstring, std::optional<std::string>> saved;
};
