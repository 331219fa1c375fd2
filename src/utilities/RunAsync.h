#pragma once
// Runs a function object as a work item of the Windows thread pool.

#include <windows.h>

#include <functional>

// Queues a copy of `work` with QueueUserWorkItem and `flags` (the service passes
// WT_EXECUTELONGFUNCTION). When it cannot be queued, throws the Windows error code as a DWORD;
// the work is then never called.
void runAsync(std::function<void()> work, ULONG flags);

// The pool procedure: runs the copy once and frees it. An exception that escapes the work is
// logged and goes no further, since nothing above this procedure could handle it.
DWORD WINAPI runAsyncProc(LPVOID context);
