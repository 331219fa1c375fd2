#pragma once
// A settings store in a folder of the test's own, with the log of the test read back as text.

#include "LogLines.h"
#include "SettingsLogFixture.h"

#include "StringCipher.h"
#include "TempFolder.h"

#include <windows.h>

#include <algorithm>

class SettingsStoreFixture : public SettingsLogFixture {
protected:
    std::wstring document(const std::wstring& name) const { return store.file(name); }
    std::string narrowDocument(const std::wstring& name) const
    {
        const std::wstring path = document(name);
        return std::string(path.begin(), path.end());
    }

    // The document's JSON text as the store wrote it.
    std::string decryptedDocument(const std::wstring& name) const
    {
        return decryptString(readWholeFile(document(name)));
    }

    std::vector<std::wstring> filesInStore() const
    {
        std::vector<std::wstring> names = namesIn(store.path());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The log's lines; lines that go on a logged document's text have no timestamp of their own.
    std::vector<std::string> rawLogLines() const
    {
        std::vector<std::string> lines = rawLines();
        for (std::string& line : lines)
            if (line.size() > 21 && line.compare(19, 2, ":\t") == 0)
                line.erase(0, 21);
        return lines;
    }

    size_t countLines(const std::string& line) const
    {
        const auto lines = rawLogLines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
    }

    // True when `expected` occur in the log in this order (other lines may come between).
    bool logHasInOrder(const std::vector<std::string>& expected) const { return linesInOrder(rawLogLines(), expected); }

    TempFolder store;
};
