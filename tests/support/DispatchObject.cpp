#include "DispatchObject.h"

#include <cstdio>
#include <new>
#include <stdexcept>
#include <utility>

namespace {

std::string utf8(const wchar_t* text, int length = -1)
{
    if (!text || length == 0)
        return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, result.data(), size, nullptr, nullptr);
    if (length < 0 && !result.empty())
        result.pop_back();
    return result;
}

[[noreturn]] void fail(const std::string& what, HRESULT hr, const std::string& detail = std::string())
{
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(hr));
    throw std::runtime_error(what + " failed with " + code + (detail.empty() ? "" : ": " + detail));
}

// The strings an Invoke failure may hand back.
struct ExceptionInfo : EXCEPINFO {
    ExceptionInfo() : EXCEPINFO() {}
    ~ExceptionInfo()
    {
        SysFreeString(bstrSource);
        SysFreeString(bstrDescription);
        SysFreeString(bstrHelpFile);
    }
    ExceptionInfo(const ExceptionInfo&) = delete;
    ExceptionInfo& operator=(const ExceptionInfo&) = delete;
};

} // namespace

Variant::Variant(Variant&& other) noexcept : value_(other.value_)
{
    VariantInit(&other.value_);
}

Variant& Variant::operator=(Variant&& other) noexcept
{
    if (this != &other) {
        VariantClear(&value_);
        value_ = other.value_;
        VariantInit(&other.value_);
    }
    return *this;
}

VARIANT* Variant::put() noexcept
{
    VariantClear(&value_);
    return &value_;
}

Variant Variant::text(const std::wstring& value)
{
    Variant result;
    result.value_.bstrVal = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    if (!result.value_.bstrVal)
        throw std::bad_alloc();
    result.value_.vt = VT_BSTR;
    return result;
}

Variant Variant::boolean(bool value)
{
    Variant result;
    result.value_.vt = VT_BOOL;
    result.value_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
}

std::wstring Variant::asText() const
{
    Variant converted;
    const HRESULT hr = VariantChangeType(converted.put(), const_cast<VARIANT*>(&value_), 0, VT_BSTR);
    if (FAILED(hr))
        fail("converting a VARIANT to text", hr);
    const BSTR text = converted.value_.bstrVal;
    return text ? std::wstring(text, SysStringLen(text)) : std::wstring();
}

long Variant::asInt() const
{
    Variant converted;
    const HRESULT hr = VariantChangeType(converted.put(), const_cast<VARIANT*>(&value_), 0, VT_I4);
    if (FAILED(hr))
        fail("converting a VARIANT to a number", hr);
    return converted.value_.lVal;
}

DispatchObject DispatchObject::create(const wchar_t* progId)
{
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId, &clsid);
    if (FAILED(hr))
        fail("CLSIDFromProgID(" + utf8(progId) + ")", hr);
    ComPtr<IDispatch> object;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, object.putVoid());
    if (FAILED(hr))
        fail("CoCreateInstance(" + utf8(progId) + ")", hr);
    return DispatchObject(std::move(object));
}

Variant DispatchObject::invoke(const wchar_t* name, WORD flags, const std::vector<const VARIANT*>& args)
{
    DISPID id = 0;
    LPOLESTR names[] = { const_cast<LPOLESTR>(name) };
    HRESULT hr = object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        fail("GetIDsOfNames(" + utf8(name) + ")", hr);

    // IDispatch takes the arguments last first. They stay owned by the caller's Variants.
    std::vector<VARIANT> reversed;
    for (auto arg = args.rbegin(); arg != args.rend(); ++arg)
        reversed.push_back(**arg);
    DISPPARAMS params { reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0 };

    Variant result;
    ExceptionInfo exception;
    UINT badArgument = 0;
    hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result.put(), &exception,
                         &badArgument);
    if (FAILED(hr)) {
        // DISP_E_EXCEPTION carries the object's own error in the exception information.
        std::string detail = utf8(exception.bstrDescription);
        if (hr == DISP_E_EXCEPTION && exception.scode != 0) {
            char code[32];
            std::snprintf(code, sizeof code, "error 0x%08lx", static_cast<unsigned long>(exception.scode));
            detail += (detail.empty() ? "" : " ") + std::string(code);
        }
        fail(utf8(name), hr, detail);
    }
    return result;
}
