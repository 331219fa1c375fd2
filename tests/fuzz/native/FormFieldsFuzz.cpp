// Form fields of a request body under AddressSanitizer and checked standard containers: every
// field name the fuzzer makes up, looked for in every body it makes up, compared with a plain
// scan of the body for the first "name=" that has no ASCII letter or digit before it.

#include "FormFields.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

namespace {

[[noreturn]] void fail(const char* what, const std::string& body, const std::string& name)
{
    std::fprintf(stderr, "form field fuzz: %s (name of %zu bytes, body of %zu bytes)\n", what, name.size(), body.size());
    std::abort();
}

bool asciiLetterOrDigit(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// The value of the first accepted "name=", scanning every position in turn; none when there is none.
std::optional<std::string> scan(const std::string& body, const std::string& name)
{
    const std::string key = name + "=";
    for (size_t at = 0; at + key.size() <= body.size(); ++at) {
        if (body.compare(at, key.size(), key) != 0)
            continue;
        if (at > 0 && asciiLetterOrDigit(static_cast<unsigned char>(body.at(at - 1))))
            continue;
        std::string value;
        for (size_t i = at + key.size(); i < body.size() && body.at(i) != '&'; ++i)
            value.push_back(body.at(i));
        return value;
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    const bool emptyIfMissing = input.ConsumeBool();
    const std::string name = input.ConsumeRandomLengthString(64);
    const std::string body = input.ConsumeRemainingBytesAsString();

    const std::optional<std::string> expected = scan(body, name);
    try {
        const std::string value = getParam(body, name, emptyIfMissing);
        if (expected) {
            if (value != *expected)
                fail("a value differs from the first accepted field", body, name);
        } else if (!emptyIfMissing || !value.empty()) {
            fail("a missing field gave a value", body, name);
        }
    } catch (const std::runtime_error& error) {
        if (expected || emptyIfMissing || std::string(error.what()) != "no such parameter")
            fail("a field raised an error it should not", body, name);
    }
    return 0;
}
