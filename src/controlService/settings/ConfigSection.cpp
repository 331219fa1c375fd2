#include "ConfigSection.h"

#include "SettingPath.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <boost/property_tree/json_parser.hpp>

#include <mutex>
#include <shared_mutex>
#include <sstream>
#include <stdexcept>

namespace pt = boost::property_tree;

namespace {

pt::wpath treePath(const std::wstring& path)
{
    return pt::wpath(path, L'.');
}

const std::wstring HiddenBranch = L"Hidden";

// No node of a JSON document stands for an empty component, nor can the root hold a value.
bool hasEmptyComponent(const std::wstring& path)
{
    return path.empty() || !SettingPath(path).wellFormed();
}

} // namespace

ConfigSection::ConfigSection(const std::wstring& path)
    : filePath(path)
{
}

template <typename T>
T ConfigSection::getValue(const std::wstring& path) const
{
    try {
        std::shared_lock<SrwLock> lock(mutex);
        return tree.get_child(treePath(path)).get_value<T>();
    } catch (const pt::ptree_bad_path& error) {
        Logger::instance().write("ConfigSection::getValue: No path", toNarrowString(path), "in settings tree",
                                 error.what());
    } catch (const std::exception& error) {
        Logger::instance().write("ConfigSection::getValue: ", error.what());
    }
    return T();
}

template std::wstring ConfigSection::getValue<std::wstring>(const std::wstring&) const;
template int ConfigSection::getValue<int>(const std::wstring&) const;
template long ConfigSection::getValue<long>(const std::wstring&) const;
template bool ConfigSection::getValue<bool>(const std::wstring&) const;

bool ConfigSection::obstructed(const std::wstring& path, bool clear)
{
    // The walk of put: the first child of each key.
    bool found = false;
    pt::wpath remaining = treePath(path);
    Tree* node = &tree;
    while (!remaining.empty()) {
        const auto child = node->find(remaining.reduce());
        if (child == node->not_found())
            return found; // the rest of the path is made new
        node = &child->second;
        if (!remaining.empty() && !node->data().empty()) {
            found = true;
            if (clear)
                node->data().clear();
        }
    }
    if (!node->empty()) {
        found = true;
        if (clear)
            node->clear();
    }
    return found;
}

template <typename T>
void ConfigSection::store(const std::wstring& path, const T& value)
{
    if (hasEmptyComponent(path))
        throw std::invalid_argument("ConfigSection::setValue: a setting path has no empty component");
    std::unique_lock<SrwLock> lock(mutex);
    if (obstructed(path, true))
        LOG_ERROR << "ConfigSection::setValue dropped what a client had stored in the way of" << path;
    tree.put(treePath(path), value);
}

void ConfigSection::setValue(const std::wstring& path, const std::wstring& value)
{
    store(path, value);
}

void ConfigSection::setValue(const std::wstring& path, const wchar_t* value)
{
    store(path, std::wstring(value));
}

void ConfigSection::setValue(const std::wstring& path, int value)
{
    store(path, value);
}

void ConfigSection::setValue(const std::wstring& path, bool value)
{
    store(path, value);
}

bool ConfigSection::trySetValue(const std::wstring& path, const std::wstring& value)
{
    if (hasEmptyComponent(path))
        return false;
    std::unique_lock<SrwLock> lock(mutex);
    if (obstructed(path, false))
        return false;
    tree.put(treePath(path), value);
    return true;
}

bool ConfigSection::hasValue(const std::wstring& path) const
{
    std::shared_lock<SrwLock> lock(mutex);
    try {
        tree.get_child(treePath(path));
        return true;
    } catch (const pt::ptree_bad_path&) {
        return false;
    }
}

void ConfigSection::removeValue(const std::wstring& path)
{
    std::unique_lock<SrwLock> lock(mutex);
    eraseNode(path);
}

void ConfigSection::eraseNode(const std::wstring& path)
{
    // Follows the first child of each key; the root itself is never removed.
    pt::wpath remaining = treePath(path);
    Tree* current = &tree;
    Tree* parent = nullptr;
    Tree::iterator position;
    for (;;) {
        if (remaining.empty()) {
            if (parent != nullptr)
                parent->erase(position);
            return;
        }
        if (current->empty())
            return;
        const std::wstring key = remaining.reduce();
        Tree::iterator child = current->begin();
        while (child != current->end() && child->first != key)
            ++child;
        if (child == current->end())
            return;
        parent = current;
        position = child;
        current = &child->second;
    }
}

void ConfigSection::putChild(const std::wstring& path, const Tree& subtree)
{
    std::unique_lock<SrwLock> lock(mutex);
    if (path.empty()) {
        tree = subtree;
        return;
    }
    eraseNode(path);
    tree.put_child(treePath(path), subtree);
}

std::vector<std::wstring> ConfigSection::listChildren(const std::wstring& path, const ChildFilter& filter) const
{
    std::vector<std::wstring> keys;
    Tree node;
    {
        std::shared_lock<SrwLock> lock(mutex);
        const auto found = tree.get_child_optional(treePath(path));
        if (!found)
            return keys;
        node = *found;
    }
    // The filter is the caller's code: it runs on the copy, without the lock.
    for (const auto& child : node) {
        if (filter(child.first, child.second))
            keys.push_back(child.first);
    }
    return keys;
}

std::vector<std::wstring> ConfigSection::listSettings(const std::wstring& path) const
{
    return listChildren(path, [](const std::wstring&, const Tree& child) { return child.empty(); });
}

std::vector<std::wstring> ConfigSection::listFolders(const std::wstring& path) const
{
    return listChildren(path, [](const std::wstring&, const Tree& child) { return !child.empty(); });
}

bool ConfigSection::loadFromJson(const std::wstring& json)
{
    if (json.empty())
        return true;
    try {
        std::wistringstream text(json);
        Tree loaded;
        pt::read_json(text, loaded);
        std::unique_lock<SrwLock> lock(mutex);
        tree.swap(loaded);
        return true;
    } catch (const pt::json_parser_error& error) {
        Logger::instance().write("Error reading json/xml config: ", " on line: ", error.line());
        return false;
    }
}

std::wstring ConfigSection::toJson(bool skipHidden) const
{
    std::wostringstream text;
    try {
        std::shared_lock<SrwLock> lock(mutex);
        if (!skipHidden) {
            pt::write_json(text, tree);
        } else {
            Tree shown;
            for (const auto& child : tree) {
                if (child.first != HiddenBranch)
                    shown.push_back(child);
            }
            pt::write_json(text, shown);
        }
    } catch (const pt::json_parser_error& error) {
        Logger::instance().write("Error writing json/xml config: ", " on line: ", error.line());
    }
    return text.str();
}
