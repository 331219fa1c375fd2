#pragma once
// The wait of the update worker between two check-ins, from a check-in interval in seconds.

#include <windows.h>

// Never shorter than this: an interval of 0 (or one that does not read as a number, or a negative
// one) means "check in again soon", not a loop that sends check-ins back to back.
constexpr DWORD ShortestCheckinWaitMs = 5000;

// The interval as milliseconds, at least ShortestCheckinWaitMs, and short of INFINITE however long
// the interval: 32-bit arithmetic would wrap a long one round to a short wait.
DWORD checkinWaitMs(int intervalSeconds);
