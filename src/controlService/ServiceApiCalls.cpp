// What the service does through the API client: the check-in loop's check-in and the account
// operations that the front ends ask for.
#include "ZazozeControlService.h"

#include "Logger.h"

void ZazozeControlService::runUpdateChecks()
{
    runCheckinLoop([this] { return apiOperator.checkin(); });
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
