// A netshell.dll that lacks NcFreeNetconProperties, for the connect tests.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
