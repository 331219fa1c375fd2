// What the service does through the API client's check-in and account operations, and through the
// HTTP server, which has not joined it yet: until it joins, the work that needs it logs that there
// is nothing to run; nothing here pretends to work. When it joins, its calls replace those bodies.
#include "ZazozeControlService.h"

#include "Logger.h"

using namespace ServiceLog;

void ZazozeControlService::runUpdateChecks()
{
    runCheckinLoop([this] { return apiOperator.checkin(); });
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
