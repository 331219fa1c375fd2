// The URLs that drive the VPN, updates, the user and the log, and the plain API queries.
#include "LocalHttpServer.h"

#include "FormFields.h"
#include "HttpReplies.h"

#include "IConfigSectionManager.h"
#include "ProductVersion.h"
#include "VpnState.h"
#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"
#include "vpn/ServerId.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <stdexcept>

namespace {

// The update type the service installs on its own, without asking the user.
constexpr const wchar_t* SilentUpdateType = L"silent";

} // namespace

void LocalHttpServer::ping(HttpRequest* request)
{
    sendText(request, 200, HttpReason::Ok, HttpBody::Ping);
}

void LocalHttpServer::getVpnState(HttpRequest* request)
{
    const int state = manager->getVpnState();
    const auto name = vpnStateText(state);
    if (!name)
        throw std::runtime_error("Not a VPN state: " + std::to_string(state));
    Logger::instance().write("VPN state is", *name);
    sendText(request, 200, HttpReason::Ok, *name);
}

void LocalHttpServer::getCurrentServer(HttpRequest* request)
{
    const std::string id = toNarrowString(mainSettings().getValue<std::wstring>(SettingsKeys::LastConnectServerId));
    Logger::instance().write("VPN current server ID is", id);
    sendText(request, 200, HttpReason::Ok, id.c_str());
}

void LocalHttpServer::getServersList(HttpRequest* request)
{
    sendResult(request, manager->requestServersList());
}

void LocalHttpServer::connectToVPN(HttpRequest* request)
{
    try {
        const std::string server = getParam(getPostBody(request), "server", true);
        Logger::instance().write("Connect to server with ID", server);
        const std::wstring serverId = toWideString(server);
        const RemoteServerResponse result = manager->connectToServer(serverId);
        // The user wants the VPN whatever this attempt gave, and the watchdog keeps trying; an id
        // the connect refused changes nothing, or the VPN would come up on the previous server.
        if (isValidServerId(serverId))
            manager->setRequiredState(true);
        sendResult(request, result);
    } catch (const std::runtime_error& error) {
        sendResult(request, { 500, HttpReason::InternalServerError, toWideString(error.what()) });
        LOG_ERROR << "LocalHttpServer::connectToVPN" << error;
    }
}

void LocalHttpServer::disconnectFromVPN(HttpRequest* request)
{
    manager->setRequiredState(false);
    sendText(request, 200, HttpReason::Ok, HttpBody::Disconnecting);
}

void LocalHttpServer::checkForUpdate(HttpRequest* request)
{
    const std::wstring type = mainSettings().getValue<std::wstring>(SettingsKeys::UpdateType);
    const std::wstring version = mainSettings().getValue<std::wstring>(SettingsKeys::OfferedVersion);
    const std::string body = version != ProductVersion && type != SilentUpdateType ? toNarrowString(type)
                                                                                   : HttpBody::UpToDate;
    sendText(request, 200, HttpReason::Ok, body.c_str());
}

void LocalHttpServer::startUpdate(HttpRequest* request)
{
    if (manager->runUpdate())
        sendText(request, 200, HttpReason::Ok, HttpBody::Updating);
    else
        sendText(request, 500, HttpReason::InternalServerError, HttpBody::UpdateNotManual);
}

void LocalHttpServer::relogin(HttpRequest* request)
{
    manager->restartUpdateCheck();
    sendText(request, 200, HttpReason::Ok, HttpBody::Relogining);
}

void LocalHttpServer::setUser(HttpRequest* request)
{
    // The settings of the user so far are kept before another user takes over.
    manager->saveUserAndMainSettings(currentSid);
    const auto fields = requiredFields(request, getPostBody(request), { "user" }, HttpBody::UserNotFound,
                                       "LocalHttpServer::setUser");
    if (!fields)
        return;
    currentSid = toWideString(fields->at(0));
    Logger::instance().write("New user SID is", toNarrowString(currentSid));
    sendText(request, 200, HttpReason::Ok, HttpBody::Setting);
}

void LocalHttpServer::getUser(HttpRequest* request)
{
    sendText(request, 200, HttpReason::Ok, toNarrowString(currentSid).c_str());
}

// The logger follows the setting at the next service start.
void LocalHttpServer::enableLogging(HttpRequest* request)
{
    mainSettings().setValue(SettingsKeys::LoggingEnabled, true);
    sendText(request, 200, HttpReason::Ok, HttpBody::LoggingEnabled);
}

void LocalHttpServer::disableLogging(HttpRequest* request)
{
    mainSettings().setValue(SettingsKeys::LoggingEnabled, false);
    sendText(request, 200, HttpReason::Ok, HttpBody::LoggingDisabled);
}

void LocalHttpServer::postLogFiles(HttpRequest* request)
{
    if (manager->postLogs())
        sendText(request, 200, HttpReason::Ok, HttpBody::Posted);
    else
        sendText(request, 500, HttpReason::InternalServerError, HttpBody::PostFailed);
}

void LocalHttpServer::getProductsList(HttpRequest* request)
{
    sendResult(request, manager->requestProductsList());
}

void LocalHttpServer::accountOrders(HttpRequest* request)
{
    sendResult(request, manager->requestOrders());
}

void LocalHttpServer::fetchAccessLimits(HttpRequest* request)
{
    sendResult(request, manager->requestAccountLimits());
}
