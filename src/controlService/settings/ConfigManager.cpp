#include "ConfigManager.h"

#include "GlobalPaths.h"
#include "SettingsDocument.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <windows.h>

namespace {

const wchar_t GeneralFileName[] = L"settings.params";
const wchar_t UserFilePrefix[] = L"user.";
const wchar_t UserFileSuffix[] = L".params";
const wchar_t SidPrefix[] = L"S-1-";

// A user who stored nothing needs no document: a SID that a client merely named leaves no file
// behind. A document that exists is written also when emptied, or what was removed would return.
void saveUserSection(ConfigSection& section)
{
    const bool holdsNothing =
        section.listChildren(L"", [](const std::wstring&, const ConfigSection::Tree&) { return true; }).empty();
    if (holdsNothing && GetFileAttributesW(section.filePath.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Logger::instance().write("Nothing stored, no document written:", toNarrowString(section.filePath));
        return;
    }
    saveToEncryptedFile(section);
}

} // namespace

bool isWellFormedSid(const std::wstring& sid)
{
    const std::wstring prefix = SidPrefix;
    if (sid.compare(0, prefix.size(), prefix) != 0 || sid.size() == prefix.size())
        return false;
    bool componentHasDigit = false;
    for (size_t i = prefix.size(); i < sid.size(); ++i) {
        if (sid[i] >= L'0' && sid[i] <= L'9') {
            componentHasDigit = true;
        } else if (sid[i] == L'-' && componentHasDigit) {
            componentHasDigit = false;
        } else {
            return false;
        }
    }
    return componentHasDigit;
}

ConfigManager::ConfigManager(const std::wstring& folder)
    : folder(folder)
    , general(folder + GeneralFileName)
{
}

ConfigManager& ConfigManager::instance()
{
    static ConfigManager manager(AppdataPath);
    return manager;
}

ConfigSection& mainSettings()
{
    return ConfigManager::instance().generalSection();
}

ConfigSection* ConfigManager::getConfigUser(const std::wstring& sid)
{
    // The SID becomes part of a log line and of a file name: nothing but a SID may reach them.
    if (!sid.empty() && !isWellFormedSid(sid)) {
        Logger::instance().write("ConfigManager::getConfigUser refused malformed sid");
        return nullptr;
    }
    Logger::instance().write("getConfigUser(\"", toNarrowString(sid), "\")");
    if (sid.empty()) {
        Logger::instance().write("ConfigManager::getConfigUser got empty sid, returning general section");
        return &general;
    }

    std::lock_guard<std::mutex> lock(mutex);
    const auto found = sections.find(sid);
    if (found != sections.end()) {
        Logger::instance().write("Config founded. Return.");
        return found->second.get();
    }
    Logger::instance().write("Creating new config section");
    auto section = std::make_shared<ConfigSection>(folder + UserFilePrefix + sid + UserFileSuffix);
    sections.emplace(sid, section);
    section->loadAndDecrypt();
    Logger::instance().write("Section created and decrypted");
    return section.get();
}

void ConfigManager::saveConfigSection(const std::wstring& sid)
{
    if (sid.empty()) {
        Logger::instance().write("Saving config section for empty sid rejected");
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = sections.find(sid);
    if (found == sections.end()) {
        Logger::instance().write("Config section that should be saved has not been found for sid =",
                                 toNarrowString(sid));
        return;
    }
    Logger::instance().write("Saving config section for sid = ", toNarrowString(sid));
    saveUserSection(*found->second);
    Logger::instance().write("Saved");
}

void ConfigManager::saveMainSettings()
{
    try {
        std::lock_guard<std::mutex> lock(mutex);
        saveToEncryptedFile(general);
    } catch (const std::exception& error) {
        Logger::instance().write("Error saving main settings", error.what());
    } catch (...) {
        Logger::instance().write("Error saving main settings");
    }
}

void ConfigManager::saveUsersConfigurations()
{
    std::lock_guard<std::mutex> lock(mutex);
    Logger::instance().write("Save users configurations...");
    for (auto& entry : sections)
        saveUserSection(*entry.second);
    saveToEncryptedFile(general);
    Logger::instance().write("Saved");
}
