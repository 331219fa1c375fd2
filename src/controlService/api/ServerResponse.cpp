#include "ServerResponse.h"

#include "ApiResults.h"

RemoteServerResponse makeServerResponse(int code, std::wstring message)
{
    RemoteServerResponse response;
    response.message = std::move(message);
    switch (code) {
    case 200:
        response.code = 200;
        response.statusText = ApiStatus::Ok;
        break;
    case 400:
        response.code = 400;
        response.statusText = ApiStatus::BadRequest;
        break;
    case 401:
        response.code = 401;
        response.statusText = ApiStatus::Unauthorized;
        break;
    default:
        response.code = 500;
        response.statusText = ApiStatus::InternalError;
        if (response.message == ApiMessage::Success)
            response.message = ApiMessage::UnhandledCode;
        break;
    }
    return response;
}
