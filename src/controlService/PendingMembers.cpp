// What the service does through the members that have not joined it yet: the VPN daemon
// controller, the API client and the HTTP server. Until a member joins, the work
// that needs it logs that there is nothing to run and reports failure; nothing here pretends to
// work. When a member joins, its calls replace the bodies below.
#include "ZazozeControlService.h"

#include "VpnState.h"
#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"
#include "settings/SettingsKeys.h"

#include "Logger.h"

using namespace ServiceLog;

namespace {

const char* const InternalServerError = "Internal Server Error";
const wchar_t* const NoApiClientMessage = L"The API client is not available";

} // namespace

void ZazozeControlService::runUpdateChecks()
{
    runCheckinLoop([this] { return apiOperator.checkin(); });
}

// winServerThread: the HTTP server started on chooseLocalHttpPort, then its request loop.
void ZazozeControlService::runHttpServer()
{
    Logger::instance().write(NoHttpServer);
}

// setRequiredState and onSettingsUpdated: the daemon brought in line with Internal.ovpnRequiredState.
void ZazozeControlService::applyRequiredState()
{
    Logger::instance().write(NoDaemonController);
}

// The daemon controller's management port.
void ZazozeControlService::setVpnControlPort(int)
{
}

// Stop: the daemon controller's stop.
void ZazozeControlService::stopVpnDaemon()
{
}

// Stop: the HTTP server's stop.
void ZazozeControlService::stopHttpServer()
{
}

// The daemon controller's configuration folder.
std::wstring ZazozeControlService::vpnConfigFolder() const
{
    return AppdataPath + L"ovpn_config";
}

bool ZazozeControlService::postLogfiles(const std::wstring& fields)
{
    return apiOperator.postLogfiles(fields);
}

// No daemon can run without its controller: the state follows the user's wish alone.
int ZazozeControlService::getVpnState()
{
    return mainSettings().getValue<bool>(SettingsKeys::OvpnRequiredState) ? VPN_DISCONNECTED : VPN_NOTCONNECTED;
}

RemoteServerResponse ZazozeControlService::connectToServer(const std::wstring&)
{
    Logger::instance().write(NoConnect);
    return RemoteServerResponse { 500, InternalServerError, NoApiClientMessage };
}

// The API operations reach the server unchanged; what they throw is for the front end to catch.
RemoteServerResponse ZazozeControlService::requestProductsList()
{
    return apiOperator.requestProductsList();
}

RemoteServerResponse ZazozeControlService::requestOrders()
{
    return apiOperator.requestOrders();
}

RemoteServerResponse ZazozeControlService::requestServersList()
{
    return apiOperator.requestServersList();
}

RemoteServerResponse ZazozeControlService::requestLogin()
{
    return apiOperator.requestLogin();
}

RemoteServerResponse ZazozeControlService::requestRegister()
{
    return apiOperator.requestRegister();
}

RemoteServerResponse ZazozeControlService::requestPasswordReset(const std::wstring& email)
{
    return apiOperator.requestPasswordReset(email);
}

RemoteServerResponse ZazozeControlService::requestSupport(const std::wstring& message, std::wstring address)
{
    return apiOperator.requestSupport(message, address);
}

RemoteServerResponse ZazozeControlService::requestAccountLimits()
{
    return apiOperator.requestAccountLimits();
}

RemoteServerResponse ZazozeControlService::notifyAutologin()
{
    return apiOperator.notifyAutologin();
}
