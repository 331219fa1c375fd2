#pragma once
// A reader/writer lock over a Win32 slim reader/writer lock, usable with std::unique_lock and
// std::shared_lock.
//
// std::shared_mutex of this toolchain sits on winpthreads' read/write lock, which can hang under
// mixed shared and exclusive use and, on its first use by several threads at once, can return
// without holding the lock. The system's own lock has neither fault, needs no set-up that can fail
// and nothing to free. It is not recursive, and it is released by the thread that took it.

#include <windows.h>

class SrwLock {
public:
    SrwLock() = default;
    SrwLock(const SrwLock&) = delete;
    SrwLock& operator=(const SrwLock&) = delete;

    void lock() { AcquireSRWLockExclusive(&lock_); }
    bool try_lock() { return TryAcquireSRWLockExclusive(&lock_) != 0; }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }

    void lock_shared() { AcquireSRWLockShared(&lock_); }
    bool try_lock_shared() { return TryAcquireSRWLockShared(&lock_) != 0; }
    void unlock_shared() { ReleaseSRWLockShared(&lock_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
};
