#pragma once
// One connection to the service's pipe per calling thread, kept until the process ends.

#include "CommandsClient.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <utility>

// The calling thread's client, connected. When the pipe cannot be reached the service is started
// and the pipe tried once more; none when that fails too. A connection already held is handed back
// untested: one that the service has dropped since shows only when a request fails on it.
std::shared_ptr<CommandsClient> getClient();

// Gives the calling thread a new client in place of its broken one, connected as getClient
// connects a first one (the service started where the pipe cannot be reached); none when that fails.
std::shared_ptr<CommandsClient> replaceClient();

// Whether a write or read failed with `error` because the service's end of the pipe has gone
// (the service stopped or restarted since the connection was made).
bool pipeGone(DWORD error);

// Sends one request on the calling thread's connection as it stands. Only when it fails because the
// service's end has gone is the connection replaced and the request sent once more, so a thread
// reaches a restarted service without a test of its pipe before every request. `failed` tells from
// a result whether the request failed; the request's last failing call leaves its error as the
// thread's last error. None when no connection can be had.
template <typename Request, typename Failed>
auto sendRequest(Request request, Failed failed)
    -> std::optional<decltype(request(std::declval<CommandsClient&>()))>
{
    std::shared_ptr<CommandsClient> client = getClient();
    if (!client)
        return std::nullopt;
    SetLastError(ERROR_SUCCESS);
    auto result = request(*client);
    if (!failed(result) || !pipeGone(GetLastError()))
        return result;
    client = replaceClient();
    if (!client)
        return std::nullopt;
    return request(*client);
}
