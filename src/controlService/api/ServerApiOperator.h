#pragma once
// The service's client of the vendor API: the periodic check-in, the account and VPN operations,
// and the log upload. Every request is a synchronous HTTPS POST with a form body and a JSON reply.

#include "ApiResults.h"
#include "FormBody.h"
#include "RemoteServerResponse.h"

#include <boost/property_tree/ptree.hpp>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

// What a JSON reply handler logs: before the reply text, for an empty object, and before the
// syntax error's line number.
struct ReplyLogTexts {
    const char* reply;
    const char* empty;
    const char* error;
};

class ServerApiOperator {
public:
    // Turns the text of an HTTP 200 reply into the operation's result.
    using ResponseHandler = std::function<RemoteServerResponse(const std::wstring& reply)>;
    // Builds an operation's body around the device identifier known when the request is sent.
    using BodyBuilder = std::function<FormBody(const std::wstring& deviceId)>;

    ServerApiOperator() = default;
    ServerApiOperator(const ServerApiOperator&) = delete;
    ServerApiOperator& operator=(const ServerApiOperator&) = delete;

    // Called after each stored check-in reply.
    void setSettingsChangedCallback(std::function<void()> callback);

    // True when a non-empty JSON reply was stored. Check-ins run one at a time; the reply is
    // handled (handleCheckinResponse) after the next one may begin.
    bool checkin();
    // Stores a non-empty JSON object as the last check-in reply; false for anything else.
    bool parseCheckinResponse(const std::wstring& text);
    // Copies the reply's settings and calls the settings-changed callback.
    void handleCheckinResponse();

    // The frame of every operation: a check-in first while the device is not known yet, then the POST.
    // Exceptions of the handler reach the caller.
    RemoteServerResponse requestServerData(const std::wstring& url, const BodyBuilder& body,
                                           const ResponseHandler& handler, bool useToken);

    RemoteServerResponse requestServersList();
    RemoteServerResponse requestServerConnect(const std::wstring& serverId);
    RemoteServerResponse requestProductsList();
    RemoteServerResponse requestLogin();
    RemoteServerResponse requestRegister();
    RemoteServerResponse requestOrders();
    RemoteServerResponse requestAccountLimits();
    RemoteServerResponse requestPasswordReset(const std::wstring& email);
    RemoteServerResponse requestSupport(const std::wstring& message, const std::wstring& address);
    RemoteServerResponse notifyAutologin();

    // Uploads the machine's facts, the given fields (each beginning with "&") and the routing
    // table. True when the server answered at all.
    bool postLogfiles(const std::wstring& logFields);

    RemoteServerResponse passThroughResponse(const std::wstring& text);
    RemoteServerResponse handleConnectResponse(const std::wstring& text, const std::wstring& serverId);
    RemoteServerResponse handleLoginResponse(const std::wstring& text);
    RemoteServerResponse handleRegisterResponse(const std::wstring& text);
    RemoteServerResponse handleSupportResponse(const std::wstring& text);
    RemoteServerResponse handleAutologinResponse(const std::wstring& text);
    RemoteServerResponse handleResetResponse(const std::wstring& text);
    RemoteServerResponse handleLimitsResponse(const std::wstring& text);

    // From abandonRequests until allowRequests, requests fail at once and replies still awaited are
    // given up: a stopping service does not wait for the API.
    void abandonRequests() { abandoned = true; }
    void allowRequests() { abandoned = false; }

    // Copies, safe to read while a check-in on another thread rewrites them.
    bool isCheckedIn() const { return checkedIn; }
    std::wstring currentDeviceId() const;

private:
    using Tree = boost::property_tree::wptree;
    using TreeHandler = std::function<RemoteServerResponse(const Tree& reply)>;

    // Empty, unparseable and empty-object replies, then the handler's own step.
    RemoteServerResponse handleJsonReply(const std::wstring& text, const ReplyLogTexts& log,
                                         const ReplyFailureMessages& failures, const TreeHandler& step);
    RemoteServerResponse request(const std::wstring& url, const BodyBuilder& body,
                                 RemoteServerResponse (ServerApiOperator::*handler)(const std::wstring&),
                                 bool useToken);
    bool checkinLocked();
    void setDeviceId(const std::wstring& id);

    // Set once the device identifier was known before a check-in; never cleared.
    std::atomic<bool> checkedIn { false };
    std::function<void()> settingsChangedCallback;
    std::mutex checkinMutex;
    // Guards deviceId for readers outside a check-in; held only for a copy.
    mutable std::mutex deviceIdMutex;
    std::wstring deviceId;
    // Watched by every request of this client (abandonRequests).
    std::atomic<bool> abandoned { false };
};
