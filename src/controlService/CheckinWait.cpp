#include "CheckinWait.h"

#include <algorithm>

DWORD checkinWaitMs(int intervalSeconds)
{
    const long long wanted = static_cast<long long>(intervalSeconds) * 1000;
    const long long longest = static_cast<long long>(INFINITE) - 1;
    return static_cast<DWORD>(std::clamp<long long>(wanted, ShortestCheckinWaitMs, longest));
}
