#pragma once
// A log file's text as lines, the way the tests compare them.

#include <algorithm>
#include <string>
#include <vector>

// The lines without their timestamps; lines that go on a logged document's text have none.
inline std::vector<std::string> unstampedLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (line.size() > 21 && line.compare(19, 2, ":\t") == 0)
            line.erase(0, 21);
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

// True when `expected` occur in `lines` in this order (other lines may come between).
inline bool linesInOrder(const std::vector<std::string>& lines, const std::vector<std::string>& expected)
{
    auto next = lines.begin();
    for (const std::string& line : expected) {
        next = std::find(next, lines.end(), line);
        if (next == lines.end())
            return false;
        ++next;
    }
    return true;
}
