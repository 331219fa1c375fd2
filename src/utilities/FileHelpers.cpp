#include "FileHelpers.h"

#include "Handles.h"
#include "StringHelpers.h"

#include <aclapi.h>

#include <algorithm>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <vector>

namespace {

std::wstring tailFailureText(const std::wstring& path)
{
    return L"...reading \"" + path + L"\" failed...";
}

// Raises on any failure; the callers turn that into the failure text.
std::string readTail(std::int64_t maximum, const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::in | std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot open file");
    file.seekg(0, std::ios::end);
    const std::int64_t size = file.tellg();
    if (size < 0)
        throw std::runtime_error("cannot find the end of file");
    const std::int64_t count = std::max<std::int64_t>(0, std::min(size, maximum));
    if (static_cast<std::uint64_t>(count) >= std::numeric_limits<size_t>::max())
        throw std::length_error("tail does not fit in memory");

    std::vector<char> buffer(static_cast<size_t>(count) + 1, '\0');
    file.seekg(size - count, std::ios::beg);
    file.read(buffer.data(), count);
    return std::string(buffer.data());
}

} // namespace

std::int64_t getFileSize(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::in | std::ios::binary);
    if (!file)
        return -1;
    file.seekg(0, std::ios::end);
    return static_cast<std::int64_t>(file.tellg());
}

std::wstring readFileTail(std::int64_t maximum, const std::wstring& path)
{
    try {
        const std::string bytes = readTail(maximum, path);
        std::wstring text(bytes.size(), L'\0');
        std::transform(bytes.begin(), bytes.end(), text.begin(),
                       [](char byte) { return static_cast<wchar_t>(static_cast<unsigned char>(byte)); });
        return text;
    } catch (...) {
        return tailFailureText(path);
    }
}

std::string readFileTailBytes(std::int64_t maximum, const std::wstring& path)
{
    try {
        return readTail(maximum, path);
    } catch (...) {
        return toNarrowString(tailFailureText(path));
    }
}

bool grantEveryoneAccess(const std::wstring& path)
{
    // Backup semantics let a folder open too.
    const UniqueHandle file(CreateFileW(path.c_str(), READ_CONTROL | WRITE_DAC,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return false;
    grantEveryoneAccessToHandle(file.get());
    return true;
}

void grantEveryoneAccessToHandle(HANDLE handle)
{
    PACL currentDacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Without the current DACL the merge below would replace every entry it holds.
    if (GetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &currentDacl, nullptr,
                        &descriptor) != ERROR_SUCCESS)
        return;
    const LocalMemory descriptorOwner(descriptor);

    SID_IDENTIFIER_AUTHORITY worldAuthority = SECURITY_WORLD_SID_AUTHORITY;
    SidOwner everyone;
    if (!AllocateAndInitializeSid(&worldAuthority, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, everyone.put()))
        return;

    EXPLICIT_ACCESSW access {};
    // Read and run, never change: the file may be an installer that LocalSystem starts too.
    access.grfAccessPermissions = FILE_GENERIC_READ | FILE_GENERIC_EXECUTE;
    access.grfAccessMode = GRANT_ACCESS;
    access.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    access.Trustee.ptstrName = static_cast<LPWSTR>(everyone.get());

    PACL mergedDacl = nullptr;
    if (SetEntriesInAclW(1, &access, currentDacl, &mergedDacl) != ERROR_SUCCESS)
        return;
    const LocalMemory mergedOwner(mergedDacl);
    // Unprotected, so that entries inherited from the parent keep flowing.
    SetSecurityInfo(handle, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                    nullptr, nullptr, mergedDacl, nullptr);
}
