#include "ServerId.h"

namespace {

bool isIdCharacter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'_'
        || c == L'.';
}

} // namespace

bool isValidServerId(const std::wstring& serverId)
{
    // A leading dot would allow "." and "..", which name folders rather than a configuration.
    if (!serverId.empty() && serverId.front() == L'.')
        return false;
    for (wchar_t c : serverId) {
        if (!isIdCharacter(c))
            return false;
    }
    return true;
}
