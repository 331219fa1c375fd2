#pragma once
// Text helpers: conversions between UTF-16 and the system ANSI code page, replacement,
// form-field escaping and the text of a Windows error.

#include <string>

// Both conversions end at the first NUL of their input; a failed conversion gives an empty text.
std::wstring toWideString(const std::string& text);
std::string toNarrowString(const std::wstring& text);
std::string toNarrowString(const wchar_t* text);

// Replaces every occurrence of `from`; the inserted text is never searched again.
void replaceAll(std::wstring& text, const std::wstring& from, const std::wstring& to);

// Escapes a free-text form field: what a path segment may not hold, the percent sign, "+" and "&".
// Falls back to the input when the system escaper fails.
std::wstring urlEscape(const std::wstring& text);

// "Error #" and the calling thread's last Windows error in hexadecimal, then a line break and
// the system's description when it has one.
std::wstring getLastErrorText();
