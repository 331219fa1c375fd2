#include "CmdApiLibrary.h"

#include "ChildProcess.h"

#include <gtest/gtest.h>

namespace {

template <typename Function>
void bind(HMODULE module, const char* name, Function& function)
{
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    EXPECT_NE(function, nullptr) << name;
}

CmdApiLibrary load()
{
    CmdApiLibrary library;
    library.module = LoadLibraryW(hostPath(NIMBAL_CMDAPI_DLL).c_str());
    EXPECT_NE(library.module, nullptr) << NIMBAL_CMDAPI_DLL << ": error " << GetLastError();
    if (!library.module)
        return library;
    bind(library.module, "connectVPN", library.connectVPN);
    bind(library.module, "disconnectVPN", library.disconnectVPN);
    bind(library.module, "getVpnState", library.getVpnState);
    bind(library.module, "isServiceInstalled", library.isServiceInstalled);
    bind(library.module, "isServiceRunning", library.isServiceRunning);
    bind(library.module, "tryToStartService", library.tryToStartService);
    bind(library.module, "vpnUserLogOut", library.vpnUserLogOut);
    return library;
}

} // namespace

const CmdApiLibrary& cmdApi()
{
    static const CmdApiLibrary library = load();
    if (!library.module || !library.connectVPN || !library.disconnectVPN || !library.getVpnState
        || !library.isServiceInstalled || !library.isServiceRunning || !library.tryToStartService
        || !library.vpnUserLogOut)
        ADD_FAILURE() << "the command API library is not usable";
    return library;
}
