// What the service does through the members that have not joined it yet: the HTTP server, and
// the API client's check-in and account operations (its connect and log upload have joined).
// Until a member joins, the work that needs it logs that there is nothing to run and reports
// failure; nothing here pretends to work. When a member joins, its calls replace the bodies below.
#include "ZazozeControlService.h"

#include "Logger.h"

using namespace ServiceLog;

namespace {

const char* const InternalServerError = "Internal Server Error";
const wchar_t* const NoApiClientMessage = L"The API client is not available";

} // namespace

// UpdateCheckThread: runCheckinLoop with the API client's check-in.
void ZazozeControlService::runUpdateChecks()
{
    Logger::instance().write(NoApiClientForCheckin);
}

// winServerThread: the HTTP server started on chooseLocalHttpPort, then its request loop.
void ZazozeControlService::runHttpServer()
{
    Logger::instance().write(NoHttpServer);
}

// Stop: the HTTP server's stop.
void ZazozeControlService::stopHttpServer()
{
}

RemoteServerResponse ZazozeControlService::apiClientMissing(const char* operation)
{
    Logger::instance().write(operation, NoApiClient);
    return RemoteServerResponse { 500, InternalServerError, NoApiClientMessage };
}

RemoteServerResponse ZazozeControlService::requestProductsList()
{
    return apiClientMissing("ZazozeControlService::requestProductsList");
}

RemoteServerResponse ZazozeControlService::requestOrders()
{
    return apiClientMissing("ZazozeControlService::requestOrders");
}

RemoteServerResponse ZazozeControlService::requestServersList()
{
    return apiClientMissing("ZazozeControlService::requestServersList");
}

RemoteServerResponse ZazozeControlService::requestLogin()
{
    return apiClientMissing("ZazozeControlService::requestLogin");
}

RemoteServerResponse ZazozeControlService::requestRegister()
{
    return apiClientMissing("ZazozeControlService::requestRegister");
}

RemoteServerResponse ZazozeControlService::requestPasswordReset(const std::wstring&)
{
    return apiClientMissing("ZazozeControlService::requestPasswordReset");
}

RemoteServerResponse ZazozeControlService::requestSupport(const std::wstring&, std::wstring)
{
    return apiClientMissing("ZazozeControlService::requestSupport");
}

RemoteServerResponse ZazozeControlService::requestAccountLimits()
{
    return apiClientMissing("ZazozeControlService::requestAccountLimits");
}

RemoteServerResponse ZazozeControlService::notifyAutologin()
{
    return apiClientMissing("ZazozeControlService::notifyAutologin");
}
