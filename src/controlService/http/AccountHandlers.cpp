// The account URLs: credentials kept in the general settings, requests forwarded to the vendor API.
#include "LocalHttpServer.h"

#include "FormFields.h"
#include "HttpReplies.h"

#include "IConfigSectionManager.h"
#include "settings/ConfigManager.h"
#include "settings/SettingsKeys.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <mutex>

void LocalHttpServer::accountRegister(HttpRequest* request)
{
    accountRequest(request, &IConfigSectionManager::requestRegister);
}

void LocalHttpServer::accountLogin(HttpRequest* request)
{
    accountRequest(request, &IConfigSectionManager::requestLogin);
}

void LocalHttpServer::accountRequest(HttpRequest* request, RemoteServerResponse (IConfigSectionManager::*operation)())
{
    switch (updateAccCredentials(request)) {
    case Credentials::Answered:
        return;
    case Credentials::Empty:
        sendText(request, 400, HttpReason::BadRequest, HttpBody::EnterCorrectCredentials);
        return;
    case Credentials::Stored:
        break;
    }
    RemoteServerResponse result;
    try {
        result = (manager->*operation)();
    } catch (...) {
        // A reply that could not be read accepted nothing either; the request loop answers the failure.
        clearAccountCredentials();
        throw;
    }
    // Credentials the API refused are not kept.
    if (result.code != 200)
        clearAccountCredentials();
    sendResult(request, result);
}

LocalHttpServer::Credentials LocalHttpServer::updateAccCredentials(HttpRequest* request)
{
    const std::string body = getPostBody(request);
    const auto fields = requiredFields(request, body, { "login", "pass" }, HttpBody::CredentialsNotFound,
                                       "LocalHttpServer::updateAccCredentials");
    if (!fields)
        return Credentials::Answered;
    const std::string& login = fields->at(0);
    const std::string& pass = fields->at(1);
    const std::string rememberMe = getParam(body, "rememberMe", true);
    if (login.empty() || pass.empty())
        return Credentials::Empty;
    ConfigSection& settings = mainSettings();
    settings.setValue(SettingsKeys::VpnUserLogin, toWideString(login));
    settings.setValue(SettingsKeys::VpnUserPassword, toWideString(pass));
    // An empty choice keeps the one stored before.
    if (!rememberMe.empty())
        settings.setValue(SettingsKeys::VpnUserRememberMe, toWideString(rememberMe));
    return Credentials::Stored;
}

void LocalHttpServer::accountLogout(HttpRequest* request)
{
    clearAccountCredentials();
    sendText(request, 200, HttpReason::Ok, HttpBody::Success);
}

void LocalHttpServer::clearAccountCredentials()
{
    ConfigSection& settings = mainSettings();
    // One change: no reader sees a login without its password.
    std::unique_lock<SrwLock> lock(settings.mutex);
    for (const wchar_t* key : { SettingsKeys::VpnUserLogin, SettingsKeys::VpnUserPassword, SettingsKeys::VpnUserToken,
                                SettingsKeys::VpnUserRememberMe })
        settings.eraseNode(key);
}

bool LocalHttpServer::hasAccountToken()
{
    return mainSettings().hasValue(SettingsKeys::VpnUserToken);
}

void LocalHttpServer::accountResetPass(HttpRequest* request)
{
    const auto fields =
        requiredFields(request, getPostBody(request), { "email" }, HttpBody::NameNotFound,
                       "LocalHttpServer::accountResetPass");
    if (fields)
        sendResult(request, manager->requestPasswordReset(toWideString(fields->at(0))));
}

void LocalHttpServer::accountToken(HttpRequest* request)
{
    const std::string token = toNarrowString(mainSettings().getValue<std::wstring>(SettingsKeys::VpnUserToken));
    sendText(request, 200, token.empty() ? HttpReason::TokenNotExist : HttpReason::Ok, token.c_str());
}

void LocalHttpServer::sendSupportMessage(HttpRequest* request)
{
    // A missing message is left to the request loop's answer.
    const std::string body = getPostBody(request);
    const std::string message = getParam(body, "message", false);
    const std::string address = getParam(body, "address", true);
    if (hasAccountToken() || !address.empty())
        sendResult(request, manager->requestSupport(toWideString(message), toWideString(address)));
    else
        sendResult(request, { 400, HttpReason::BadRequest, toWideString(HttpBody::AddressEmpty) });
}

void LocalHttpServer::remoteLogin(HttpRequest* request)
{
    if (!processRemoteLogin(request))
        return;
    const RemoteServerResponse result = manager->notifyAutologin();
    // The token is stored: the client has logged in, whatever the notification gave.
    sendResult(request, { 200, result.statusText, result.message });
}

bool LocalHttpServer::processRemoteLogin(HttpRequest* request)
{
    const auto fields = requiredFields(request, getPostBody(request), { "token", "lifetime", "creationtime" },
                                       HttpBody::RemoteLoginNotFound, "LocalHttpServer::processRemoteLogin");
    if (!fields)
        return false;
    for (const std::string& value : *fields) {
        if (value.empty()) {
            sendText(request, 400, HttpReason::BadRequest, HttpBody::RemoteLoginEmpty);
            return false;
        }
    }
    // The lifetime and the creation time are only required, not kept.
    mainSettings().setValue(SettingsKeys::VpnUserToken, toWideString(fields->at(0)));
    return true;
}
