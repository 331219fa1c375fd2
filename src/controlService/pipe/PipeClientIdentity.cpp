#include "PipeClientIdentity.h"

#include <sddl.h>

#include <vector>

namespace {

// The token's TokenUser block; empty when it cannot be read.
std::vector<BYTE> tokenUser(HANDLE token)
{
    DWORD needed = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &needed);
    if (needed == 0)
        return {};
    std::vector<BYTE> buffer(needed);
    if (!GetTokenInformation(token, TokenUser, buffer.data(), needed, &needed))
        return {};
    return buffer;
}

bool sidText(PSID sid, std::wstring& text)
{
    LPWSTR converted = nullptr;
    if (!ConvertSidToStringSidW(sid, &converted))
        return false;
    const LocalMemory owner(converted);
    text = converted;
    return true;
}

// Membership as access checks see it: a group that is only there to deny (a filtered
// administrator's token) does not count.
bool isAdministrator(HANDLE token, bool& member)
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size))
        return false;
    // CheckTokenMembership takes an impersonation token only.
    UniqueHandle identification;
    if (!DuplicateToken(token, SecurityIdentification, identification.put()))
        return false;
    BOOL isMember = FALSE;
    if (!CheckTokenMembership(identification.get(), administrators, &isMember))
        return false;
    member = isMember != FALSE;
    return true;
}

} // namespace

UniqueHandle pipeClientToken(HANDLE pipe)
{
    if (!ImpersonateNamedPipeClient(pipe))
        return UniqueHandle();
    UniqueHandle impersonation;
    const BOOL opened = OpenThreadToken(GetCurrentThread(), TOKEN_DUPLICATE | TOKEN_QUERY, TRUE, impersonation.put());
    const DWORD error = GetLastError();
    RevertToSelf();
    if (!opened) {
        SetLastError(error);
        return UniqueHandle();
    }
    return impersonation;
}

std::optional<PipeClientIdentity> tokenIdentity(HANDLE token)
{
    const std::vector<BYTE> user = tokenUser(token);
    if (user.empty())
        return std::nullopt;
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid;
    PipeClientIdentity identity;
    bool administrator = false;
    if (!sidText(sid, identity.userSid) || !isAdministrator(token, administrator))
        return std::nullopt;
    identity.privileged = administrator || IsWellKnownSid(sid, WinLocalSystemSid);
    return identity;
}

bool isLocalSystemToken(HANDLE token)
{
    const std::vector<BYTE> user = tokenUser(token);
    return !user.empty()
        && IsWellKnownSid(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, WinLocalSystemSid);
}

bool mayActFor(const PipeClientIdentity& client, const std::wstring& sid)
{
    return sid.empty() || client.privileged || sid == client.userSid;
}
