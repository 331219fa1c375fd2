// Stands in for the command API library. A test chooses the answers in answers.ini beside the
// DLL, read at each call; each call is noted in calls.txt beside it. The service-control
// functions print console text, as the real ones do when the service cannot be reached.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

HMODULE self = nullptr;

std::wstring besideSelf(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(self, path, MAX_PATH);
    std::wstring folder = path;
    return folder.substr(0, folder.rfind(L'\\') + 1) + name;
}

std::wstring answer(const wchar_t* name)
{
    wchar_t value[256] = {};
    GetPrivateProfileStringW(L"answers", name, L"", value, 256, besideSelf(L"answers.ini").c_str());
    return value;
}

bool boolAnswer(const wchar_t* name)
{
    return answer(name) == L"1";
}

void note(const char* call)
{
    std::ofstream calls(besideSelf(L"calls.txt").c_str(), std::ios::app);
    calls << call << '\n';
}

// Both ways a library reaches the console: its C runtime's stdout and the process's handle.
void printConsoleText(const wchar_t* call)
{
    std::wprintf(L"Test library console text from %ls\n", call);
    std::fflush(stdout);
    const char text[] = "Test library handle text\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, sizeof text - 1, &written, nullptr);
}

} // namespace

extern "C" {

bool isServiceInstalled()
{
    note("isServiceInstalled");
    printConsoleText(L"isServiceInstalled");
    return boolAnswer(L"isServiceInstalled");
}

bool isServiceRunning()
{
    note("isServiceRunning");
    printConsoleText(L"isServiceRunning");
    return boolAnswer(L"isServiceRunning");
}

bool tryToStartService()
{
    note("tryToStartService");
    printConsoleText(L"tryToStartService");
    return boolAnswer(L"tryToStartService");
}

// The answer is a list of states separated by blanks: the nth call gets the nth, later calls the last.
int getVpnState()
{
    static size_t calls = 0;
    note("getVpnState");
    std::wistringstream list(answer(L"getVpnState"));
    std::vector<int> states;
    for (int state = 0; list >> state;)
        states.push_back(state);
    if (states.empty())
        return 0;
    const size_t index = calls < states.size() ? calls : states.size() - 1;
    ++calls;
    return states[index];
}

bool connectVPN()
{
    note("connectVPN");
    return true;
}

bool disconnectVPN()
{
    note("disconnectVPN");
    return true;
}

void vpnUserLogOut()
{
    note("vpnUserLogOut");
}

} // extern "C"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}
