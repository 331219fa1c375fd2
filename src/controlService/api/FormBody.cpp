#include "FormBody.h"

#include "ApiWire.h"

#include "StringHelpers.h"

namespace {

const std::wstring Masked(ApiWire::MaskedSecret, ApiWire::MaskedSecret + 3);

bool isJsonSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

// The end of the JSON value that starts at `at`: past the closing quote of a string, else at the
// next separator.
size_t valueEnd(const std::wstring& text, size_t at)
{
    if (at < text.size() && text[at] == L'"') {
        for (size_t i = at + 1; i < text.size(); ++i) {
            if (text[i] == L'\\')
                ++i;
            else if (text[i] == L'"')
                return i + 1;
        }
        return text.size();
    }
    size_t i = at;
    while (i < text.size() && text[i] != L',' && text[i] != L'}' && text[i] != L']' && !isJsonSpace(text[i]))
        ++i;
    return i;
}

// Replaces the value of every member named `name` by "***".
void maskMember(std::wstring& text, const wchar_t* name)
{
    const std::wstring key = std::wstring(L"\"") + name + L"\"";
    size_t from = 0;
    while ((from = text.find(key, from)) != std::wstring::npos) {
        size_t at = from + key.size();
        while (at < text.size() && isJsonSpace(text[at]))
            ++at;
        // The word as a string value, not a member name.
        if (at >= text.size() || text[at] != L':') {
            from = at;
            continue;
        }
        ++at;
        while (at < text.size() && isJsonSpace(text[at]))
            ++at;
        const size_t end = valueEnd(text, at);
        const std::wstring replacement = L"\"" + Masked + L"\"";
        text.replace(at, end - at, replacement);
        from = at + replacement.size();
    }
}

} // namespace

FormBody& FormBody::add(const std::wstring& name, const std::wstring& value)
{
    parts.push_back({ name, value, true });
    return *this;
}

FormBody& FormBody::appendFields(const std::wstring& fields)
{
    parts.push_back({ std::wstring(), fields, false });
    return *this;
}

std::wstring FormBody::join(bool masked) const
{
    std::wstring result;
    for (const Part& part : parts) {
        if (!part.field) {
            result += part.value;
            continue;
        }
        if (!result.empty())
            result += L'&';
        const bool secret = masked && part.name == ApiWire::PasswordField;
        result += part.name + L'=' + (secret ? Masked : part.value);
    }
    return result;
}

std::wstring FormBody::text() const
{
    return join(false);
}

std::string FormBody::loggedText() const
{
    return toNarrowString(join(true));
}

std::string loggedReply(const std::wstring& reply)
{
    std::wstring text = reply;
    for (const wchar_t* secret : { ApiWire::TokenMember, ApiWire::AuthMember })
        maskMember(text, secret);
    return toNarrowString(text);
}
