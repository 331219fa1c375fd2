#pragma once
// One request of the WinHTTP COM request object ("WinHttp.WinHttpRequest.5.1"), called through
// its own interface. Each request uses an object of its own; it is released with its owner on
// every path. The request is opened asynchronously and its reply awaited by send, so that an owner
// that stops can give the wait up.

#include "ComPtr.h"

#include <oaidl.h>

#include <atomic>
#include <string>

// The request object's interface as httprequest.idl documents it (mingw-w64 has no header for it).
// Enumerated arguments are 32-bit values.
struct IWinHttpRequest : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetProxy(LONG proxySetting, VARIANT proxyServer, VARIANT bypassList) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCredentials(BSTR userName, BSTR password, LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR method, BSTR url, VARIANT async) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRequestHeader(BSTR header, BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResponseHeader(BSTR header, BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllResponseHeaders(BSTR* headers) = 0;
    virtual HRESULT STDMETHODCALLTYPE Send(VARIANT body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StatusText(BSTR* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseText(BSTR* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseBody(VARIANT* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseStream(VARIANT* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Option(LONG option, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Option(LONG option, VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForResponse(VARIANT timeout, VARIANT_BOOL* succeeded) = 0;
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTimeouts(LONG resolveTimeout, LONG connectTimeout, LONG sendTimeout,
                                                  LONG receiveTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClientCertificate(BSTR clientCertificate) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAutoLogonPolicy(LONG autoLogonPolicy) = 0;
};

// A COM string or variant could not be allocated. Not a standard exception, as the callers
// that catch "any other exception" expect.
struct ComError {
    HRESULT code;
};

class WinHttpRequest {
public:
    // While `abandon` (when given) is set, send fails at once, and a reply still awaited is given
    // up: the request is aborted.
    explicit WinHttpRequest(const std::atomic<bool>* abandon = nullptr) : abandon(abandon) {}

    // CLSIDFromProgID, then CoCreateInstance. False when either fails. COM is initialised on the thread.
    bool create();

    // Each is false when the object reports a failure.
    bool openPost(const std::wstring& url);
    bool setHeader(const std::wstring& name, const std::wstring& value);
    // Sends and waits for the reply (without a limit of its own), unless the request is abandoned.
    bool send(const std::wstring& body);

    // Windows XP and Server 2003 lack the root certificates the API's chain needs: certificate errors
    // are ignored there (and logged), on no other version.
    void relaxCertificateChecksOnXp();

    // The reply; 0 or empty when it cannot be read.
    long status();
    std::wstring statusText();
    std::wstring responseText();

private:
    bool abandoned() const { return abandon != nullptr && *abandon; }

    ComPtr<IWinHttpRequest> request;
    const std::atomic<bool>* abandon;
};

// Major version 5, minor 1 or more: Windows XP and Server 2003.
bool isWindowsXpFamily(DWORD major, DWORD minor);
