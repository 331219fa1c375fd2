#pragma once
// Late-bound calls to a COM object through IDispatch, for objects that have no header here
// (the WinHTTP request object among them). Failures throw std::runtime_error with the HRESULT.

#include "ComPtr.h"

#include <oaidl.h>
#include <oleauto.h>

#include <string>
#include <vector>

// Owner of a VARIANT: clears it (freeing a BSTR, releasing an interface) when it goes.
class Variant {
public:
    Variant() noexcept { VariantInit(&value_); }
    ~Variant() { VariantClear(&value_); }
    Variant(Variant&& other) noexcept;
    Variant& operator=(Variant&& other) noexcept;
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;

    static Variant text(const std::wstring& value);
    static Variant boolean(bool value);

    const VARIANT& get() const noexcept { return value_; }
    VARIANT* put() noexcept;

    // The value converted as VariantChangeType converts it.
    std::wstring asText() const;
    long asInt() const;

private:
    VARIANT value_;
};

class DispatchObject {
public:
    // CLSIDFromProgID, then CoCreateInstance for IDispatch. COM must be initialised on the thread.
    static DispatchObject create(const wchar_t* progId);

    // Arguments in the order the method declares them.
    template <typename... Args>
    Variant call(const wchar_t* name, const Args&... args)
    {
        return invoke(name, DISPATCH_METHOD, { &args.get()... });
    }
    Variant get(const wchar_t* name) { return invoke(name, DISPATCH_PROPERTYGET, {}); }

private:
    explicit DispatchObject(ComPtr<IDispatch> object) : object_(std::move(object)) {}
    Variant invoke(const wchar_t* name, WORD flags, const std::vector<const VARIANT*>& args);

    ComPtr<IDispatch> object_;
};
