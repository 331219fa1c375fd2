#include "UpdateFilePath.h"

#include "settings/GlobalPaths.h"

#include "Handles.h"
#include "Logger.h"
#include "StringHelpers.h"

#include <windows.h>
#include <aclapi.h>
#include <bcrypt.h>

#include <cwchar>

namespace {

// How many names are drawn before the download is given up.
constexpr int FolderAttempts = 16;

std::wstring lowerHex(std::uint32_t value)
{
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%x", static_cast<unsigned>(value));
    return text;
}

// Creates the folder, failing when anything exists under its name, with a protected DACL: SYSTEM
// and Administrators have full access, inherited by everything in it, and nobody else has any.
bool createAdministratorsFolder(const std::wstring& folder)
{
    BYTE system[SECURITY_MAX_SID_SIZE];
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD systemSize = sizeof system;
    DWORD administratorsSize = sizeof administrators;
    if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize)
        || !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &administratorsSize))
        return false;
    EXPLICIT_ACCESSW entries[2] {};
    PSID trustees[2] = { system, administrators };
    for (int i = 0; i < 2; ++i) {
        entries[i].grfAccessPermissions = FILE_ALL_ACCESS;
        entries[i].grfAccessMode = SET_ACCESS;
        entries[i].grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
        entries[i].Trustee.TrusteeForm = TRUSTEE_IS_SID;
        entries[i].Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
        entries[i].Trustee.ptstrName = static_cast<LPWSTR>(trustees[i]);
    }
    PACL acl = nullptr;
    const DWORD made = SetEntriesInAclW(2, entries, nullptr, &acl);
    if (made != ERROR_SUCCESS) {
        SetLastError(made);
        return false;
    }
    const LocalMemory aclOwner(acl);
    SECURITY_DESCRIPTOR descriptor;
    // Protected: nothing of the temporary folder's own entries flows in.
    if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION)
        || !SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE)
        || !SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED))
        return false;
    SECURITY_ATTRIBUTES attributes { sizeof attributes, &descriptor, FALSE };
    return CreateDirectoryW(folder.c_str(), &attributes) != FALSE;
}

} // namespace

std::wstring fileNameFromUrl(const std::wstring& url)
{
    const std::wstring::size_type slash = url.rfind(L'/');
    return slash == std::wstring::npos ? url : url.substr(slash + 1);
}

bool systemRandom(std::uint32_t& value)
{
    return BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&value), sizeof value,
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

std::wstring uniqueTempFileName(const std::wstring& name, const RandomSource& random)
{
    for (int attempt = 0; attempt < FolderAttempts; ++attempt) {
        std::uint32_t value = 0;
        if (!random(value)) {
            Logger::instance().write("uniqueTempFileName: no random value for the folder's name");
            return std::wstring();
        }
        const std::wstring folder = TempPath + lowerHex(value);
        const std::wstring candidate = folder + L"\\" + name;
        // Made here, so that nobody else's folder, planted under the name beforehand, is ever used.
        if (createAdministratorsFolder(folder))
            return candidate;
        const DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            Logger::instance().write("uniqueTempFileName: cannot create the folder", toNarrowString(folder), "error",
                                     error);
            return std::wstring();
        }
        Logger::instance().write(toNarrowString(candidate), "exists, trying to generate another");
    }
    Logger::instance().write("uniqueTempFileName: every name drawn is taken in", toNarrowString(TempPath));
    return std::wstring();
}

std::wstring makeUpdateFilePath(const std::wstring& url)
{
    return uniqueTempFileName(fileNameFromUrl(url) + L".exe");
}
