#pragma once
// One settings document in memory: a tree of text values addressed by dotted paths, shared by
// every thread of the service under a reader/writer lock.

#include "SrwLock.h"

#include <boost/property_tree/ptree.hpp>

#include <functional>
#include <string>
#include <vector>

class ConfigSection {
public:
    using Tree = boost::property_tree::wptree;
    // A child as the listing sees it: its key and its subtree.
    using ChildFilter = std::function<bool(const std::wstring& key, const Tree& child)>;

    explicit ConfigSection(const std::wstring& path);
    ConfigSection(const ConfigSection&) = delete;
    ConfigSection& operator=(const ConfigSection&) = delete;

    // Reads never fail: a missing or unconvertible value is logged and read as 0, false or "".
    // Defined for std::wstring, int, long and bool.
    template <typename T>
    T getValue(const std::wstring& path) const;

    // The service's own writes. They create the missing nodes along the path; what a client left
    // in their way gives way, with an [ERROR] line: a value held by a node of the path, or the
    // children of the node written. A path with an empty component (the empty path included)
    // raises std::invalid_argument.
    void setValue(const std::wstring& path, const std::wstring& value);
    void setValue(const std::wstring& path, const wchar_t* value);
    void setValue(const std::wstring& path, int value);
    void setValue(const std::wstring& path, bool value);
    // A write by a name a client chose. Refused (false, nothing changed) when a value there could
    // not be written as JSON: a name with an empty component ("", "a..b", "a."), a folder (a node
    // with children), or a name below a node that holds a value. An emptied folder holds no value
    // and takes new children.
    bool trySetValue(const std::wstring& path, const std::wstring& value);

    // True for any node at the path, also one with an empty value or one with only children.
    bool hasValue(const std::wstring& path) const;
    void removeValue(const std::wstring& path);
    // Removes the node and its subtree; a missing path is ignored. The caller holds `mutex` exclusively.
    void eraseNode(const std::wstring& path);
    // Replaces the node at the path by a copy of `subtree`, which becomes its parent's last child.
    void putChild(const std::wstring& path, const Tree& subtree);

    std::vector<std::wstring> listChildren(const std::wstring& path, const ChildFilter& filter) const;
    std::vector<std::wstring> listSettings(const std::wstring& path) const;
    std::vector<std::wstring> listFolders(const std::wstring& path) const;

    // Replaces the whole tree; false (tree unchanged) when the text is not JSON. An empty text changes nothing.
    bool loadFromJson(const std::wstring& json);
    // Pretty-printed JSON with every leaf as a string; empty when the tree cannot be written as JSON.
    std::wstring toJson(bool skipHidden) const;

    // Reads the document at filePath (see SettingsDocument.cpp).
    void loadAndDecrypt();

    // Held exclusively by callers that erase several nodes as one change.
    mutable SrwLock mutex;
    const std::wstring filePath;

private:
    friend void saveToEncryptedFile(ConfigSection& section);

    template <typename T>
    void store(const std::wstring& path, const T& value);
    // True when a value at the path would stand beside children: a node of the path holds a
    // value, or the node at the path has children. With `clear`, those are dropped. The caller
    // holds `mutex` exclusively.
    bool obstructed(const std::wstring& path, bool clear);

    Tree tree;
    // Set when the document was missing and a backup was loaded in its place; the next good save
    // removes the backups it superseded. Loads and saves run under the manager's lock.
    bool loadedFromBackup = false;
};
