#include "StringHelpers.h"

#include "Handles.h"
#include "Logger.h"

#include <windows.h>
#include <shlwapi.h>

#include <sstream>
#include <vector>

// Each conversion measures the input with its terminating NUL and keeps the result up to its first
// NUL, so an embedded NUL ends the text, as it would for the C-string APIs the results feed.

std::wstring toWideString(const std::string& text)
{
    const int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::vector<wchar_t> buffer(length, L'\0');
    if (MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, buffer.data(), length) <= 0)
        return std::wstring();
    return std::wstring(buffer.data());
}

std::string toNarrowString(const wchar_t* text)
{
    if (text == nullptr)
        return std::string();
    const int length = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return std::string();
    std::vector<char> buffer(length, '\0');
    if (WideCharToMultiByte(CP_ACP, 0, text, -1, buffer.data(), length, nullptr, nullptr) <= 0)
        return std::string();
    return std::string(buffer.data());
}

std::string toNarrowString(const std::wstring& text)
{
    return toNarrowString(text.c_str());
}

void replaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to)
{
    // An empty pattern is found everywhere, and with an empty replacement the walk would never advance.
    if (from.empty())
        return;
    std::wstring::size_type position = 0;
    while ((position = text.find(from, position)) != std::wstring::npos) {
        text.replace(position, from.size(), to);
        position += to.size();
    }
}

std::wstring urlEscape(const std::wstring& text)
{
    // Each character becomes at most a percent sign and two digits.
    DWORD size = static_cast<DWORD>(3 * text.size() + 1);
    std::vector<wchar_t> buffer(size, L'\0');
    if (FAILED(UrlEscapeW(text.c_str(), buffer.data(), &size, URL_ESCAPE_SEGMENT_ONLY | URL_ESCAPE_PERCENT))) {
        Logger::instance().write("UrlEscape failed");
        return text;
    }
    // A path segment may hold "+" and "&", a form field may not.
    std::wstring escaped(buffer.data());
    replaceAll(escaped, L"+", L"%2B");
    replaceAll(escaped, L"&", L"%26");
    return escaped;
}

std::wstring getLastErrorText()
{
    const DWORD code = GetLastError();
    std::ostringstream digits;
    digits << std::hex << code;
    std::wstring text = L"Error #" + toWideString(digits.str());

    wchar_t* message = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr, code, 0,
                                        reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    const LocalMemory messageOwner(message);
    if (length > 0 && message != nullptr)
        text += L"\n" + std::wstring(message, length);
    return text;
}
