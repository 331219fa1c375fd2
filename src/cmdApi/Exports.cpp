#include "Exports.h"

#include "ClientRegistry.h"
#include "Logger.h"
#include "ServiceState.h"

#include <exception>

namespace {

constexpr int VpnStateUnreachable = 1; // disconnected

// The account data that a log-out removes, in the order it is removed.
const wchar_t* const VpnUserKeys[] = {
    L"Hidden.VpnUser.login",
    L"Hidden.VpnUser.password",
    L"Hidden.VpnUser.token",
    L"Hidden.VpnUser.rememberMe",
};

void logFailure(const char* function, const char* what) noexcept
{
    try {
        LOG_ERROR << function << "failed:" << what;
    } catch (...) {
    }
}

// Runs an export's body; an exception becomes `failed`, so that none crosses into the caller.
template <typename Result, typename Body>
Result guarded(const char* function, Result failed, Body body) noexcept
{
    try {
        return body();
    } catch (const std::exception& error) {
        logFailure(function, error.what());
    } catch (...) {
        logFailure(function, "unknown exception");
    }
    return failed;
}

} // namespace

extern "C" {

bool connectVPN()
{
    return guarded("connectVPN", false, [] {
        const auto client = getClient();
        return client && client->setConnection(true);
    });
}

bool disconnectVPN()
{
    return guarded("disconnectVPN", false, [] {
        const auto client = getClient();
        return client && client->setConnection(false);
    });
}

int getVpnState()
{
    return guarded("getVpnState", VpnStateUnreachable, [] {
        const auto client = getClient();
        return client ? client->requestVpnState() : VpnStateUnreachable;
    });
}

bool isServiceInstalled()
{
    return guarded("isServiceInstalled", false, [] { return serviceInstalled(); });
}

bool isServiceRunning()
{
    return guarded("isServiceRunning", false, [] { return checkServiceState(RunningMask); });
}

bool tryToStartService()
{
    return guarded("tryToStartService", false, [] { return startAndCheckService(); });
}

void vpnUserLogOut()
{
    guarded("vpnUserLogOut", false, [] {
        const auto client = getClient();
        if (!client)
            return false;
        // Each key goes out whatever became of the one before.
        for (const wchar_t* key : VpnUserKeys)
            client->removeSetting(key);
        return true;
    });
}

} // extern "C"
