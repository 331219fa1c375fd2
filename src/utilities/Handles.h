#pragma once
// Owners of Windows handles: each closes its handle when it goes out of scope.

#include <windows.h>
#include <oleauto.h>
#include <userenv.h>

#include <utility>

// A handle owner parameterised by how the handle is closed and which value means "none".
template <typename Handle, typename Traits>
class UniqueOwner {
public:
    UniqueOwner() noexcept = default;
    explicit UniqueOwner(Handle handle) noexcept : handle_(handle) {}
    ~UniqueOwner() { reset(); }

    UniqueOwner(UniqueOwner&& other) noexcept : handle_(other.release()) {}
    UniqueOwner& operator=(UniqueOwner&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueOwner(const UniqueOwner&) = delete;
    UniqueOwner& operator=(const UniqueOwner&) = delete;

    Handle get() const noexcept { return handle_; }
    bool valid() const noexcept { return Traits::valid(handle_); }
    explicit operator bool() const noexcept { return valid(); }

    Handle release() noexcept { return std::exchange(handle_, Traits::none()); }
    void reset(Handle handle = Traits::none()) noexcept
    {
        if (Traits::valid(handle_))
            Traits::close(handle_);
        handle_ = handle;
    }
    // For APIs that return a handle through an out parameter.
    Handle* put() noexcept
    {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::none();
};

struct KernelHandleTraits {
    static HANDLE none() noexcept { return nullptr; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { CloseHandle(h); }
};
using UniqueHandle = UniqueOwner<HANDLE, KernelHandleTraits>;

struct ServiceHandleTraits {
    static SC_HANDLE none() noexcept { return nullptr; }
    static bool valid(SC_HANDLE h) noexcept { return h != nullptr; }
    static void close(SC_HANDLE h) noexcept { CloseServiceHandle(h); }
};
using ScHandle = UniqueOwner<SC_HANDLE, ServiceHandleTraits>;

struct LocalMemoryTraits {
    static HLOCAL none() noexcept { return nullptr; }
    static bool valid(HLOCAL h) noexcept { return h != nullptr; }
    static void close(HLOCAL h) noexcept { LocalFree(h); }
};
using LocalMemory = UniqueOwner<HLOCAL, LocalMemoryTraits>;

struct LibraryModuleTraits {
    static HMODULE none() noexcept { return nullptr; }
    static bool valid(HMODULE h) noexcept { return h != nullptr; }
    static void close(HMODULE h) noexcept { FreeLibrary(h); }
};
using LibraryModule = UniqueOwner<HMODULE, LibraryModuleTraits>;

struct RegistryKeyTraits {
    static HKEY none() noexcept { return nullptr; }
    static bool valid(HKEY h) noexcept { return h != nullptr; }
    static void close(HKEY h) noexcept { RegCloseKey(h); }
};
using RegistryKey = UniqueOwner<HKEY, RegistryKeyTraits>;

// A SID made by AllocateAndInitializeSid.
struct SidTraits {
    static PSID none() noexcept { return nullptr; }
    static bool valid(PSID h) noexcept { return h != nullptr; }
    static void close(PSID h) noexcept { FreeSid(h); }
};
using SidOwner = UniqueOwner<PSID, SidTraits>;

// An environment block made by CreateEnvironmentBlock.
struct EnvironmentBlockTraits {
    static LPVOID none() noexcept { return nullptr; }
    static bool valid(LPVOID h) noexcept { return h != nullptr; }
    static void close(LPVOID h) noexcept { DestroyEnvironmentBlock(h); }
};
using EnvironmentBlock = UniqueOwner<LPVOID, EnvironmentBlockTraits>;

// A COM string made by SysAllocString and its kin.
struct BstrTraits {
    static BSTR none() noexcept { return nullptr; }
    static bool valid(BSTR h) noexcept { return h != nullptr; }
    static void close(BSTR h) noexcept { SysFreeString(h); }
};
using UniqueBstr = UniqueOwner<BSTR, BstrTraits>;

// The process and thread handles that process creation hands back.
struct ProcessHandles {
    ProcessHandles() noexcept = default;
    explicit ProcessHandles(const PROCESS_INFORMATION& info) noexcept : process(info.hProcess), thread(info.hThread) {}

    UniqueHandle process;
    UniqueHandle thread;
};
// Files and pipes from CreateFileW and CreateNamedPipeW, whose "none" is INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    static HANDLE none() noexcept { return INVALID_HANDLE_VALUE; }
    static bool valid(HANDLE h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(HANDLE h) noexcept { CloseHandle(h); }
};
using FileHandle = UniqueOwner<HANDLE, FileHandleTraits>;
