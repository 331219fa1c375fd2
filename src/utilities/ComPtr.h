#pragma once
// Owner of a COM interface pointer: releases it when it goes out of scope.

#include <unknwn.h>

#include <utility>

template <typename Interface>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ~ComPtr() { reset(); }

    ComPtr(const ComPtr& other) noexcept : pointer_(other.pointer_)
    {
        if (pointer_)
            pointer_->AddRef();
    }
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr other) noexcept
    {
        std::swap(pointer_, other.pointer_);
        return *this;
    }

    Interface* get() const noexcept { return pointer_; }
    Interface* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    void reset() noexcept
    {
        if (pointer_)
            std::exchange(pointer_, nullptr)->Release();
    }
    // For APIs that hand back a new reference through an out parameter.
    Interface** put() noexcept
    {
        reset();
        return &pointer_;
    }
    void** putVoid() noexcept { return reinterpret_cast<void**>(put()); }

private:
    Interface* pointer_ = nullptr;
};

// Initialises COM on the calling thread for as long as it lives.
class ComInit {
public:
    explicit ComInit(DWORD model = COINIT_MULTITHREADED) noexcept : result_(CoInitializeEx(nullptr, model)) {}
    ~ComInit()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;
    HRESULT result() const noexcept { return result_; }

private:
    HRESULT result_;
};
