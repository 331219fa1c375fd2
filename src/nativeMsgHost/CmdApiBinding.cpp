#include "CmdApiBinding.h"

#include "Handles.h"

#include <windows.h>

namespace {

template <typename Function>
Function lookUp(HMODULE library, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

} // namespace

std::optional<CmdApi> bindCmdApi()
{
    // No extension and no path: the exe's folder comes first in the search.
    LibraryModule library(LoadLibraryW(L"NimbalCmdApi"));
    if (!library)
        return std::nullopt;

    const CmdApi api {
        lookUp<CmdApi::BoolQuery>(library.get(), "isServiceInstalled"),
        lookUp<CmdApi::BoolQuery>(library.get(), "isServiceRunning"),
        lookUp<CmdApi::BoolQuery>(library.get(), "tryToStartService"),
        lookUp<CmdApi::IntQuery>(library.get(), "getVpnState"),
    };
    if (!api.isServiceInstalled || !api.isServiceRunning || !api.tryToStartService || !api.getVpnState)
        return std::nullopt;

    // Loaded for the rest of the process: its pipe clients are meant to live until exit.
    library.release();
    return api;
}
