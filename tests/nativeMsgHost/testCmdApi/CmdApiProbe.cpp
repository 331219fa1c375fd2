// Calls the library's tryToStartService with standard output left as it is, to show where the
// library's console text goes when nothing diverts it.
#include <windows.h>

int main()
{
    HMODULE library = LoadLibraryW(L"NimbalCmdApi");
    if (!library)
        return 2;
    auto tryToStartService = reinterpret_cast<bool (*)()>(
        reinterpret_cast<void*>(GetProcAddress(library, "tryToStartService")));
    if (!tryToStartService)
        return 3;
    tryToStartService();
    return 0;
}
