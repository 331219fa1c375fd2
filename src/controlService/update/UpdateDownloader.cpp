#include "UpdateDownloader.h"

#include "RunningFlag.h"
#include "WinHttpHandle.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <shlwapi.h>

#include <exception>
#include <vector>

namespace {

constexpr DWORD UrlComponentsSize = 60;
constexpr DWORD HttpOk = 200;

struct CrackedUrl {
    std::wstring scheme;
    std::wstring host;
    std::wstring pathAndRest;   // the URL path with the query that follows it
    INTERNET_PORT port = 0;
    bool secure = false;
};

bool crackUrl(const std::wstring& url, CrackedUrl& cracked)
{
    URL_COMPONENTS parts {};
    parts.dwStructSize = UrlComponentsSize;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts))
        return false;
    cracked.scheme.assign(parts.lpszScheme, parts.dwSchemeLength);
    cracked.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    // Everything after the host and port: the path and any query, as given.
    cracked.pathAndRest = parts.lpszUrlPath ? std::wstring(parts.lpszUrlPath) : std::wstring();
    cracked.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    cracked.port = parts.nPort != 0 ? parts.nPort
                                    : (cracked.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    return true;
}

// The answer's status code, or 0 when it cannot be read.
DWORD statusCode(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return 0;
    return status;
}

} // namespace

UpdateDownloader::~UpdateDownloader()
{
    if (downloading) {
        cancel_downloading = true;
        Logger::instance().write("UpdateDownloader::~UpdateDownloader",
                                 "ERROR: must abort downloading update before destructing the object");
    }
}

bool UpdateDownloader::downloadFile(const std::wstring& url, const std::wstring& path)
{
    const RunningFlag running(downloading);
    Logger& log = Logger::instance();
    if (url.empty()) {
        log.write("Downloading file: empty URL");
        return false;
    }
    CrackedUrl cracked;
    if (!crackUrl(url, cracked)) {
        log.write("Error in WinHttpCrackUrl", GetLastError());
        return false;
    }
    // The installer runs as LocalSystem: only a server that proves who it is (WinHTTP checks its
    // certificate) may supply it, not anyone on the way to a plain-HTTP one.
    if (!cracked.secure) {
        log.write("Downloading file: refused, the URL is not https:", toNarrowString(url));
        return false;
    }
    log.write("Downloading file '", toNarrowString(path), "' from '", toNarrowString(url), "'");

    const wchar_t* const fileName = PathFindFileNameW(path.c_str());
    if (!fileName || *fileName == L'\0') {
        log.write("Incorrect path", toNarrowString(path));
        return false;
    }
    const std::wstring folder = path.substr(0, static_cast<std::wstring::size_type>(fileName - path.c_str()));
    if (!folder.empty() && !CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        log.write("Cannot create output file directory", toNarrowString(path));
        return false;
    }
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    if (!file) {
        log.write("Cannot open output file", toNarrowString(path));
        return false;
    }

    bool failed = true;
    DWORD error = 0;
    {
        WinHttpHandle session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                          WINHTTP_NO_PROXY_BYPASS, 0));
        WinHttpHandle connection;
        WinHttpHandle request;
        if (session)
            connection.reset(WinHttpConnect(session.get(), cracked.host.c_str(), cracked.port, 0));
        if (connection)
            request.reset(WinHttpOpenRequest(connection.get(), L"GET", cracked.pathAndRest.c_str(), nullptr,
                                             WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                             cracked.secure ? WINHTTP_FLAG_SECURE : 0));
        if (request && WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0)
            && WinHttpReceiveResponse(request.get(), nullptr)) {
            // An error page is no installer: only a 200 answer is saved.
            const DWORD status = statusCode(request.get());
            if (status != HttpOk) {
                log.write("UpdateDownloader::downloadFile: the server answered with HTTP status", status);
            } else {
                failed = false;
                std::vector<char> buffer;
                for (;;) {
                    if (cancel_downloading) {
                        log.write("cancel_downloading==true");
                        break;
                    }
                    DWORD available = 0;
                    if (!WinHttpQueryDataAvailable(request.get(), &available)) {
                        log.write("Error in WinHttpQueryDataAvailable", GetLastError());
                        failed = true;
                        break;
                    }
                    if (available == 0)
                        break;
                    if (buffer.size() < available) {
                        try {
                            buffer.resize(available);
                        } catch (const std::exception& e) {
                            log.write("Resize failed", e.what());
                            failed = true;
                            break;
                        }
                    }
                    DWORD read = 0;
                    if (!WinHttpReadData(request.get(), buffer.data(), available, &read)) {
                        log.write("Error in WinHttpReadData", GetLastError());
                        failed = true;
                        break;
                    }
                    if (read == 0)
                        break;
                    DWORD written = 0;
                    const BOOL isOk = WriteFile(file.get(), buffer.data(), read, &written, nullptr);
                    if (written < read) {
                        log.write("Write error condition detected, error: ", GetLastError(), "isOk=",
                                  static_cast<int>(isOk));
                        failed = true;
                        break;
                    }
                }
            }
        }
        if (failed) {
            error = GetLastError();
            log.write("Error has occurred", error);
        }
    }
    log.write("Download ended");
    file.reset();
    if (!failed && !cancel_downloading)
        return true;
    DeleteFileW(path.c_str());
    return false;
}
