#include "Journal.h"

#include "Handles.h"

#include <windows.h>

#include <cstdio>

const wchar_t RecordFileName[] = L"test-daemon.record";

namespace {

// Opened and closed for every line, so that nothing is lost when the daemon is terminated and
// tests can read the files while it runs.
void appendTo(const std::wstring& path, const std::string& text)
{
    UniqueHandle file(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file)
        WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::string timestamp()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

} // namespace

Journal::Journal(std::wstring recordPath, std::wstring logPath)
    : recordPath_(std::move(recordPath)), logPath_(std::move(logPath))
{
}

void Journal::note(const std::string& line) const
{
    appendTo(recordPath_, line + "\n");
    if (!logPath_.empty())
        appendTo(logPath_, timestamp() + " test daemon " + line + "\n");
}

std::string escaped(const std::string& bytes)
{
    std::string text;
    for (unsigned char c : bytes) {
        if (c == '\r') {
            text += "\\r";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\\') {
            text += "\\\\";
        } else if (c < 0x20 || c >= 0x7f) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            text += hex;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text;
}
