// Reading and writing one setting of the general section by its dotted path.
#include "LocalHttpServer.h"

#include "HttpReplies.h"

#include "settings/ConfigManager.h"
#include "settings/SettingPath.h"
#include "settings/SettingsKeys.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <optional>

namespace {

// The last check-in answer names the program the service downloads and starts: only the server sets it.
bool isServerOwned(const std::wstring& path)
{
    const std::wstring branch = SettingsKeys::LastLoginRequestInfo;
    return path.compare(0, branch.size(), branch) == 0 && (path.size() == branch.size() || path[branch.size()] == L'.');
}

std::string headerText(const char* text, USHORT length)
{
    return text == nullptr ? std::string() : std::string(text, length);
}

} // namespace

void LocalHttpServer::getSetting(HttpRequest* request)
{
    const auto fields =
        requiredFields(request, getPostBody(request), { "name" }, HttpBody::NameNotFound,
                       "LocalHttpServer::getSetting");
    if (!fields)
        return;
    const std::string& name = fields->at(0);
    Logger::instance().write("Requested setting by name", name);
    const std::wstring path = toWideString(name);
    // Every local user reaches this server: the stored password is never handed out, by its name
    // or an alias of it, and a name that names no setting reads as a missing one.
    const SettingPath parsed(path);
    const std::string value = parsed.wellFormed() && !parsed.isPassword()
        ? toNarrowString(mainSettings().getValue<std::wstring>(path))
        : std::string();
    sendText(request, 200, HttpReason::Ok, value.c_str());
}

void LocalHttpServer::setSetting(HttpRequest* request)
{
    // Name and value come from two headers of their own, not from the body.
    std::optional<std::wstring> name;
    std::optional<std::wstring> value;
    const HTTP_REQUEST_HEADERS& headers = request->Headers;
    for (USHORT i = 0; i < headers.UnknownHeaderCount; ++i) {
        const HTTP_UNKNOWN_HEADER& header = headers.pUnknownHeaders[i];
        const std::string headerName = headerText(header.pName, header.NameLength);
        const std::string headerValue = headerText(header.pRawValue, header.RawValueLength);
        if (headerName == "name")
            name = toWideString(headerValue);
        else if (headerName == "value")
            value = toWideString(headerValue);
    }
    if (!name || !value) {
        sendText(request, 400, HttpReason::BadRequest, HttpBody::NameOrValueNotFound);
        return;
    }
    if (isServerOwned(*name)) {
        LOG_ERROR << "LocalHttpServer::setSetting" << "refused to change" << *name;
        sendText(request, 400, HttpReason::BadRequest, HttpBody::ReadOnlySetting);
        return;
    }
    // A value beside children could not be written as JSON, and the general document would not
    // be saved again.
    if (!mainSettings().trySetValue(*name, *value)) {
        LOG_ERROR << "LocalHttpServer::setSetting refused a name that cannot hold a value:" << *name;
        sendText(request, 400, HttpReason::BadRequest, HttpBody::NotASettingName);
        return;
    }
    sendText(request, 200, HttpReason::Ok, HttpBody::Success);
}
