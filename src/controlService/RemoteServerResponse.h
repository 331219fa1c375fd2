#pragma once
// The result record of every vendor-API operation: status, reason text and message.

#include <cstdint>
#include <string>

struct RemoteServerResponse {
    std::int32_t code = 0;
    const char* statusText = "";   // static text belonging to `code`
    std::wstring message;
};
