// The log upload: plain HTTP, no token, the machine's facts, the caller's log fields and the
// routing table.
#include "LogUpload.h"

#include "ServerApiOperator.h"

#include "ApiFields.h"
#include "ApiWire.h"
#include "ProductVersion.h"
#include "WinHttpRequest.h"

#include "settings/ConfigManager.h"
#include "settings/GlobalPaths.h"
#include "settings/SettingsKeys.h"

#include "FileHelpers.h"
#include "Logger.h"
#include "ProcessHelpers.h"
#include "StringHelpers.h"

#include <windows.h>

namespace {

constexpr std::int64_t RoutingTableLimit = 65536;

// Removes the routing table on every way out.
class TemporaryFile {
public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    ~TemporaryFile() { DeleteFileW(path_.c_str()); }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    const std::wstring& path() const { return path_; }

private:
    std::wstring path_;
};

} // namespace

std::wstring routingTablePath()
{
    return TempPath + ApiWire::RoutingTableFilePrefix + std::to_wstring(GetCurrentThreadId()) +
        ApiWire::RoutingTableFileSuffix;
}

bool ServerApiOperator::postLogfiles(const std::wstring& logFields)
{
    Logger& log = Logger::instance();
    log.write("ServerApiOperator::postLogfiles",
              "posting logfile Nimbal Privacy Service, version " NIMBAL_VERSION " built Mon Aug 24 18:04:29 2015");
    WinHttpRequest request(&abandoned);
    if (!request.create()) {
        log.write("ServerApiOperator::postLogfiles", "cannot create WinHttp.WinHttpRequest.5.1");
        return false;
    }
    if (!request.openPost(LogUploadUrl)) {
        log.write("Cannot create POST request");
        return false;
    }
    if (!request.setHeader(ApiWire::ContentTypeHeader, ApiWire::FormContentType)) {
        log.write("ServerApiOperator::postLogfiles", "Cannot set request header");
        return false;
    }

    const TemporaryFile table(routingTablePath());
    // Quoted: the temporary folder may hold blanks. The exit code tells nothing the table does not.
    launchAndWait(ApiWire::RoutingTableCommand + (L"\"" + table.path() + L"\""));

    FormBody body;
    body.add(ApiWire::UserField, mainSettings().getValue<std::wstring>(SettingsKeys::ClientGuid))
        .add(ApiWire::VersionField, ApiWire::Version)
        .add(ApiWire::BrandField, brandValue())
        .add(ApiWire::PlatformField, ApiWire::Platform);
    addOsFields(body)
        .appendFields(logFields)
        .add(ApiWire::RoutingTableField, urlEscape(readFileTail(RoutingTableLimit, table.path())));

    // The reply's status and content tell nothing more: the logs have gone out.
    if (!request.send(body.text())) {
        LOG_ERROR << "ServerApiOperator::postLogfiles" << "Cannot send request";
        return false;
    }
    LOG_INFO << "response: " << request.responseText();
    return true;
}
