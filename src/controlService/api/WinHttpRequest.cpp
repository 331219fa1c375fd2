#include "WinHttpRequest.h"

#include "ApiWire.h"

#include "Handles.h"
#include "Logger.h"

#include <algorithm>

namespace {

// {016FE2EC-B2C8-45F8-B23B-39E53A75396B}
const IID IID_IWinHttpRequest = { 0x016fe2ec, 0xb2c8, 0x45f8, { 0xb2, 0x3b, 0x39, 0xe5, 0x3a, 0x75, 0x39, 0x6b } };

// Every server context: in-process, local and remote (0x17).
constexpr DWORD AnyServer = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr LONG SslErrorIgnoreFlagsOption = 4;
// How long one wait for the reply lasts before the abandon flag is looked at again.
constexpr LONG ReplyWaitSeconds = 1;
// Unknown certificate authority, wrong usage, invalid common name, invalid date.
constexpr LONG IgnoreCertificateErrors = 0x3300;

UniqueBstr makeBstr(const std::wstring& text)
{
    UniqueBstr result(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!result)
        throw ComError { E_OUTOFMEMORY };
    return result;
}

// The text of a COM string up to its first NUL: Wine counts a terminating NUL in some lengths.
std::wstring textOf(const UniqueBstr& text)
{
    if (!text)
        return std::wstring();
    const wchar_t* begin = text.get();
    const wchar_t* end = begin + SysStringLen(text.get());
    return std::wstring(begin, std::find(begin, end, L'\0'));
}

// A variant that refers to a string owned elsewhere.
VARIANT textVariant(const UniqueBstr& text)
{
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    value.bstrVal = text.get();
    return value;
}

} // namespace

bool isWindowsXpFamily(DWORD major, DWORD minor)
{
    return major == 5 && minor >= 1;
}

bool WinHttpRequest::create()
{
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(ApiWire::RequestProgId, &clsid)))
        return false;
    return SUCCEEDED(CoCreateInstance(clsid, nullptr, AnyServer, IID_IWinHttpRequest, request.putVoid()));
}

bool WinHttpRequest::openPost(const std::wstring& url)
{
    const UniqueBstr method = makeBstr(ApiWire::PostMethod);
    const UniqueBstr target = makeBstr(url);
    VARIANT async;
    VariantInit(&async);
    async.vt = VT_BOOL;
    async.boolVal = VARIANT_TRUE;
    return SUCCEEDED(request->Open(method.get(), target.get(), async));
}

bool WinHttpRequest::setHeader(const std::wstring& name, const std::wstring& value)
{
    const UniqueBstr header = makeBstr(name);
    const UniqueBstr text = makeBstr(value);
    return SUCCEEDED(request->SetRequestHeader(header.get(), text.get()));
}

bool WinHttpRequest::send(const std::wstring& body)
{
    if (abandoned())
        return false;
    const UniqueBstr text = makeBstr(body);
    if (FAILED(request->Send(textVariant(text))))
        return false;
    VARIANT timeout;
    VariantInit(&timeout);
    timeout.vt = VT_I4;
    timeout.lVal = ReplyWaitSeconds;
    for (;;) {
        // True unless the wait ran out: an object that already has its reply may not set it.
        VARIANT_BOOL done = VARIANT_TRUE;
        // A request that failed (no connection, no reply) fails here.
        if (FAILED(request->WaitForResponse(timeout, &done)))
            return false;
        if (done != VARIANT_FALSE)
            return true;
        if (abandoned()) {
            request->Abort();
            Logger::instance().write("WinHttpRequest::send request abandoned: the service is stopping");
            return false;
        }
    }
}

void WinHttpRequest::relaxCertificateChecksOnXp()
{
    OSVERSIONINFOW version {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExW(&version) || !isWindowsXpFamily(version.dwMajorVersion, version.dwMinorVersion))
        return;
#pragma GCC diagnostic pop
    VARIANT flags;
    VariantInit(&flags);
    flags.vt = VT_I4;
    flags.lVal = IgnoreCertificateErrors;
    request->put_Option(SslErrorIgnoreFlagsOption, flags);
    Logger::instance().write("Ignore SSL errors on Win XP only");
}

long WinHttpRequest::status()
{
    LONG value = 0;
    if (FAILED(request->get_Status(&value)))
        return 0;
    return value;
}

std::wstring WinHttpRequest::statusText()
{
    UniqueBstr text;
    if (FAILED(request->get_StatusText(text.put())))
        return std::wstring();
    return textOf(text);
}

std::wstring WinHttpRequest::responseText()
{
    UniqueBstr text;
    if (FAILED(request->get_ResponseText(text.put())))
        return std::wstring();
    return textOf(text);
}
