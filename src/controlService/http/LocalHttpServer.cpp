#include "LocalHttpServer.h"

#include "HttpTexts.h"

#include "IConfigSectionManager.h"

#include "Logger.h"
#include "StringHelpers.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace {

// The request record with room for the strings it points to; grown when the API asks for more.
constexpr size_t InitialRequestBufferBytes = 2520;
constexpr int UrlBufferChars = 260;

// The calling thread's last error as a log part.
std::string lastErrorText()
{
    return toNarrowString(getLastErrorText());
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
    loopEnded.wait(lock, [this] { return !processing; });
}

bool LocalHttpServer::start(int port)
{
    Logger::instance().write(HttpLog::Starting, port);
    std::lock_guard<std::mutex> lock(mutex);
    if (!stopped)
        return healthy;
    stopRequested = false;
    try {
        // The API reports its failures by result; set them as the last error so the log names them.
        ULONG result = api.initialize();
        if (result != NO_ERROR) {
            SetLastError(result);
            throw std::runtime_error(HttpLog::InitializeFailed);
        }
        result = HttpCreateHttpHandle(requestQueue.put(), 0);
        if (result != NO_ERROR) {
            SetLastError(result);
            throw std::runtime_error(HttpLog::CreateHandleFailed);
        }
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
    Logger::instance().write(HttpLog::ListeningOn, toNarrowString(url));
    const ULONG result = HttpAddUrl(requestQueue.get(), url.c_str(), nullptr);
    if (result != NO_ERROR) {
        SetLastError(result);
        Logger::instance().write(HttpLog::AddUrlFailed, lastErrorText());
        return;
    }
    urlHandlers[url] = [this, &entry](HttpRequest* request) {
        Logger::instance().write(entry.firstLogLine);
        (this->*entry.handler)(request);
    };
}

void LocalHttpServer::stop()
{
    Logger::instance().write(HttpLog::Stopping);
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
    manager->saveUserAndMainSettings(sid);
}

HANDLE LocalHttpServer::queue()
{
    std::lock_guard<std::mutex> lock(mutex);
    return requestQueue.get();
}

void LocalHttpServer::processRequests()
{
    Logger::instance().write(HttpLog::ProcessRequests, HttpLog::Begin);
    if (!healthy || stopped)
        return;
    std::vector<unsigned char> buffer(InitialRequestBufferBytes, 0);
    HTTP_REQUEST_ID requestId = HTTP_NULL_ID;
    {
        std::lock_guard<std::mutex> lock(mutex);
        processing = true;
    }

    while (!stopRequested) {
        std::fill(buffer.begin(), buffer.end(), 0);
        Logger::instance().write(HttpLog::Waiting);
        ULONG received = 0;
        const ULONG result =
            HttpReceiveHttpRequest(queue(), requestId, 0, reinterpret_cast<PHTTP_REQUEST>(buffer.data()),
                                   static_cast<ULONG>(buffer.size()), &received, nullptr);
        auto* request = reinterpret_cast<HttpRequest*>(buffer.data());

        if (result == ERROR_INVALID_HANDLE || result == ERROR_OPERATION_ABORTED) {
            SetLastError(result);
            LOG_ERROR << HttpLog::ProcessRequests
                      << (result == ERROR_INVALID_HANDLE ? HttpLog::InvalidHandle : HttpLog::Aborted)
                      << HttpLog::LastErrorAfterText << getLastErrorText();
            break;
        }

        std::lock_guard<std::mutex> lock(mutex);
        try {
            switch (result) {
            case NO_ERROR:
                requestId = HTTP_NULL_ID;
                dispatchRequest(request);
                break;
            case ERROR_MORE_DATA:
                // The same request is received again into a buffer of the size the API reported.
                Logger::instance().write(HttpLog::BufferTooSmall);
                requestId = request->RequestId;
                buffer.resize(received, 0);
                break;
            case ERROR_CONNECTION_INVALID:
                if (requestId != HTTP_NULL_ID) {
                    Logger::instance().write(HttpLog::ConnectionInvalidWithId);
                    requestId = HTTP_NULL_ID;
                } else {
                    Logger::instance().write(HttpLog::ConnectionInvalid);
                }
                break;
            default:
                Logger::instance().write(HttpLog::UnknownError, result);
                requestId = HTTP_NULL_ID;
                break;
            }
        } catch (const RequestBodyTooLarge& error) {
            LOG_ERROR << HttpLog::ProcessRequests << error;
            sendText(request, 400, HttpReason::BadRequest, error.what());
        } catch (const std::exception& error) {
            LOG_ERROR << HttpLog::ProcessRequests << error << HttpLog::LastErrorAfterText << getLastErrorText();
            sendResult(request, { 500, HttpReason::InternalServerError, toWideString(error.what()) });
        } catch (...) {
            LOG_ERROR << HttpLog::ProcessRequests << HttpLog::LastError << getLastErrorText();
            sendResult(request, { 500, HttpReason::InternalServerError, std::wstring() });
        }
    }

    Logger::instance().write(HttpLog::LoopEnd);
    // The destructor may run as soon as the lock is released: nothing of this object is touched after it.
    std::lock_guard<std::mutex> lock(mutex);
    processing = false;
    loopEnded.notify_all();
}

void LocalHttpServer::dispatchRequest(HttpRequest* request)
{
    if (request->Verb != HttpVerbPOST) {
        LOG_ERROR << HttpLog::UnsupportedMethod << static_cast<int>(request->Verb);
        sendText(request, 501, HttpReason::NotImplemented, HttpBody::NonPostMethod);
        return;
    }
    // The cooked URL holds scheme, host, port, path and any query string; only an exact match counts.
    const std::wstring url = request->CookedUrl.pFullUrl == nullptr
                                 ? std::wstring()
                                 : std::wstring(request->CookedUrl.pFullUrl,
                                                request->CookedUrl.FullUrlLength / sizeof(wchar_t));
    Logger::instance().write(HttpLog::GotPost, toNarrowString(url));
    const auto found = urlHandlers.find(url);
    if (found == urlHandlers.end()) {
        LOG_INFO << HttpLog::UnsupportedPost << url;
        sendText(request, 501, HttpReason::NotImplemented, HttpBody::NoUrlHandler);
        return;
    }
    LOG_INFO << HttpLog::CallingHandler << url;
    found->second(request);
}
