#include "AsciiJson.h"

namespace {

const char HexDigits[] = "0123456789ABCDEF";

bool isHighSurrogate(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool isLowSurrogate(unsigned unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

void appendEscape(std::string& text, unsigned unit)
{
    text += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4)
        text += HexDigits[(unit >> shift) & 0xF];
}

int hexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

// The unit of the \uXXXX escape at `at`, or -1 when there is none there.
long escapedUnit(const std::wstring& json, size_t at)
{
    if (at + 6 > json.size() || json[at] != L'\\' || json[at + 1] != L'u')
        return -1;
    long unit = 0;
    for (size_t i = at + 2; i < at + 6; ++i) {
        const int digit = hexValue(json[i]);
        if (digit < 0)
            return -1;
        unit = unit * 16 + digit;
    }
    return unit;
}

// The UTF-16 unit at `at`, raw or escaped, and the length of its text; 0 at the end of the text.
unsigned unitAt(const std::wstring& json, size_t at, size_t& length)
{
    if (at >= json.size())
        return length = 0;
    const long escaped = escapedUnit(json, at);
    if (escaped >= 0) {
        length = 6;
        return static_cast<unsigned>(escaped);
    }
    length = 1;
    return static_cast<unsigned>(json[at]);
}

} // namespace

std::string toAsciiJson(const std::wstring& json)
{
    std::string text;
    text.reserve(json.size());
    size_t at = 0;
    while (at < json.size()) {
        const wchar_t c = json[at];
        if (c == L'\\' && escapedUnit(json, at) < 0) {
            // Another escape (\\, \", \n ...): its second character does not start one of its own.
            text += '\\';
            ++at;
            if (at < json.size() && json[at] <= 0x7F)
                text += static_cast<char>(json[at++]);
            continue;
        }
        if (c != L'\\' && c <= 0x7F) {
            text += static_cast<char>(c);
            ++at;
            continue;
        }
        size_t length = 0;
        const unsigned unit = unitAt(json, at, length);
        if (isHighSurrogate(unit)) {
            size_t nextLength = 0;
            const unsigned next = unitAt(json, at + length, nextLength);
            if (isLowSurrogate(next)) {
                appendEscape(text, unit);
                appendEscape(text, next);
                at += length + nextLength;
                continue;
            }
        }
        appendEscape(text, isHighSurrogate(unit) || isLowSurrogate(unit) ? 0xFFFD : unit);
        at += length;
    }
    return text;
}
