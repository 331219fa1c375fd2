#pragma once
// Owner of the settings sections: the general one ("settings.params") and one per Windows user
// named by its SID ("user." + SID + ".params"), all in one folder.

#include "ConfigSection.h"

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

class ConfigManager {
public:
    // `folder` ends in a backslash. The process-wide manager uses AppdataPath.
    explicit ConfigManager(const std::wstring& folder);
    ConfigManager(const ConfigManager&) = delete;
    ConfigManager& operator=(const ConfigManager&) = delete;

    // The process's manager over AppdataPath, constructed on first use.
    static ConfigManager& instance();

    ConfigSection& generalSection() { return general; }

    // The section of a user, created and loaded from its document on first request. An empty SID gives
    // the general section; a text that is not a SID gives nullptr. The section lives as long as the manager.
    ConfigSection* getConfigUser(const std::wstring& sid);
    // Save errors pass to the caller.
    void saveConfigSection(const std::wstring& sid);
    // Never raises.
    void saveMainSettings();
    // Every user section, then the general one. Save errors pass to the caller.
    void saveUsersConfigurations();

private:
    const std::wstring folder;
    ConfigSection general;
    std::unordered_map<std::wstring, std::shared_ptr<ConfigSection>> sections;
    // Guards `sections` and serialises every save.
    std::mutex mutex;
};

// The general settings of the process.
ConfigSection& mainSettings();

// "S-1-" followed by decimal components separated by "-": the only texts allowed into a file name.
bool isWellFormedSid(const std::wstring& sid);
