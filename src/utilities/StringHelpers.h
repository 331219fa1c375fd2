#pragma once
// Text conversions between UTF-16 and the system ANSI code page, and small system helpers.

#include <string>

std::wstring toWideString(const std::string& text);
std::string toNarrowString(const std::wstring& text);
std::string toNarrowString(const wchar_t* text);
