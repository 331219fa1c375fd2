#include "UpdateFilePath.h"

#include "UpdateTexts.h"
#include "settings/GlobalPaths.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <cwchar>

namespace {

std::wstring lowerHex(std::uint32_t value)
{
    wchar_t text[16] = {};
    std::swprintf(text, 16, L"%x", static_cast<unsigned>(value));
    return text;
}

} // namespace

std::wstring fileNameFromUrl(const std::wstring& url)
{
    const std::wstring::size_type slash = url.rfind(L'/');
    return slash == std::wstring::npos ? url : url.substr(slash + 1);
}

std::wstring uniqueTempFileName(const std::wstring& name)
{
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    // The byte-swapped first term puts its bits in the top half, so the folder names spread widely.
    std::uint32_t value = htonl(static_cast<u_long>(std::rand())) + static_cast<std::uint32_t>(std::rand()) + 0x10000000u;
    for (;;) {
        const std::wstring candidate = TempPath + lowerHex(value) + L"\\" + name;
        const DWORD attributes = GetFileAttributesW(candidate.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
            return candidate;
        Logger::instance().write(toNarrowString(candidate), UpdateLog::NameExists);
        value += static_cast<std::uint32_t>(std::rand());
    }
}

std::wstring makeUpdateFilePath(const std::wstring& url)
{
    return uniqueTempFileName(fileNameFromUrl(url) + L".exe");
}
