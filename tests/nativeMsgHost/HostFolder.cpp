#include "HostFolder.h"

#include <regex>
#include <sstream>

std::string lengthPrefix(std::uint32_t length)
{
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes += static_cast<char>((length >> shift) & 0xFF);
    return bytes;
}

std::string frame(const std::string& text)
{
    return lengthPrefix(static_cast<std::uint32_t>(text.size())) + text;
}

std::string frames(const Texts& texts)
{
    std::string stream;
    for (const std::string& text : texts)
        stream += frame(text);
    return stream;
}

Texts framedTexts(const std::string& stream)
{
    Texts texts;
    size_t at = 0;
    while (at < stream.size()) {
        if (stream.size() - at < 4) {
            ADD_FAILURE() << "a length cut short at byte " << at << " of " << stream.size();
            break;
        }
        std::uint32_t length = 0;
        for (int i = 3; i >= 0; --i)
            length = (length << 8) | static_cast<unsigned char>(stream[at + i]);
        at += 4;
        if (stream.size() - at < length) {
            ADD_FAILURE() << "a text of " << length << " bytes cut short in " << stream;
            break;
        }
        texts.push_back(stream.substr(at, length));
        at += length;
    }
    return texts;
}

HostFolder::HostFolder(const char* library)
{
    copyHere(NIMBAL_MSGHOST_EXE, L"NimbalMsgHost.exe");
    if (library)
        copyHere(library, L"NimbalCmdApi.dll");
}

void HostFolder::copyHere(const char* buildPath, const wchar_t* name) const
{
    EXPECT_TRUE(CopyFileW(hostPath(buildPath).c_str(), folder_.file(name).c_str(), FALSE))
        << buildPath << ": error " << GetLastError();
}

void HostFolder::setAnswers(const Answers& answers) const
{
    std::string ini = "[answers]\r\n";
    for (const auto& [name, value] : answers)
        ini += std::string(name.begin(), name.end()) + "=" + std::string(value.begin(), value.end()) + "\r\n";
    writeWholeFile(folder_.file(L"answers.ini"), ini);
}

ChildResult HostFolder::run(const std::string& input, const wchar_t* program) const
{
    const ChildResult result = runChildApart(quoted(folder_.file(program)), folder_.path(), input, 60000);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.timedOut);
    return result;
}

Texts HostFolder::libraryCalls() const
{
    Texts calls;
    std::istringstream lines(readWholeFile(folder_.file(L"calls.txt")));
    for (std::string line; std::getline(lines, line);)
        calls.push_back(line.substr(0, line.find('\r')));
    return calls;
}

Texts HostFolder::logLines() const
{
    static const std::regex line("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d:\\t([^\\r\\n]*)\\r\\n");
    const std::string text = readWholeFile(folder_.file(L"logfile.txt"));
    Texts lines;
    size_t matched = 0;
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
        EXPECT_EQ(static_cast<size_t>(it->position()), matched) << "not a log line: " << text.substr(matched);
        lines.push_back((*it)[1]);
        matched = it->position() + it->length();
    }
    EXPECT_EQ(matched, text.size()) << "not a log line: " << text.substr(matched);
    return lines;
}

bool HostFolder::hasLog() const
{
    return fileExists(folder_.file(L"logfile.txt"));
}
