#include "ReplyJson.h"

#include <sstream>

namespace {

// The line (from 1) on which the text's nesting first goes past the bound; 0 when it never does.
// Brackets inside strings do not count.
unsigned long lineBeyondNesting(const std::wstring& text)
{
    std::size_t depth = 0;
    unsigned long line = 1;
    bool inString = false;
    bool escaped = false;
    for (const wchar_t c : text) {
        if (c == L'\n')
            ++line;
        if (inString) {
            if (escaped)
                escaped = false;
            else if (c == L'\\')
                escaped = true;
            else if (c == L'"')
                inString = false;
        } else if (c == L'"') {
            inString = true;
        } else if (c == L'[' || c == L'{') {
            if (++depth > MaxReplyNesting)
                return line;
        } else if ((c == L']' || c == L'}') && depth > 0) {
            --depth;
        }
    }
    return 0;
}

} // namespace

void readReplyJson(const std::wstring& text, boost::property_tree::wptree& tree)
{
    if (const unsigned long line = lineBeyondNesting(text))
        throw boost::property_tree::json_parser_error("nested too deeply", "", line);
    std::wistringstream stream(text);
    boost::property_tree::read_json(stream, tree);
}
