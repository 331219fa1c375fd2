#pragma once
// The JSON text of a settings document in 7-bit characters, so that no code page stands between
// the text in memory and the bytes on disk.

#include <string>

// `json` with every character above 0x7F written as a \uXXXX escape of its UTF-16 unit (a
// character beyond the first plane takes two), and every unpaired surrogate, raw or escaped, as
// \uFFFD: the JSON reader refuses the escape of a lone surrogate, and with it the whole document.
// Other escapes and all 7-bit characters are kept as they are.
std::string toAsciiJson(const std::wstring& json);
