#include "DaemonOptions.h"

#include "StringHelpers.h"

#include <cwctype>

namespace {

bool parseNumber(const std::wstring& text, unsigned long limit, unsigned long& value)
{
    if (text.empty() || text.size() > 9)
        return false;
    value = 0;
    for (wchar_t c : text) {
        if (!std::iswdigit(c))
            return false;
        value = value * 10 + (c - L'0');
    }
    return value <= limit;
}

} // namespace

DaemonOptions parseDaemonOptions(const std::vector<std::wstring>& arguments)
{
    DaemonOptions options;
    auto fail = [&](const std::string& message) {
        if (options.error.empty())
            options.error = "Options error: " + message;
    };
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& name = arguments[i];
        auto parameter = [&](size_t n) -> const std::wstring& {
            static const std::wstring none;
            return i + n < arguments.size() ? arguments[i + n] : none;
        };
        auto hasParameters = [&](size_t count) {
            for (size_t n = 1; n <= count; ++n) {
                if (i + n >= arguments.size() || arguments[i + n].rfind(L"--", 0) == 0)
                    return false;
            }
            return true;
        };
        size_t count = 0;
        if (name == L"--cd" || name == L"--config" || name == L"--log-append" || name == L"--verb")
            count = 1;
        else if (name == L"--management")
            count = 2;
        if (count == 0 || !hasParameters(count)) {
            fail("Unrecognized option or missing or extra parameter(s): " + toNarrowString(name));
            continue;
        }
        unsigned long number = 0;
        if (name == L"--cd") {
            options.folder = parameter(1);
        } else if (name == L"--config") {
            options.configFile = parameter(1);
        } else if (name == L"--log-append") {
            options.logFile = parameter(1);
        } else if (name == L"--verb") {
            if (parseNumber(parameter(1), 11, number))
                options.verbosity = static_cast<int>(number);
            else
                fail("--verb needs a number from 0 to 11: " + toNarrowString(parameter(1)));
        } else {
            options.managementHost = parameter(1);
            if (parseNumber(parameter(2), 65535, number) && number > 0)
                options.managementPort = static_cast<unsigned short>(number);
            else
                fail("--management needs a port from 1 to 65535: " + toNarrowString(parameter(2)));
        }
        i += count;
    }
    if (options.configFile.empty())
        fail("--config is missing");
    if (options.managementPort == 0)
        fail("--management is missing");
    return options;
}
