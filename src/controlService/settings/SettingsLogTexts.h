#pragma once
// Every log text of the settings store, as it appears in the service log.

namespace SettingsLog {

// ConfigSection
constexpr const char* GetValueNoPath = "ConfigSection::getValue: No path";
constexpr const char* GetValueInTree = "in settings tree";
constexpr const char* GetValueFailed = "ConfigSection::getValue: ";
constexpr const char* JsonReadError = "Error reading json/xml config: ";
constexpr const char* JsonWriteError = "Error writing json/xml config: ";
constexpr const char* JsonOnLine = " on line: ";

// ConfigManager
constexpr const char* GetConfigUserOpen = "getConfigUser(\"";
constexpr const char* GetConfigUserClose = "\")";
constexpr const char* EmptySidGeneral = "ConfigManager::getConfigUser got empty sid, returning general section";
constexpr const char* MalformedSid = "ConfigManager::getConfigUser refused malformed sid";
constexpr const char* ConfigFound = "Config founded. Return.";
constexpr const char* CreatingSection = "Creating new config section";
constexpr const char* SectionCreated = "Section created and decrypted";
constexpr const char* SaveEmptySidRejected = "Saving config section for empty sid rejected";
constexpr const char* SaveSidNotFound = "Config section that should be saved has not been found for sid =";
constexpr const char* SavingSid = "Saving config section for sid = ";
constexpr const char* Saved = "Saved";
constexpr const char* SaveMainFailed = "Error saving main settings";
constexpr const char* SavingUsers = "Save users configurations...";

// Documents on disk
constexpr const char* ConfigFile = "Config file";
constexpr const char* NothingToLoad = " empty, nothing to load.";
constexpr const char* LoadingBackup = " empty, loading its newest backup";
constexpr const char* UnreadableLoadingBackup = " unreadable, loading its newest backup";
constexpr const char* LoadAndDecrypt = "Load and decrypt config/section file: ";
constexpr const char* DecryptFailed = "Error while decrypting file";
constexpr const char* SaveFunction = "`anonymous-namespace'::saveToEncryptedFile";
constexpr const char* Saving = "Saving and encrypting file:";
constexpr const char* WithSecureData = "with data (secure):\n";
constexpr const char* NotSerialisable = "Settings cannot be written as JSON, keeping the stored document";
constexpr const char* CantMoveDirectory = "Can't remove or move directory";
constexpr const char* FileSaved = "saved";
constexpr const char* SaveFailed = "Error occurred while saving";
constexpr const char* CantMoveFile = "Cant remove or move file";

// Machine GUID in the registry
constexpr const char* RegistryReadFailed = "Failed reading [";
constexpr const char* RegistryWriteOpenFailed = "Failed opening for writing [";
constexpr const char* RegistryValueAt = "] @";
constexpr const char* RegistryError = ", error:";

} // namespace SettingsLog
