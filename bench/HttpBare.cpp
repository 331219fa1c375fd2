// The floor of the HTTP benchmark: the HTTP Server API with nothing above it. One queue, one
// request at a time on one thread, a fixed answer of the service's sizes.
//   http_bare PORT TOKEN SECONDS [one|table]
// "one" (the default) registers a single URL prefix for the port; "table" registers the service's
// 26 URLs one by one, as the service does, and its own two beside them: Wine's cost per request
// grows with the URLs registered, and this shows how much of the service's figure that is.
// Answers POST /TYTUT and /vpn/get/state as the service does, /bench/identity with TOKEN (so the
// caller knows it reached this program and not a listener of another prefix), and ends on
// /bench/stop or after SECONDS.

#include <winsock2.h>
#include <windows.h>
#include <http.h>

#include "BenchFigures.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr char ContentType[] = "text/html";

// The service's URL paths, in its order, then this program's own.
constexpr const wchar_t* TablePaths[] = {
    L"TYTUT", L"vpn/get/state", L"vpn/get/currentServer", L"vpn/get/serversList", L"vpn/connect",
    L"vpn/disconnect", L"update/check", L"update/start", L"user/relogin", L"user/set", L"user/get",
    L"logfiles/enable", L"logfiles/disable", L"logfiles/post", L"products/list", L"accounts/register",
    L"accounts/login", L"accounts/logout", L"accounts/reset", L"accounts/orders", L"accounts/token",
    L"setting/get", L"setting/set", L"support", L"limits", L"remote/login", L"bench/identity", L"bench/stop",
};

void answer(HANDLE queue, HTTP_REQUEST_ID id, USHORT status, const char* reason, const std::string& body)
{
    HTTP_RESPONSE response {};
    response.StatusCode = status;
    response.pReason = reason;
    response.ReasonLength = static_cast<USHORT>(std::strlen(reason));
    HTTP_KNOWN_HEADER& type = response.Headers.KnownHeaders[HttpHeaderContentType];
    type.pRawValue = ContentType;
    type.RawValueLength = sizeof ContentType - 1;
    HTTP_DATA_CHUNK chunk {};
    if (!body.empty()) {
        chunk.DataChunkType = HttpDataChunkFromMemory;
        chunk.FromMemory.pBuffer = const_cast<char*>(body.data());
        chunk.FromMemory.BufferLength = static_cast<ULONG>(body.size());
        response.EntityChunkCount = 1;
        response.pEntityChunks = &chunk;
    }
    ULONG sent = 0;
    HttpSendHttpResponse(queue, id, 0, &response, nullptr, &sent, nullptr, 0, nullptr, nullptr);
}

bool endsWith(const std::wstring& text, const wchar_t* tail)
{
    const size_t length = std::wcslen(tail);
    return text.size() >= length && text.compare(text.size() - length, length, tail) == 0;
}

} // namespace

int wmain(int argc, wchar_t* argv[])
{
    const bool table = argc >= 5 && std::wstring(argv[4]) == L"table";
    const bool badUrls = argc >= 5 && !table && std::wstring(argv[4]) != L"one";
    if (argc < 4 || _wtoi(argv[1]) <= 0 || _wtoi(argv[3]) <= 0 || badUrls) {
        std::fprintf(stderr, "usage: http_bare PORT TOKEN SECONDS [one|table]\n");
        return 2;
    }
    const int port = _wtoi(argv[1]);
    char token[128] = {};
    WideCharToMultiByte(CP_ACP, 0, argv[2], -1, token, sizeof token - 1, nullptr, nullptr);
    endProcessAfter(static_cast<DWORD>(_wtoi(argv[3])) * 1000);

    const HTTPAPI_VERSION version = HTTPAPI_VERSION_1;
    ULONG result = HttpInitialize(version, HTTP_INITIALIZE_SERVER, nullptr);
    if (result != NO_ERROR) {
        std::fprintf(stderr, "http_bare: HttpInitialize failed with %lu\n", result);
        return 1;
    }
    HANDLE queue = nullptr;
    result = HttpCreateHttpHandle(&queue, 0);
    const std::wstring prefix = L"http://127.0.0.1:" + std::to_wstring(port) + L"/";
    std::vector<std::wstring> urls;
    if (table) {
        for (const wchar_t* path : TablePaths)
            urls.push_back(prefix + path);
    } else {
        urls.push_back(prefix);
    }
    for (size_t i = 0; i < urls.size() && result == NO_ERROR; ++i)
        result = HttpAddUrl(queue, urls[i].c_str(), nullptr);
    if (result != NO_ERROR) {
        std::fprintf(stderr, "http_bare: cannot listen on port %d: error %lu\n", port, result);
        if (queue != nullptr)
            CloseHandle(queue);
        HttpTerminate(HTTP_INITIALIZE_SERVER, nullptr);
        return 1;
    }
    JsonLine().add("listening", port).print();

    std::vector<unsigned char> buffer(4096);
    std::uint64_t served = 0;
    HTTP_REQUEST_ID pending = HTTP_NULL_ID;
    for (bool stop = false; !stop;) {
        ULONG received = 0;
        auto* request = reinterpret_cast<HTTP_REQUEST_V1*>(buffer.data());
        result = HttpReceiveHttpRequest(queue, pending, 0, reinterpret_cast<PHTTP_REQUEST>(request),
                                        static_cast<ULONG>(buffer.size()), &received, nullptr);
        if (result == ERROR_MORE_DATA) {
            // The same request again, into a buffer of the size asked for.
            pending = request->RequestId;
            buffer.resize(received);
            continue;
        }
        pending = HTTP_NULL_ID;
        if (result == ERROR_CONNECTION_INVALID)
            continue;
        if (result != NO_ERROR)
            break;
        const std::wstring path(request->CookedUrl.pAbsPath,
                                request->CookedUrl.AbsPathLength / sizeof(wchar_t));
        ++served;
        if (endsWith(path, L"/TYTUT")) {
            answer(queue, request->RequestId, 200, "OK", "GDEZHESCHIO!");
        } else if (endsWith(path, L"/vpn/get/state")) {
            answer(queue, request->RequestId, 200, "OK", "NOTCONNECTED");
        } else if (endsWith(path, L"/bench/identity")) {
            answer(queue, request->RequestId, 200, "OK", token);
        } else if (endsWith(path, L"/bench/stop")) {
            answer(queue, request->RequestId, 200, "OK", std::to_string(served));
            stop = true;
        } else {
            answer(queue, request->RequestId, 404, "Not Found", "");
        }
    }
    for (const std::wstring& url : urls)
        HttpRemoveUrl(queue, url.c_str());
    CloseHandle(queue);
    HttpTerminate(HTTP_INITIALIZE_SERVER, nullptr);
    return 0;
}
