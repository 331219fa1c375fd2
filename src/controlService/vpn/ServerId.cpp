#include "ServerId.h"

#include <cwctype>

namespace {

bool isIdCharacter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'_'
        || c == L'.';
}

bool equalsIgnoringCase(const std::wstring& text, const wchar_t* word)
{
    std::size_t i = 0;
    for (; i < text.size() && word[i] != L'\0'; ++i) {
        if (std::towupper(text[i]) != word[i])
            return false;
    }
    return i == text.size() && word[i] == L'\0';
}

// Windows opens the device for such a name in any folder, whatever extension follows it: the
// daemon would read its configuration from the console or a serial port.
bool isDeviceName(const std::wstring& serverId)
{
    const std::wstring stem = serverId.substr(0, serverId.find(L'.'));
    for (const wchar_t* device : { L"CON", L"PRN", L"AUX", L"NUL" }) {
        if (equalsIgnoringCase(stem, device))
            return true;
    }
    if (stem.size() != 4 || !std::iswdigit(stem[3]))
        return false;
    const std::wstring port = stem.substr(0, 3);
    return equalsIgnoringCase(port, L"COM") || equalsIgnoringCase(port, L"LPT");
}

} // namespace

bool isValidServerId(const std::wstring& serverId)
{
    if (serverId.size() > MaxServerIdLength)
        return false;
    // A leading dot would allow "." and "..", which name folders rather than a configuration.
    if (!serverId.empty() && serverId.front() == L'.')
        return false;
    for (wchar_t c : serverId) {
        if (!isIdCharacter(c))
            return false;
    }
    return !isDeviceName(serverId);
}
