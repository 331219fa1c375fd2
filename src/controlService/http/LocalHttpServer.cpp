#include "LocalHttpServer.h"

#include "HttpReplies.h"

#include "IConfigSectionManager.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <algorithm>
#include <chrono>
#include <cwchar>
#include <stdexcept>
#include <vector>

namespace {

// The request record with room for the strings it points to; grown when the API asks for more.
constexpr size_t InitialRequestBufferBytes = 2520;
constexpr int UrlBufferChars = 260;
// Receives kept waiting on the queue: more than the clients that come at one time.
constexpr size_t ConcurrentReceives = 8;
// A closed queue's receives end at once; this only bounds the wait for them.
constexpr DWORD ReceivesEndWithinMs = 5000;
constexpr DWORD ReopenFirstPauseMs = 1000;
constexpr DWORD ReopenSettledMs = 60000;

// The calling thread's last error as a log part.
std::string lastErrorText()
{
    return toNarrowString(getLastErrorText());
}

// The path of a full URL of the table ("http://127.0.0.1:666/TYTUT" gives "/TYTUT").
std::string pathOf(const std::wstring& url)
{
    const size_t path = url.find(L'/', std::wcslen(L"http://"));
    return path == std::wstring::npos ? std::string("/") : toNarrowString(url.substr(path));
}

} // namespace

LocalHttpServer::LocalHttpServer(IConfigSectionManager* manager)
    : manager(manager)
{
}

LocalHttpServer::~LocalHttpServer()
{
    // Stopping closes the queue under a waiting loop; the loop must be gone before the members are.
    try {
        stop();
    } catch (const std::exception& error) {
        LOG_ERROR << "LocalHttpServer::~LocalHttpServer" << error;
    } catch (...) {
        LOG_ERROR << "LocalHttpServer::~LocalHttpServer";
    }
    std::unique_lock<std::mutex> lock(mutex);
    stopRequested = true;
    loopWake.notify_all();
    loopEnded.wait(lock, [this] { return !processing; });
}

bool LocalHttpServer::start(int port)
{
    Logger::instance().write("Win server starting on port", port);
    std::lock_guard<std::mutex> lock(mutex);
    if (!stopped)
        return healthy;
    stopRequested = false;
    try {
        // The API reports its failures by result; set them as the last error so the log names them.
        ULONG result = api.initialize();
        if (result != NO_ERROR) {
            SetLastError(result);
            throw std::runtime_error("HttpInitialize failed");
        }
        result = HttpCreateHttpHandle(requestQueue.put(), 0);
        if (result != NO_ERROR) {
            SetLastError(result);
            throw std::runtime_error("HttpCreateHttpHandle failed");
        }
        listeningPort = port;
        for (const UrlHandlerEntry& entry : UrlHandlerTable)
            registerUrl(entry, port);
    } catch (const std::runtime_error& error) {
        const DWORD code = GetLastError();
        Logger::instance().write(error.what(), code, lastErrorText());
        healthy = false;
        return false;
    }
    stopped = false;
    return healthy;
}

void LocalHttpServer::registerUrl(const UrlHandlerEntry& entry, int port)
{
    wchar_t buffer[UrlBufferChars];
    const int length = wsprintfW(buffer, entry.urlFormat, port);
    const std::wstring url(buffer, static_cast<size_t>(std::max(length, 0)));
    Logger::instance().write("Listening on url", toNarrowString(url));
    const ULONG result = HttpAddUrl(requestQueue.get(), url.c_str(), nullptr);
    if (result != NO_ERROR) {
        SetLastError(result);
        Logger::instance().write("HttpAddUrl failed with error code", lastErrorText());
        return;
    }
    urlHandlers[url] = [this, &entry](HttpRequest* request) {
        Logger::instance().write(entry.firstLogLine);
        (this->*entry.handler)(request);
    };
}

void LocalHttpServer::stop()
{
    Logger::instance().write("Stopping web server...");
    std::wstring sid;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (stopped)
            return;
        for (const auto& entry : urlHandlers)
            HttpRemoveUrl(requestQueue.get(), entry.first.c_str());
        urlHandlers.clear();
        requestQueue.reset();
        api.terminate();
        sid = currentSid;
        // Stopped before saving, so that a failed save leaves no half-stopped server behind.
        healthy = true;
        stopped = true;
        stopRequested = false;
    }
    loopWake.notify_all();
    manager->saveUserAndMainSettings(sid);
}

void LocalHttpServer::processRequests()
{
    Logger::instance().write("LocalHttpServer::processRequests", "begin");
    if (!healthy || stopped)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        processing = true;
    }
    // Declared first, so that it runs last on every way out: the receives' buffers go first.
    struct LoopEnd {
        LocalHttpServer& server;
        ~LoopEnd() { server.endLoop(); }
    } loopEnd { *this };

    PendingReceives receives(ConcurrentReceives, InitialRequestBufferBytes);
    ListenerProbe probe;
    // Logged before each wait for a client's request, not before the probe's.
    bool announceWait = true;
    while (!stopRequested) {
        if (announceWait) {
            Logger::instance().write("Waiting for HTTP request");
            announceWait = false;
        }
        std::string probePath;
        if (!startReceives(receives, probe, probePath))
            break;
        const ULONGLONG waitStart = GetTickCount64();
        PendingReceives::Slot* slot = receives.next(probePath.empty() ? INFINITE : probe.nextCheckMs());
        if (slot == nullptr) {
            const auto waited = static_cast<DWORD>(GetTickCount64() - waitStart);
            if (!probePath.empty()
                && probe.waited(waited, listeningPort, probePath) == ListenerProbe::Verdict::Overdue) {
                LOG_ERROR << "LocalHttpServer::processRequests"
                          << "No request has reached the queue since its probe was sent";
                std::unique_lock<std::mutex> lock(mutex);
                if (!stopped)
                    reopenQueue(lock, receives, probe);
                announceWait = true;
            }
            continue;
        }
        if (slot->result == NO_ERROR && probe.arrived(*slot->request())) {
            std::lock_guard<std::mutex> lock(mutex);
            // Answered so that the kept connection can carry the next probe; a stop has closed the queue.
            if (!stopped)
                sendResponse(slot->request(), 200, HttpReason::Ok, nullptr, 0);
            receives.release(*slot);
            continue;
        }
        announceWait = true;
        if (!handleReceived(receives, *slot, probe))
            break;
    }
}

bool LocalHttpServer::startReceives(PendingReceives& receives, ListenerProbe& probe, std::string& probePath)
{
    std::unique_lock<std::mutex> lock(mutex);
    if (stopped) {
        // The stop closed the queue while a request was in hand.
        SetLastError(ERROR_INVALID_HANDLE);
        LOG_ERROR << "LocalHttpServer::processRequests" << "Invalid handle" << "; last error:"
                  << getLastErrorText();
        return false;
    }
    if (!requestQueue && !reopenQueue(lock, receives, probe))
        return true;
    receives.start(requestQueue.get());
    // Any URL the queue has will do: the probe is answered before any handler sees it.
    if (!urlHandlers.empty())
        probePath = pathOf(urlHandlers.begin()->first);
    return true;
}

void LocalHttpServer::endLoop() noexcept
{
    try {
        Logger::instance().write("HttpReceiveHttpRequest end");
    } catch (...) {
        // The end is marked whatever the log does.
    }
    // The destructor may run as soon as the lock is released: nothing of this object is touched after it.
    std::lock_guard<std::mutex> lock(mutex);
    processing = false;
    loopEnded.notify_all();
}

bool LocalHttpServer::handleReceived(PendingReceives& receives, PendingReceives::Slot& slot, ListenerProbe& probe)
{
    HttpRequest* request = slot.request();
    std::unique_lock<std::mutex> lock(mutex);
    if (slot.result == ERROR_INVALID_HANDLE || slot.result == ERROR_OPERATION_ABORTED) {
        SetLastError(slot.result);
        LOG_ERROR << "LocalHttpServer::processRequests"
                  << (slot.result == ERROR_INVALID_HANDLE ? "Invalid handle" : "Requests processing aborted")
                  << "; last error:" << getLastErrorText();
        if (stopped)
            return false;
        // Not the stop: the queue failed under the loop, which goes on with a new one.
        reopenQueue(lock, receives, probe);
        return true;
    }

    bool reopen = false;
    try {
        switch (slot.result) {
        case NO_ERROR:
            dispatchRequest(request);
            break;
        case ERROR_MORE_DATA:
            // The same request is received again into a buffer of the size the API reported.
            Logger::instance().write("Buffer was too small");
            receives.receiveAgain(slot, request->RequestId, slot.received);
            return true;
        case ERROR_CONNECTION_INVALID:
            Logger::instance().write(slot.requestId != HTTP_NULL_ID
                                         ? "Error: connection invalid, but request id not null"
                                         : "Error: connection invalid");
            break;
        default:
            // A receive that fails in an unforeseen way may fail so forever: the queue is made anew.
            Logger::instance().write("Error: unknown", slot.result);
            reopen = true;
            break;
        }
    } catch (const RequestBodyTooLarge& error) {
        LOG_ERROR << "LocalHttpServer::processRequests" << error;
        sendText(request, 400, HttpReason::BadRequest, error.what());
    } catch (const std::exception& error) {
        LOG_ERROR << "LocalHttpServer::processRequests" << error << "; last error:" << getLastErrorText();
        sendResult(request, { 500, HttpReason::InternalServerError, toWideString(error.what()) });
    } catch (...) {
        LOG_ERROR << "LocalHttpServer::processRequests" << "last error:" << getLastErrorText();
        sendResult(request, { 500, HttpReason::InternalServerError, std::wstring() });
    }
    receives.release(slot);
    if (reopen)
        reopenQueue(lock, receives, probe);
    return true;
}

bool LocalHttpServer::reopenQueue(std::unique_lock<std::mutex>& lock, PendingReceives& receives,
                                  ListenerProbe& probe)
{
    Logger::instance().write("Re-creating the request queue");
    for (const auto& entry : urlHandlers)
        HttpRemoveUrl(requestQueue.get(), entry.first.c_str());
    urlHandlers.clear();
    // Closing the queue ends its receives; their buffers are reused only once they have.
    requestQueue.reset();
    receives.abandon(ReceivesEndWithinMs);
    probe.reset();
    // A queue that keeps failing is not made anew in a busy loop: while each attempt follows the
    // last within a minute, it waits twice as long as the one before, from a second up to a minute.
    // A stop ends the pause.
    const ULONGLONG now = GetTickCount64();
    reopenPauseMs = queueReopenedAt != 0 && now - queueReopenedAt < ReopenSettledMs
                        ? std::min(std::max(2 * reopenPauseMs, ReopenFirstPauseMs), ReopenSettledMs)
                        : 0;
    loopWake.wait_for(lock, std::chrono::milliseconds(reopenPauseMs), [this] { return stopped || stopRequested; });
    if (stopped || stopRequested)
        return false;
    queueReopenedAt = GetTickCount64();
    const ULONG result = HttpCreateHttpHandle(requestQueue.put(), 0);
    if (result != NO_ERROR) {
        SetLastError(result);
        Logger::instance().write("HttpCreateHttpHandle failed", GetLastError(), lastErrorText());
        return false;
    }
    for (const UrlHandlerEntry& entry : UrlHandlerTable)
        registerUrl(entry, listeningPort);
    Logger::instance().write("Request queue re-created");
    return true;
}

void LocalHttpServer::dispatchRequest(HttpRequest* request)
{
    if (request->Verb != HttpVerbPOST) {
        LOG_ERROR << "Got an unsupported request with method" << static_cast<int>(request->Verb);
        sendText(request, 501, HttpReason::NotImplemented, HttpBody::NonPostMethod);
        return;
    }
    // The cooked URL holds scheme, host, port, path and any query string; only an exact match counts.
    const std::wstring url = request->CookedUrl.pFullUrl == nullptr
                                 ? std::wstring()
                                 : std::wstring(request->CookedUrl.pFullUrl,
                                                request->CookedUrl.FullUrlLength / sizeof(wchar_t));
    Logger::instance().write("Got a POST request", toNarrowString(url));
    const auto found = urlHandlers.find(url);
    if (found == urlHandlers.end()) {
        LOG_INFO << "Got unsupported POST request" << url;
        sendText(request, 501, HttpReason::NotImplemented, HttpBody::NoUrlHandler);
        return;
    }
    LOG_INFO << "calling handler of" << url;
    found->second(request);
}
