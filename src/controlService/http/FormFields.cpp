#include "FormFields.h"

#include "HttpReplies.h"

#include <stdexcept>

namespace {

// Plain ASCII only: bytes of 0x80 and above belong to no field name.
bool isAsciiLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

std::string getParam(const std::string& body, const std::string& name, bool emptyIfMissing)
{
    const std::string key = name + "=";
    size_t position = body.find(key);
    while (position != std::string::npos && position > 0 && isAsciiLetterOrDigit(body[position - 1]))
        position = body.find(key, position + 1);
    if (position == std::string::npos) {
        if (emptyIfMissing)
            return std::string();
        throw std::runtime_error("no such parameter");
    }
    const size_t start = position + key.size();
    const size_t end = body.find('&', start);
    return body.substr(start, end == std::string::npos ? std::string::npos : end - start);
}
