// Loads the command API library from the path given first and calls the exports named after it,
// in a process of its own. Each result goes to standard error as "name result"; standard output
// is left to the library's console text.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

std::string narrow(const wchar_t* text)
{
    std::string result;
    for (; *text; ++text)
        result += static_cast<char>(*text);
    return result;
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    if (argc < 2)
        return 2;
    HMODULE library = LoadLibraryW(argv[1]);
    if (!library)
        return 3;
    for (int i = 2; i < argc; ++i) {
        const std::string name = narrow(argv[i]);
        void* function = reinterpret_cast<void*>(GetProcAddress(library, name.c_str()));
        if (!function)
            return 4;
        std::string result;
        if (name == "getVpnState") {
            result = std::to_string(reinterpret_cast<int (*)()>(function)());
        } else if (name == "vpnUserLogOut") {
            reinterpret_cast<void (*)()>(function)();
            result = "done";
        } else {
            result = reinterpret_cast<bool (*)()>(function)() ? "true" : "false";
        }
        std::fprintf(stderr, "%s %s\n", name.c_str(), result.c_str());
        std::fflush(stderr);
    }
    return 0;
}
