#pragma once
// Owner of a BSTR: frees it when it goes out of scope.

#include <windows.h>
#include <oleauto.h>

#include <string>

class BString {
public:
    // A null BSTR when memory runs out; test with operator bool.
    explicit BString(const std::wstring& text)
        : text_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size())))
    {
    }
    ~BString() { SysFreeString(text_); }
    BString(const BString&) = delete;
    BString& operator=(const BString&) = delete;

    BSTR get() const noexcept { return text_; }
    explicit operator bool() const noexcept { return text_ != nullptr; }

private:
    BSTR text_;
};
