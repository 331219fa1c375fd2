#pragma once
// Command lines split into arguments and put together again, by the rules Windows programs and
// Wine's start of Linux programs both follow.

#include <string>
#include <vector>

// The arguments of this process's command line; the first is the program.
std::vector<std::wstring> processArguments();

// `argument` as it must appear in a command line to come back unchanged as one argument.
std::wstring quoteArgument(const std::wstring& argument);

// The arguments, each quoted as needed, separated by blanks.
std::wstring joinArguments(const std::vector<std::wstring>& arguments);
