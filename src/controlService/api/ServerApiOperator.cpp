#include "ServerApiOperator.h"

#include "ApiFields.h"
#include "ApiWire.h"
#include "ClientGuid.h"
#include "FirewallException.h"
#include "ServerResponse.h"
#include "WinHttpRequest.h"

#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"
#include "settings/SettingsKeys.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <boost/property_tree/json_parser.hpp>

#include <sstream>

void ServerApiOperator::setSettingsChangedCallback(std::function<void()> callback)
{
    settingsChangedCallback = std::move(callback);
}

std::wstring ServerApiOperator::currentDeviceId() const
{
    std::lock_guard<std::mutex> lock(deviceIdMutex);
    return deviceId;
}

void ServerApiOperator::setDeviceId(const std::wstring& id)
{
    std::lock_guard<std::mutex> lock(deviceIdMutex);
    deviceId = id;
}

bool ServerApiOperator::checkin()
{
    bool stored = false;
    {
        std::lock_guard<std::mutex> lock(checkinMutex);
        try {
            stored = checkinLocked();
        } catch (const std::exception& error) {
            Logger::instance().write("Login failed with", error.what());
        } catch (...) {
            Logger::instance().write("Login failed with unknown exception");
        }
    }
    // Once the lock is free: what the callback does (the required state's connect) may need a
    // check-in of its own, on this very thread.
    if (stored)
        handleCheckinResponse();
    return stored;
}

bool ServerApiOperator::checkinLocked()
{
    Logger& log = Logger::instance();
    WinHttpRequest request(&abandoned);
    if (!request.create()) {
        log.write("ServerApiOperator::checkin", "cannot create WinHttp.WinHttpRequest.5.1");
        return false;
    }
    ensureFirewallException();

    ConfigSection& settings = mainSettings();
    const wchar_t* method = ApiWire::MethodPeriodical;
    if (settings.getValue<std::wstring>(SettingsKeys::InstalledVersion) != ApiWire::Version) {
        method = ApiWire::MethodUpdate;
        // Before anything is sent: the next check-in is periodical even if this one fails.
        settings.setValue(SettingsKeys::InstalledVersion, ApiWire::Version);
    }
    bool isNew = false;
    const std::wstring id = getClientGuid(isNew);
    setDeviceId(id);
    if (isNew)
        method = ApiWire::MethodInstall;
    else
        checkedIn = true;

    log.write("ServerApiOperator::checkin", "Request to", toNarrowString(CheckinUrl));
    if (!request.openPost(CheckinUrl)) {
        log.write("Cannot create POST request");
        return false;
    }
    if (!request.setHeader(ApiWire::ContentTypeHeader, ApiWire::FormContentType)) {
        log.write("Cannot set request header");
        return false;
    }
    request.relaxCertificateChecksOnXp();

    FormBody body;
    body.add(ApiWire::DeviceIdField, id)
        .add(ApiWire::VersionField, ApiWire::Version)
        .add(ApiWire::BrandField, brandValue())
        .add(ApiWire::MethodField, method)
        .add(ApiWire::PlatformField, ApiWire::Platform);
    addOsFields(body);
    if (!request.send(body.text())) {
        log.write("Cannot send request");
        return false;
    }
    // Whatever the status: a non-empty object is a reply worth storing.
    const std::wstring reply = request.responseText();
    log.write("POSTed\n", body.loggedText(), "\nreceived:\n", loggedReply(reply));
    return parseCheckinResponse(reply);
}

bool ServerApiOperator::parseCheckinResponse(const std::wstring& text)
{
    if (text.empty())
        return false;
    Logger& log = Logger::instance();
    log.write("Response from Checkin request", loggedReply(text));

    Tree reply;
    try {
        std::wistringstream stream(text);
        boost::property_tree::read_json(stream, reply);
    } catch (const boost::property_tree::json_parser_error& error) {
        log.write("Error reading checkin response on line: ", error.line());
        return false;
    }
    if (reply.empty()) {
        log.write("Checkin request json is empty");
        return false;
    }
    mainSettings().putChild(SettingsKeys::LastLoginRequestInfo, reply);
    return true;
}

void ServerApiOperator::handleCheckinResponse()
{
    try {
        copyCheckinSettings(mainSettings());
        if (settingsChangedCallback)
            settingsChangedCallback();
    } catch (const std::exception& error) {
        Logger::instance().write("ServerApiOperator::handleCheckinResponse", error.what());
    } catch (...) {
        Logger::instance().write("ServerApiOperator::handleCheckinResponse", "unknown exception");
    }
}

RemoteServerResponse ServerApiOperator::requestServerData(const std::wstring& url, const BodyBuilder& buildBody,
                                                          const ResponseHandler& handler, bool useToken)
{
    if (!checkedIn && !checkin())
        return makeServerResponse(500, ApiMessage::CheckinFailed);

    WinHttpRequest request(&abandoned);
    if (!request.create())
        return makeServerResponse(500, ApiMessage::CannotCreateRequest);
    const std::wstring id = currentDeviceId();
    if (id.empty())
        return makeServerResponse(500, ApiMessage::EmptyGuid);
    // Built only now, so that it carries the identifier that the check-in above may just have set.
    const FormBody body = buildBody(id);

    Logger& log = Logger::instance();
    log.write("ServerApiOperator::requestServerData", "Request to", toNarrowString(url), "?", body.loggedText());
    if (!request.openPost(url))
        return makeServerResponse(500, ApiMessage::CannotOpen);
    ConfigSection& settings = mainSettings();
    if (useToken && settings.hasValue(SettingsKeys::VpnUserToken))
        request.setHeader(ApiWire::AuthorizationHeader,
                          ApiWire::BearerPrefix + settings.getValue<std::wstring>(SettingsKeys::VpnUserToken));
    if (!request.setHeader(ApiWire::ContentTypeHeader, ApiWire::FormContentType))
        return makeServerResponse(400, ApiMessage::CannotSetHeader);
    request.relaxCertificateChecksOnXp();

    if (!request.send(body.text())) {
        LOG_ERROR << "ServerApiOperator::requestServerData" << "failed to send request to url" << url << "with params"
                  << body.loggedText() << getLastErrorText();
        return makeServerResponse(502, ApiMessage::SendFailed);
    }

    const long status = request.status();
    if (status == 200) {
        const std::wstring reply = request.responseText();
        log.write("POSTed\n", body.loggedText(), "\nreceived:\n", loggedReply(reply));
        return handler(reply);
    }
    if (status == 401) {
        log.write("ServerApiOperator::requestServerData", "Got 401 response code");
        return makeServerResponse(401, ApiMessage::TokenExpired);
    }
    const std::wstring statusText = request.statusText();
    log.write("Unexpected response code", status, "with status:", toNarrowString(statusText));
    return makeServerResponse(502, statusText);
}
