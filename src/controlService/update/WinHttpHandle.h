#pragma once
// Owner of a WinHTTP session, connection or request handle.

#include "Handles.h"

#include <winhttp.h>

struct WinHttpHandleTraits {
    static HINTERNET none() noexcept { return nullptr; }
    static bool valid(HINTERNET h) noexcept { return h != nullptr; }
    static void close(HINTERNET h) noexcept { WinHttpCloseHandle(h); }
};
using WinHttpHandle = UniqueOwner<HINTERNET, WinHttpHandleTraits>;
