// Array allocations of the program that links this file, while guarding is on, end right at an
// inaccessible page, so that reading one byte past such an array faults at once instead of reading
// what lies beyond. The pipe server's frame buffer is one (new[] of its capacity): a frame that
// fills it to the byte has nothing readable behind its last byte.
//
// Each guarded array takes pages of its own from the system, which makes allocation slow and, with
// many threads, a point where they queue: guarding is on only where a test asks for it.

#include "GuardedArrays.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <new>

namespace {

constexpr size_t Alignment = 16;
// Before every array: how it was allocated, so that delete[] gives it back the same way.
struct alignas(Alignment) Header {
    std::uint32_t kind;
};
constexpr std::uint32_t FromHeap = 0x48454150;
constexpr std::uint32_t FromPages = 0x50414745;

std::atomic<bool> guarding { false };
std::atomic<unsigned long> allocations { 0 };

size_t pageSize()
{
    static const size_t size = [] {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        return static_cast<size_t>(info.dwPageSize);
    }();
    return size;
}

void* fromPages(size_t size)
{
    const size_t page = pageSize();
    // Sizes are kept to the alignment new[] promises; sizes that are a multiple of it end flush.
    const size_t rounded = size == 0 ? Alignment : (size + Alignment - 1) / Alignment * Alignment;
    const size_t dataPages = (rounded + sizeof(Header) + page - 1) / page;
    auto* base = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, (dataPages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == nullptr)
        return nullptr;
    DWORD previous = 0;
    if (!VirtualProtect(base + dataPages * page, page, PAGE_NOACCESS, &previous)) {
        VirtualFree(base, 0, MEM_RELEASE);
        return nullptr;
    }
    ++allocations;
    std::uint8_t* array = base + dataPages * page - rounded;
    reinterpret_cast<Header*>(array - sizeof(Header))->kind = FromPages;
    return array;
}

void* fromHeap(size_t size)
{
    auto* block = static_cast<std::uint8_t*>(std::malloc(sizeof(Header) + size));
    if (block == nullptr)
        return nullptr;
    reinterpret_cast<Header*>(block)->kind = FromHeap;
    return block + sizeof(Header);
}

void* allocate(size_t size)
{
    return guarding ? fromPages(size) : fromHeap(size);
}

void release(void* array)
{
    if (array == nullptr)
        return;
    auto* header = reinterpret_cast<Header*>(static_cast<std::uint8_t*>(array) - sizeof(Header));
    if (header->kind == FromHeap) {
        std::free(header);
        return;
    }
    MEMORY_BASIC_INFORMATION region {};
    if (VirtualQuery(array, &region, sizeof region) != 0)
        VirtualFree(region.AllocationBase, 0, MEM_RELEASE);
}

} // namespace

GuardedArrays::GuardedArrays()
{
    guarding = true;
}

GuardedArrays::~GuardedArrays()
{
    guarding = false;
}

unsigned long GuardedArrays::count()
{
    return allocations;
}

void* operator new[](size_t size)
{
    if (void* array = allocate(size))
        return array;
    throw std::bad_alloc();
}

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    return allocate(size);
}

void operator delete[](void* array) noexcept
{
    release(array);
}

void operator delete[](void* array, size_t) noexcept
{
    release(array);
}

void operator delete[](void* array, const std::nothrow_t&) noexcept
{
    release(array);
}
