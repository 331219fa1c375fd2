// The command API library: plain exported functions over the service's pipe and the SCM.

#include "Logger.h"

#include <windows.h>

namespace {

// Made while the library loads, so that it is destroyed only after the pipe clients.
[[maybe_unused]] Logger& logger = Logger::instance();

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
