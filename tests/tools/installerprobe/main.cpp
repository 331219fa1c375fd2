// Stands in for an update installer: writes its whole command line, as it was started, to a file
// beside itself named after it with ".cmdline" appended, and exits.
#include <windows.h>

#include <string>

int wmain()
{
    wchar_t self[MAX_PATH] = {};
    if (GetModuleFileNameW(nullptr, self, MAX_PATH) == 0)
        return 2;
    const std::wstring commandLine = GetCommandLineW();
    const int length = WideCharToMultiByte(CP_ACP, 0, commandLine.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(length > 0 ? length - 1 : 0, '\0');
    if (length > 1)
        WideCharToMultiByte(CP_ACP, 0, commandLine.c_str(), -1, &text[0], length, nullptr, nullptr);
    // Written beside the record and moved into place, so that a reader never sees half of it.
    const std::wstring record = std::wstring(self) + L".cmdline";
    const std::wstring partial = record + L".partial";
    HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 3;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return MoveFileExW(partial.c_str(), record.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
