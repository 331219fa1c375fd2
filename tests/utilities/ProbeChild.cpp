// A small program for the process tests to start, find and end.
//   exit N          ends with exit code N
//   wait            sleeps (at most two minutes) until it is ended from outside
//   env NAME FILE   writes the value of the environment variable NAME, or "<unset>", to FILE
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

int writeVariable(const wchar_t* name, const std::wstring& file)
{
    wchar_t value[1024] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    const std::wstring text = (length > 0 && length < 1024) ? value : L"<unset>";
    // Written beside the file and moved into place, so that a reader never sees half of it.
    const std::wstring partial = file + L".partial";
    HANDLE handle = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(handle);
    return MoveFileExW(partial.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 3;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"exit" && argc > 2)
        return _wtoi(argv[2]);
    if (mode == L"wait") {
        Sleep(120000);
        return 0;
    }
    if (mode == L"env" && argc > 3)
        return writeVariable(argv[2], argv[3]);
    return 100;
}
