// The command API library: plain exported functions over the service's pipe and the SCM.

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
