#pragma once
// The process's use of the HTTP Server API 1.0 as a server: initialised once, terminated by its owner.

#include <winsock2.h>
#include <windows.h>
#include <http.h>

class HttpApiUse {
public:
    HttpApiUse() = default;
    ~HttpApiUse() { terminate(); }
    HttpApiUse(const HttpApiUse&) = delete;
    HttpApiUse& operator=(const HttpApiUse&) = delete;

    // The API's result; initialising twice counts once, so one terminate always balances it.
    ULONG initialize()
    {
        if (initialized)
            return NO_ERROR;
        const HTTPAPI_VERSION version = HTTPAPI_VERSION_1;
        const ULONG result = HttpInitialize(version, HTTP_INITIALIZE_SERVER, nullptr);
        initialized = result == NO_ERROR;
        return result;
    }
    void terminate()
    {
        if (initialized)
            HttpTerminate(HTTP_INITIALIZE_SERVER, nullptr);
        initialized = false;
    }

private:
    bool initialized = false;
};
