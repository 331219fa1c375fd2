#include "SettingsDocument.h"

#include "AsciiJson.h"

#include "Logger.h"
#include "StringCipher.h"
#include "StringHelpers.h"

#include <windows.h>

#include <fstream>
#include <iterator>

namespace {

const wchar_t BackupSuffix[] = L".bak";
const wchar_t DeleteMeSuffix[] = L".DeleteMe";

bool isDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isFile(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// A file that does not exist or cannot be opened reads as empty.
std::string readFileBytes(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::in | std::ios::binary);
    if (!file)
        return std::string();
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

bool writeFileBytes(const std::wstring& path, const std::string& bytes)
{
    std::ofstream file(path.c_str(), std::ios::out | std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    // Closing flushes; a failure there is a failed write too.
    file.close();
    return !file.fail();
}

// The JSON text in a document's bytes. Documents of earlier versions hold U+0080..U+00FF as bytes
// of the ANSI code page, and may hold the escape of an unpaired surrogate, which the reader refuses.
std::wstring documentJson(const std::string& cipher)
{
    const std::string ascii = toAsciiJson(toWideString(decryptString(cipher)));
    return std::wstring(ascii.begin(), ascii.end());
}

void clearDirectoryInTheWay(const std::wstring& path)
{
    if (!isDirectory(path))
        return;
    if (!RemoveDirectoryW(path.c_str()) && !MoveFileW(path.c_str(), (path + DeleteMeSuffix).c_str()))
        Logger::instance().write("`anonymous-namespace'::saveToEncryptedFile", "Can't remove or move directory",
                                 toNarrowString(path));
}

} // namespace

std::vector<std::wstring> existingBackups(const std::wstring& path)
{
    std::vector<std::wstring> backups;
    for (std::wstring backup = path + BackupSuffix; isFile(backup); backup += BackupSuffix)
        backups.push_back(backup);
    return backups;
}

void saveToEncryptedFile(ConfigSection& section)
{
    const std::wstring& path = section.filePath;
    const std::wstring full = section.toJson(false);
    const std::wstring secure = section.toJson(true);
    if (full.empty()) {
        // toJson has logged why; an empty document would lose every stored setting. An [ERROR]
        // line, so that every skipped save is in the log, whether logging is on or not.
        LOG_ERROR << "`anonymous-namespace'::saveToEncryptedFile"
                  << "Settings cannot be written as JSON, keeping the stored document" << path;
        return;
    }
    Logger::instance().write("Saving and encrypting file:", toNarrowString(path), "with data (secure):\n",
                             toNarrowString(secure));
    // In 7-bit text no character depends on the code page.
    const std::string cipher = encryptString(toAsciiJson(full));

    clearDirectoryInTheWay(path);

    std::wstring backup;
    const bool backedUp = isFile(path);
    if (backedUp) {
        backup = path + BackupSuffix;
        while (isFile(backup))
            backup += BackupSuffix;
        MoveFileW(path.c_str(), backup.c_str());
    }

    if (writeFileBytes(path, cipher)) {
        Logger::instance().write(toNarrowString(path), "saved");
        if (backedUp)
            DeleteFileW(backup.c_str());
        if (section.loadedFromBackup) {
            // The document now holds what was restored from the backups.
            for (const std::wstring& old : existingBackups(path))
                DeleteFileW(old.c_str());
            section.loadedFromBackup = false;
        }
        return;
    }

    Logger::instance().write("Error occurred while saving", toNarrowString(path));
    if (backedUp && isFile(backup)) {
        if (!DeleteFileW(path.c_str()) && !MoveFileW(path.c_str(), (path + DeleteMeSuffix).c_str()))
            Logger::instance().write("`anonymous-namespace'::saveToEncryptedFile", "Cant remove or move file",
                                     toNarrowString(path));
    }
}

void ConfigSection::loadAndDecrypt()
{
    try {
        const std::string bytes = readFileBytes(filePath);
        if (!bytes.empty()) {
            Logger::instance().write("Load and decrypt config/section file: ", toNarrowString(filePath));
            if (loadFromJson(documentJson(bytes))) {
                loadedFromBackup = false;
                return;
            }
        }
        // A save that died after moving the document aside leaves backups beside a document that
        // is missing, empty or written only in part; the newest backup that loads is the last
        // document written whole.
        const std::vector<std::wstring> backups = existingBackups(filePath);
        for (auto backup = backups.rbegin(); backup != backups.rend(); ++backup) {
            const std::string saved = readFileBytes(*backup);
            if (saved.empty())
                continue;
            Logger::instance().write("Config file", toNarrowString(filePath),
                                     bytes.empty() ? " empty, loading its newest backup"
                                                   : " unreadable, loading its newest backup",
                                     toNarrowString(*backup));
            Logger::instance().write("Load and decrypt config/section file: ", toNarrowString(*backup));
            if (loadFromJson(documentJson(saved))) {
                loadedFromBackup = true;
                return;
            }
        }
        if (bytes.empty())
            Logger::instance().write("Config file", toNarrowString(filePath), " empty, nothing to load.");
    } catch (...) {
        Logger::instance().write("Error while decrypting file", toNarrowString(filePath));
    }
}
