#include "CommandLine.h"

#include <windows.h>
#include <shellapi.h>

#include "Handles.h"

std::vector<std::wstring> processArguments()
{
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    LocalMemory owner(list);
    std::vector<std::wstring> arguments;
    for (int i = 0; list && i < count; ++i)
        arguments.emplace_back(list[i]);
    return arguments;
}

std::wstring quoteArgument(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    // Backslashes are literal except before a quote: there each must be doubled, and the quote escaped.
    std::wstring text = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        text.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        text += c;
    }
    text.append(backslashes * 2, L'\\');
    text += L'"';
    return text;
}

std::wstring joinArguments(const std::vector<std::wstring>& arguments)
{
    std::wstring line;
    for (const std::wstring& argument : arguments) {
        if (!line.empty())
            line += L' ';
        line += quoteArgument(argument);
    }
    return line;
}
