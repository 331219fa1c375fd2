#pragma once
// The on-disk form of a settings section: its JSON text, narrowed and enciphered, and nothing else.

#include "ConfigSection.h"

#include <string>
#include <vector>

// Writes the section to its filePath. The previous document is moved to a backup name first
// (".bak" appended until the name is free) and that backup is removed once the new file is written.
// Callers serialise saves (the manager's lock). Cipher errors pass to the caller.
void saveToEncryptedFile(ConfigSection& section);

// The existing backups of a document, oldest (path + ".bak") first.
std::vector<std::wstring> existingBackups(const std::wstring& path);
