#pragma once
// What the tests of the update's download folder look at: who may write a path, as its DACL reads
// back, and the folder names a generator seeded with the clock would give, which any local user
// can work out as well.

#include <winsock2.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "settings/GlobalPaths.h"

#include "StringHelpers.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <regex>
#include <string>
#include <vector>

namespace update_folder {

inline std::wstring sidText(PSID sid)
{
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text))
        return std::wstring();
    std::wstring result = text;
    LocalFree(text);
    return result;
}

// Write, append, delete or take over: anything that lets a user change what is there.
inline bool changes(ACCESS_MASK mask)
{
    return (mask & (GENERIC_ALL | GENERIC_WRITE | FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA
                    | FILE_WRITE_ATTRIBUTES | FILE_DELETE_CHILD | DELETE | WRITE_DAC | WRITE_OWNER))
        != 0;
}

struct Access {
    bool read = false;            // the DACL could be read
    std::wstring owner;           // SID text
    std::vector<std::wstring> writers;  // SIDs of the entries that allow a change
    ACCESS_MASK everyone = 0;     // what the entries allow Everyone
};

// The path's owner and explicit entries (GetNamedSecurityInfoW, GetExplicitEntriesFromAclW).
inline Access accessOf(const std::wstring& path)
{
    Access access;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor)
        != ERROR_SUCCESS)
        return access;
    ULONG count = 0;
    PEXPLICIT_ACCESS_W entries = nullptr;
    if (dacl != nullptr && GetExplicitEntriesFromAclW(dacl, &count, &entries) == ERROR_SUCCESS) {
        access.read = true;
        access.owner = sidText(owner);
        for (ULONG i = 0; i < count; ++i) {
            const EXPLICIT_ACCESS_W& entry = entries[i];
            if (entry.Trustee.TrusteeForm != TRUSTEE_IS_SID
                || (entry.grfAccessMode != GRANT_ACCESS && entry.grfAccessMode != SET_ACCESS))
                continue;
            const std::wstring sid = sidText(reinterpret_cast<PSID>(entry.Trustee.ptstrName));
            if (changes(entry.grfAccessPermissions))
                access.writers.push_back(sid);
            if (sid == L"S-1-1-0")
                access.everyone |= entry.grfAccessPermissions;
        }
        LocalFree(entries);
    }
    LocalFree(descriptor);
    return access;
}

// True when only SYSTEM, Administrators and the owner may change what is at the path. (Wine keeps
// no DACL of its own: it shows the Unix owner's and the others' rights, so Administrators appear
// as the owner there.)
inline bool onlyAdministratorsChange(const Access& access)
{
    for (const std::wstring& sid : access.writers)
        if (sid != L"S-1-5-18" && sid != L"S-1-5-32-544" && sid != access.owner)
            return false;
    return access.read && !changes(access.everyone);
}

// The folder name a generator seeded with the second `seed` gives first: htonl(rand()) + rand()
// + 0x10000000 in lower-case hexadecimal, from this program's own C library.
inline std::wstring timeSeededFolderName(std::time_t seed)
{
    std::srand(static_cast<unsigned>(seed));
    const std::uint32_t high = htonl(static_cast<u_long>(std::rand()));
    const std::uint32_t value = high + static_cast<std::uint32_t>(std::rand()) + 0x10000000u;
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%x", static_cast<unsigned>(value));
    return text;
}

// The paths that the lines "Downloading file ' <path> ' from ' <url> '" of a log name, in order.
inline std::vector<std::wstring> downloadPathsIn(const std::vector<std::string>& lines)
{
    static const std::regex line("Downloading file ' (.*) ' from ' (.*) '");
    std::vector<std::wstring> paths;
    std::smatch match;
    for (const std::string& entry : lines)
        if (std::regex_match(entry, match, line))
            paths.push_back(toWideString(match[1]));
    return paths;
}

// Another temporary folder for the downloads, for as long as the owner lives.
class TempPathSwap {
public:
    explicit TempPathSwap(const std::wstring& folder) : saved_(TempPath) { TempPath = folder; }
    ~TempPathSwap() { TempPath = saved_; }
    TempPathSwap(const TempPathSwap&) = delete;
    TempPathSwap& operator=(const TempPathSwap&) = delete;

private:
    std::wstring saved_;
};

} // namespace update_folder
