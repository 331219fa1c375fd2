#include "Exports.h"

#include "ClientRegistry.h"
#include "Logger.h"
#include "ServiceState.h"

#include <exception>
#include <optional>

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

// Code 8 with "true" or "false": whether it was written; none without a connection.
std::optional<bool> sendRequiredState(bool enable)
{
    return sendRequest([enable](CommandsClient& client) { return client.setConnection(enable); },
                       [](bool written) { return !written; });
}

} // namespace

extern "C" {

bool connectVPN()
{
    return guarded("connectVPN", false, [] { return sendRequiredState(true).value_or(false); });
}

bool disconnectVPN()
{
    return guarded("disconnectVPN", false, [] { return sendRequiredState(false).value_or(false); });
}

int getVpnState()
{
    return guarded("getVpnState", VpnStateUnreachable, [] {
        // A reply of 1 is told from a failed read by the thread's last error.
        return sendRequest([](CommandsClient& client) { return client.requestVpnState(); },
                           [](int state) { return state == VpnStateUnreachable; })
            .value_or(VpnStateUnreachable);
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
        // Each key goes out whatever became of the one before, until no connection can be had.
        for (const wchar_t* key : VpnUserKeys) {
            const auto written = sendRequest([key](CommandsClient& client) { return client.removeSetting(key); },
                                             [](bool done) { return !done; });
            if (!written)
                return false;
        }
        return true;
    });
}

} // extern "C"
