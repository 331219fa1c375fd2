#pragma once
// The service's control endpoint for programs on this machine: 26 fixed POST URLs on 127.0.0.1
// over the HTTP Server API 1.0, served one request at a time on the thread that runs processRequests.
//
// Use: start(port) and, when it returns true, processRequests() on one thread until it returns;
// stop() from any other thread closes the queue under the waiting loop, which then ends. stop()
// waits for a request in hand to be answered first. A queue that fails under the loop for any
// other reason, or stops delivering requests (the loop checks that with requests to itself once
// it has waited a while), is made anew and the loop goes on. The destructor stops the server and
// waits for a running loop to end; the owner must not destroy the server while another thread
// may still be about to call start or processRequests.

#include "HttpApiUse.h"
#include "ListenerProbe.h"
#include "PendingReceives.h"
#include "RemoteServerResponse.h"

#include "Handles.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class IConfigSectionManager;

// A received request as version 1.0 of the API lays it out.
using HttpRequest = HTTP_REQUEST_V1;

class LocalHttpServer {
public:
    // `manager` is not owned and must outlive the server.
    explicit LocalHttpServer(IConfigSectionManager* manager);
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer&) = delete;
    LocalHttpServer& operator=(const LocalHttpServer&) = delete;

    // Registers every URL with `port` filled in; false when the API or the queue cannot be had.
    // While started, a second call only returns the first result.
    bool start(int port);
    // Removes the URLs, closes the queue, ends the API use and saves the current user's settings.
    // Does nothing when not started.
    void stop();
    // The request loop; returns at once unless started, else when the queue is closed.
    void processRequests();
    bool started() const { return !stopped; }

private:
    // Tests break the queue under the running loop, as the platform might.
    friend struct LocalHttpServerTestPeer;

    using Handler = void (LocalHttpServer::*)(HttpRequest* request);
    struct UrlHandlerEntry {
        const wchar_t* urlFormat;  // "%d" takes the port
        Handler handler;
        const char* firstLogLine;
    };
    static const UrlHandlerEntry UrlHandlerTable[26];

    // Raised by getPostBody past MaxRequestBodyBytes; answered by the loop, never by a handler.
    class RequestBodyTooLarge : public std::exception {
    public:
        const char* what() const noexcept override;
    };

    enum class Credentials { Stored, Empty, Answered };

    void registerUrl(const UrlHandlerEntry& entry, int port);
    // Starts the receives on the queue (made anew first if that failed before) and names the URL
    // for the probe (empty while the queue has none); false once the stop has closed the queue.
    bool startReceives(PendingReceives& receives, ListenerProbe& probe, std::string& probePath);
    // Handles one finished receive under the lock; false when the loop ends (the stop closed the queue).
    bool handleReceived(PendingReceives& receives, PendingReceives::Slot& slot, ListenerProbe& probe);
    // Under the lock: gives up the queue and its receives and makes a new one with every URL
    // registered again; false when it cannot (the loop tries again) or the server stops meanwhile.
    bool reopenQueue(std::unique_lock<std::mutex>& lock, PendingReceives& receives, ListenerProbe& probe);
    // Marks the loop ended: its last touch of the server.
    void endLoop() noexcept;
    void dispatchRequest(HttpRequest* request);

    void sendResponse(HttpRequest* request, USHORT status, const char* reason, const void* body, ULONG length);
    void sendText(HttpRequest* request, USHORT status, const char* reason, const char* text);
    void sendResult(HttpRequest* request, const RemoteServerResponse& result);
    std::string getPostBody(HttpRequest* request);
    // The fields `names` of `body`, in order. A missing one is answered 400 "Bad request" with
    // `missingText`, then logged as an error of `handler`; the result is then empty.
    std::optional<std::vector<std::string>> requiredFields(HttpRequest* request, const std::string& body,
                                                           const std::vector<const char*>& names,
                                                           const char* missingText, const char* handler);

    // The URL handlers, in table order.
    void ping(HttpRequest* request);
    void getVpnState(HttpRequest* request);
    void getCurrentServer(HttpRequest* request);
    void getServersList(HttpRequest* request);
    void connectToVPN(HttpRequest* request);
    void disconnectFromVPN(HttpRequest* request);
    void checkForUpdate(HttpRequest* request);
    void startUpdate(HttpRequest* request);
    void relogin(HttpRequest* request);
    void setUser(HttpRequest* request);
    void getUser(HttpRequest* request);
    void enableLogging(HttpRequest* request);
    void disableLogging(HttpRequest* request);
    void postLogFiles(HttpRequest* request);
    void getProductsList(HttpRequest* request);
    void accountRegister(HttpRequest* request);
    void accountLogin(HttpRequest* request);
    void accountLogout(HttpRequest* request);
    void accountResetPass(HttpRequest* request);
    void accountOrders(HttpRequest* request);
    void accountToken(HttpRequest* request);
    void getSetting(HttpRequest* request);
    void setSetting(HttpRequest* request);
    void sendSupportMessage(HttpRequest* request);
    void fetchAccessLimits(HttpRequest* request);
    void remoteLogin(HttpRequest* request);

    // Register and login alike: store the credentials, ask the API, forget them again on a refusal.
    void accountRequest(HttpRequest* request, RemoteServerResponse (IConfigSectionManager::*operation)());
    Credentials updateAccCredentials(HttpRequest* request);
    bool processRemoteLogin(HttpRequest* request);
    void clearAccountCredentials();
    bool hasAccountToken();

    std::atomic<bool> stopRequested { false };
    std::atomic<bool> stopped { true };
    std::atomic<bool> processing { false };
    std::atomic<bool> healthy { true };
    HttpApiUse api;
    UniqueHandle requestQueue;
    int listeningPort = 0;
    // When the loop last made a failed queue anew (GetTickCount64; 0: never), and the pause it
    // made before that.
    ULONGLONG queueReopenedAt = 0;
    DWORD reopenPauseMs = 0;
    // The Windows user for whom the handlers act.
    std::wstring currentSid;
    std::map<std::wstring, std::function<void(HttpRequest*)>> urlHandlers;
    IConfigSectionManager* const manager;

    // Held while a request is handled and while the server starts or stops, so that stop never
    // empties the handlers or closes the queue under a running handler. Never held while waiting
    // for a request.
    std::mutex mutex;
    std::condition_variable loopEnded;
    // Ends the loop's pause between attempts to make a failed queue anew.
    std::condition_variable loopWake;
};
