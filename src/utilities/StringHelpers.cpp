#include "StringHelpers.h"

#include <windows.h>

#include <vector>

// Both conversions end at the first NUL of their input, as the C-string APIs they feed do.

std::wstring toWideString(const std::string& text)
{
    const std::string input(text.c_str());
    if (input.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_ACP, 0, input.data(), static_cast<int>(input.size()), nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::vector<wchar_t> buffer(length);
    MultiByteToWideChar(CP_ACP, 0, input.data(), static_cast<int>(input.size()), buffer.data(), length);
    return std::wstring(buffer.data(), buffer.size());
}

std::string toNarrowString(const wchar_t* text)
{
    if (text == nullptr || *text == L'\0')
        return std::string();
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::vector<char> buffer(length);
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), length, nullptr, nullptr);
    return std::string(buffer.data(), buffer.size() - 1);
}

std::string toNarrowString(const std::wstring& text)
{
    return toNarrowString(text.c_str());
}
