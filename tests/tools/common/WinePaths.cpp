#include "WinePaths.h"

#include <windows.h>

#include <cwctype>

bool isWindowsAbsolutePath(const std::wstring& path)
{
    return path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

std::optional<std::wstring> linuxPathOf(const std::wstring& windowsPath)
{
    // Wine's kernel32 exports the conversion winepath uses; it answers UTF-8 from the process heap.
    using Converter = char*(CDECL*)(LPCWSTR);
    const auto convert = reinterpret_cast<Converter>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!convert)
        return std::nullopt;
    char* converted = convert(windowsPath.c_str());
    if (!converted)
        return std::nullopt;
    std::wstring path;
    const int length = MultiByteToWideChar(CP_UTF8, 0, converted, -1, nullptr, 0);
    if (length > 1) {
        path.resize(length);
        MultiByteToWideChar(CP_UTF8, 0, converted, -1, &path[0], length);
        path.resize(length - 1);
    }
    HeapFree(GetProcessHeap(), 0, converted);
    if (path.empty())
        return std::nullopt;
    return path;
}
