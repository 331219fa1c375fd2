#pragma once
// Client of the mock vendor API's control interface, for tests registered with MOCK_API.
// The mock answers every endpoint of the API with a successful reply of the real shape until a
// test scripts another, and records every request it gets. Failures throw std::runtime_error.

#include <string>
#include <utility>
#include <vector>

using NameValueList = std::vector<std::pair<std::string, std::string>>;

// One request as the mock received it.
struct MockRequest {
    int seq = 0;          // 1 for the first request after a reset
    std::string scheme;   // "https" or "http"
    std::string method;
    std::string path;     // without the query
    std::string query;
    NameValueList headers; // in the order sent
    std::string body;     // as sent (UTF-8)
    NameValueList form;   // the body's form fields in order, percent-decoded

    // The first header of that name (compared without case), or "" when there is none.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

class MockApi {
public:
    // The port from NIMBAL_MOCK_API_PORT, which MOCK_API tests have in their environment.
    MockApi();
    explicit MockApi(unsigned short port) : port_(port) {}

    unsigned short port() const { return port_; }

    // Built-in replies on every endpoint again, and no recorded requests.
    void reset();
    // The reply that every later request on `path` gets, after any queued ones.
    void setReply(const std::string& path, int status, const std::string& body, unsigned delayMs = 0);
    // A reply for one request on `path`; queued replies are given in the order queued.
    void queueReply(const std::string& path, int status, const std::string& body, unsigned delayMs = 0);

    // Serves `bytes` with `status` on GET /download/<name> until the next reset; with chunkBytes,
    // in chunks of that size (chunked transfer), each after chunkDelayMs.
    void serveDownload(const std::string& name, int status, const std::string& bytes, unsigned chunkBytes = 0,
                       unsigned chunkDelayMs = 0);
    // "<scheme>://localhost:<port>/download/<name>"
    std::wstring downloadUrl(const std::wstring& name, const wchar_t* scheme = L"http") const;

    // Every request since the last reset, oldest first (the control requests are not among them).
    std::vector<MockRequest> requests() const;
    std::vector<MockRequest> requestsTo(const std::string& path) const;

private:
    void scriptReply(const std::string& path, int status, const std::string& body, unsigned delayMs, bool once);

    unsigned short port_;
};
