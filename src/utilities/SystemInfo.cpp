#include "SystemInfo.h"

#include <windows.h>

std::wstring getBitness()
{
    BOOL wow64 = FALSE;
    return (IsWow64Process(GetCurrentProcess(), &wow64) && wow64) ? L"64" : L"32";
}

// The version calls' results are not examined: a failed call leaves the zeroed structure, which
// prints as "0.0".

std::wstring getOsVersion()
{
    OSVERSIONINFOW info {};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExW(&info);
    return std::to_wstring(info.dwMajorVersion) + L"." + std::to_wstring(info.dwMinorVersion);
}

std::wstring getServicePackVersion()
{
    OSVERSIONINFOEXW info {};
    info.dwOSVersionInfoSize = sizeof info;
    GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&info));
    return std::to_wstring(info.wServicePackMajor) + L"." + std::to_wstring(info.wServicePackMinor);
}

std::wstring getLocaleName()
{
    constexpr int Size = 100;
    wchar_t buffer[Size] = L"en_US";
    // Both queries count the terminating NUL: the language's NUL becomes the underscore and the
    // country follows it.
    const int languageLength = GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SISO639LANGNAME, buffer, Size);
    if (languageLength > 0 && languageLength < Size) {
        buffer[languageLength - 1] = L'_';
        if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SISO3166CTRYNAME, buffer + languageLength,
                           Size - languageLength) <= 0)
            buffer[languageLength - 1] = L'\0';
    }
    buffer[Size - 1] = L'\0';
    return buffer;
}
