// Reading a request's body and sending the one response of each request.
#include "LocalHttpServer.h"

#include "FormFields.h"
#include "HttpReplies.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <cstring>
#include <stdexcept>

namespace {

constexpr ULONG BodyReadStep = 260;
constexpr char ContentType[] = "text/html";

} // namespace

const char* LocalHttpServer::RequestBodyTooLarge::what() const noexcept
{
    return HttpBody::BodyTooLarge;
}

void LocalHttpServer::sendResponse(HttpRequest* request, USHORT status, const char* reason, const void* body,
                                   ULONG length)
{
    HTTP_RESPONSE response {};
    response.StatusCode = status;
    response.pReason = reason;
    response.ReasonLength = static_cast<USHORT>(std::strlen(reason));
    HTTP_KNOWN_HEADER& contentType = response.Headers.KnownHeaders[HttpHeaderContentType];
    contentType.pRawValue = ContentType;
    contentType.RawValueLength = sizeof ContentType - 1;
    HTTP_DATA_CHUNK chunk {};
    if (body != nullptr && length != 0) {
        chunk.DataChunkType = HttpDataChunkFromMemory;
        chunk.FromMemory.pBuffer = const_cast<void*>(body);
        chunk.FromMemory.BufferLength = length;
        response.EntityChunkCount = 1;
        response.pEntityChunks = &chunk;
    }
    HTTP_CACHE_POLICY cachePolicy { HttpCachePolicyNocache, 0 };
    ULONG sent = 0;
    const ULONG result = HttpSendHttpResponse(requestQueue.get(), request->RequestId, 0, &response, &cachePolicy,
                                              &sent, nullptr, 0, nullptr, nullptr);
    if (result != NO_ERROR) {
        SetLastError(result);
        Logger::instance().write("HttpSendHttpResponse failed", GetLastError());
    }
}

void LocalHttpServer::sendText(HttpRequest* request, USHORT status, const char* reason, const char* text)
{
    sendResponse(request, status, reason, text, text == nullptr ? 0 : static_cast<ULONG>(std::strlen(text)));
}

void LocalHttpServer::sendResult(HttpRequest* request, const RemoteServerResponse& result)
{
    const std::string body = toNarrowString(result.message);
    sendResponse(request, static_cast<USHORT>(result.code), result.statusText, body.data(),
                 static_cast<ULONG>(body.size()));
}

std::string LocalHttpServer::getPostBody(HttpRequest* request)
{
    std::string body;
    if ((request->Flags & HTTP_REQUEST_FLAG_MORE_ENTITY_BODY_EXISTS) == 0)
        return body;
    size_t total = 0;
    try {
        for (;;) {
            body.resize(total + BodyReadStep, '\0');
            ULONG read = 0;
            const ULONG result = HttpReceiveRequestEntityBody(requestQueue.get(), request->RequestId, 0, &body[total],
                                                              BodyReadStep, &read, nullptr);
            total += read;
            // One local client must not be able to fill the service's memory: stop reading here.
            if (total > MaxRequestBodyBytes)
                throw RequestBodyTooLarge();
            if (result == ERROR_HANDLE_EOF)
                break;
            if (result != NO_ERROR)
                throw std::runtime_error("HttpReceiveRequestEntityBody returned" + std::to_string(result));
        }
    } catch (const std::runtime_error& error) {
        LOG_ERROR << "LocalHttpServer::getPostBody" << "failed with" << error << "\nLast error:"
                  << getLastErrorText();
    }
    // What was read, without the unfilled rest of the last step.
    body.resize(total);
    return body;
}

std::optional<std::vector<std::string>> LocalHttpServer::requiredFields(HttpRequest* request, const std::string& body,
                                                                        const std::vector<const char*>& names,
                                                                        const char* missingText, const char* handler)
{
    std::vector<std::string> values;
    try {
        for (const char* name : names)
            values.push_back(getParam(body, name, false));
    } catch (const std::runtime_error& error) {
        sendText(request, 400, HttpReason::BadRequest, missingText);
        LOG_ERROR << handler << error;
        return std::nullopt;
    }
    return values;
}
