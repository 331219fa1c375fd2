#include "OpenVpnArguments.h"

#include "StringHelpers.h"
#include "WinePaths.h"

#include <stdexcept>

std::vector<std::wstring> openVpnArguments(const std::vector<std::wstring>& daemonArguments)
{
    std::vector<std::wstring> arguments;
    for (size_t i = 0; i < daemonArguments.size(); ++i) {
        const std::wstring& argument = daemonArguments[i];
        if (i > 0 && daemonArguments[i - 1] == L"--management" && argument == L"localhost") {
            arguments.push_back(L"127.0.0.1");
        } else if (isWindowsAbsolutePath(argument)) {
            const auto linuxPath = linuxPathOf(argument);
            if (!linuxPath)
                throw std::runtime_error("no Linux path for " + toNarrowString(argument));
            arguments.push_back(*linuxPath);
        } else {
            arguments.push_back(argument);
        }
    }
    return arguments;
}

std::wstring optionValue(const std::vector<std::wstring>& arguments, const std::wstring& option)
{
    for (size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] == option)
            return arguments[i + 1];
    }
    return std::wstring();
}
