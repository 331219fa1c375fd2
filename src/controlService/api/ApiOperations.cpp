// The account and VPN operations: each body, its bearer-token use and its reply handler.
#include "ServerApiOperator.h"

#include "ApiFields.h"
#include "ApiWire.h"
#include "ReplyJson.h"
#include "ResponseFiles.h"
#include "ServerResponse.h"

#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"
#include "settings/SettingsKeys.h"
#include "vpn/ControllerTexts.h"
#include "vpn/OpenVpnStateController.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <windows.h>

namespace {

using Tree = boost::property_tree::wptree;

constexpr bool WithToken = true;
constexpr bool WithoutToken = false;

FormBody deviceBody(const std::wstring& id)
{
    return FormBody().add(ApiWire::DeviceIdField, id);
}

FormBody platformBody(const std::wstring& id)
{
    return deviceBody(id).add(ApiWire::PlatformField, ApiWire::Platform);
}

FormBody credentialsBody(const std::wstring& id)
{
    ConfigSection& settings = mainSettings();
    const std::wstring password = settings.getValue<std::wstring>(SettingsKeys::VpnUserPassword);
    const std::wstring login = settings.getValue<std::wstring>(SettingsKeys::VpnUserLogin);
    return deviceBody(id).add(ApiWire::EmailField, login).add(ApiWire::PasswordField, password);
}

FormBody brandedBody(const std::wstring& id)
{
    return FormBody()
        .add(ApiWire::BrandField, brandValue())
        .add(ApiWire::PlatformField, ApiWire::Platform)
        .add(ApiWire::DeviceIdField, id);
}

// A missing member raises the tree's missing-path error, which reaches the caller.
std::wstring member(const Tree& reply, const wchar_t* name)
{
    return reply.get<std::wstring>(name);
}

bool succeeded(const Tree& reply)
{
    return member(reply, ApiWire::StatusMember) == ApiWire::StatusTrue;
}

void ensureFolder(const std::wstring& folder)
{
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    if (!CreateDirectoryW(folder.c_str(), nullptr))
        Logger::instance().write("Failed to create sub-directory", toNarrowString(folder));
}

} // namespace

RemoteServerResponse ServerApiOperator::request(const std::wstring& url, const BodyBuilder& body,
                                                RemoteServerResponse (ServerApiOperator::*handler)(const std::wstring&),
                                                bool useToken)
{
    return requestServerData(
        url, body, [this, handler](const std::wstring& reply) { return (this->*handler)(reply); }, useToken);
}

RemoteServerResponse ServerApiOperator::requestServersList()
{
    return request(ServersListUrl, platformBody, &ServerApiOperator::passThroughResponse, WithToken);
}

RemoteServerResponse ServerApiOperator::requestServerConnect(const std::wstring& serverId)
{
    return requestServerData(
        ServerConnectUrl,
        [&serverId](const std::wstring& id) { return platformBody(id).add(ApiWire::VpnServerIdField, serverId); },
        [this, &serverId](const std::wstring& reply) { return handleConnectResponse(reply, serverId); }, WithToken);
}

RemoteServerResponse ServerApiOperator::requestProductsList()
{
    return request(ProductsListUrl, platformBody, &ServerApiOperator::passThroughResponse, WithToken);
}

RemoteServerResponse ServerApiOperator::requestLogin()
{
    return request(LoginUrl, credentialsBody, &ServerApiOperator::handleLoginResponse, WithoutToken);
}

RemoteServerResponse ServerApiOperator::requestRegister()
{
    return request(RegisterUrl, credentialsBody, &ServerApiOperator::handleRegisterResponse, WithoutToken);
}

RemoteServerResponse ServerApiOperator::requestOrders()
{
    return request(OrdersUrl, platformBody, &ServerApiOperator::passThroughResponse, WithToken);
}

RemoteServerResponse ServerApiOperator::requestAccountLimits()
{
    return request(LimitsUrl, deviceBody, &ServerApiOperator::handleLimitsResponse, WithToken);
}

RemoteServerResponse ServerApiOperator::requestPasswordReset(const std::wstring& email)
{
    return request(
        ResetUrl, [&email](const std::wstring& id) { return platformBody(id).add(ApiWire::EmailField, email); },
        &ServerApiOperator::handleResetResponse, WithoutToken);
}

RemoteServerResponse ServerApiOperator::requestSupport(const std::wstring& message, const std::wstring& address)
{
    const auto body = [&message, &address](const std::wstring& id) {
        FormBody form = brandedBody(id);
        if (!address.empty())
            form.add(ApiWire::AddressField, address);
        return form.add(ApiWire::MessageField, message);
    };
    return request(SupportUrl, body, &ServerApiOperator::handleSupportResponse, WithToken);
}

RemoteServerResponse ServerApiOperator::notifyAutologin()
{
    return request(AutologinedUrl, brandedBody, &ServerApiOperator::handleAutologinResponse, WithToken);
}

RemoteServerResponse ServerApiOperator::handleJsonReply(const std::wstring& text, const ReplyLogTexts& log,
                                                        const ReplyFailureMessages& failures, const TreeHandler& step)
{
    if (text.empty())
        return makeServerResponse(502, failures.emptyReply);
    Logger::instance().write(log.reply, loggedReply(text));
    Tree reply;
    try {
        readReplyJson(text, reply);
    } catch (const boost::property_tree::json_parser_error& error) {
        Logger::instance().write(log.error, error.line());
        return makeServerResponse(502, failures.syntaxError);
    }
    if (reply.empty()) {
        Logger::instance().write(log.empty);
        return makeServerResponse(502, failures.emptyJson);
    }
    return step(reply);
}

RemoteServerResponse ServerApiOperator::passThroughResponse(const std::wstring& text)
{
    return makeServerResponse(200, text);
}

RemoteServerResponse ServerApiOperator::handleLoginResponse(const std::wstring& text)
{
    return handleJsonReply(text,
                           { "Response from user login request",
                             "User login response json is empty",
                             "Error reading login request on line: " },
                           ApiReplyFailure::Common, [](const Tree& reply) {
        if (succeeded(reply)) {
            mainSettings().setValue(SettingsKeys::VpnUserToken, member(reply, ApiWire::TokenMember));
            return makeServerResponse(200, ApiMessage::Success);
        }
        Logger::instance().write("User login response status false");
        return makeServerResponse(401, member(reply, ApiWire::ErrorMessageMember));
    });
}

RemoteServerResponse ServerApiOperator::handleRegisterResponse(const std::wstring& text)
{
    return handleJsonReply(text,
                           { "Response from user register request",
                             "User register response json is empty",
                             "Error reading register response on line: " },
                           ApiReplyFailure::Common, [](const Tree& reply) {
        if (succeeded(reply))
            return makeServerResponse(200, member(reply, ApiWire::MessageMember));
        return makeServerResponse(401, member(reply, ApiWire::ErrorMessageMember));
    });
}

RemoteServerResponse ServerApiOperator::handleSupportResponse(const std::wstring& text)
{
    return handleJsonReply(text,
                           { "Response from send support message request",
                             "Send support message response json is empty",
                             "Error reading send support message response on line: " },
                           ApiReplyFailure::Common, [](const Tree& reply) {
        return makeServerResponse(succeeded(reply) ? 200 : 502, ApiMessage::Success);
    });
}

RemoteServerResponse ServerApiOperator::handleAutologinResponse(const std::wstring& text)
{
    return handleJsonReply(text,
                           { "Response from autologin notify request",
                             "Autologin notify response json is empty",
                             "Error reading autologin notify response on line: " },
                           ApiReplyFailure::Common, [](const Tree& reply) {
        return makeServerResponse(succeeded(reply) ? 200 : 502, ApiMessage::Success);
    });
}

RemoteServerResponse ServerApiOperator::handleResetResponse(const std::wstring& text)
{
    return handleJsonReply(text,
                           { "Response from reset account password request is",
                             "Reset account password response json is empty",
                             "Error reading reset account password request on line: " },
                           ApiReplyFailure::Common, [](const Tree& reply) {
        if (succeeded(reply))
            return makeServerResponse(200, ApiMessage::Success);
        Logger::instance().write("Reset account password response status false");
        return makeServerResponse(400, ApiMessage::NotRegistered);
    });
}

RemoteServerResponse ServerApiOperator::handleLimitsResponse(const std::wstring& text)
{
    return handleJsonReply(text,
                           { "Response from account limits request is",
                             "Account limits response json is empty",
                             "Error reading account limits request on line: " },
                           ApiReplyFailure::Common, [](const Tree& reply) {
        return makeServerResponse(200, member(reply, ApiWire::TimeLeftMember));
    });
}

RemoteServerResponse ServerApiOperator::handleConnectResponse(const std::wstring& text, const std::wstring& serverId)
{
    return handleJsonReply(text,
                           { "Response from Connect to Server request",
                             "Connect to server request json is empty",
                             "Error reading Connect response on line: " },
                           ApiReplyFailure::Connect, [&serverId](const Tree& reply) {
        const std::wstring folder = OpenVpnStateController::getOvpnConfigDir() + L"\\";
        ensureFolder(folder);
        // The configuration is written only once its credentials are.
        bool ok = saveResponseFile(reply, folder, ApiWire::AuthMember, ApiWire::AuthFileName);
        if (ok) {
            const std::wstring name = serverId.empty() ? std::wstring(DaemonFiles::DefaultConfigName) : serverId;
            ok = saveResponseFile(reply, folder, ApiWire::ConfigMember, name + DaemonFiles::ConfigExtension);
        }
        if (!ok)
            return makeServerResponse(500, ApiMessage::SaveConfigFailed);
        mainSettings().setValue(SettingsKeys::LastConnectServerId, serverId);
        return makeServerResponse(200, ApiMessage::Success);
    });
}
