#include "platform/CClock.h"

#include "platform/SystemTimeConv.h"

#include <ctime>

SYSTEMTIME CClock::GetSystemTime() const
{
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return SystemTimeConv::FromUnixUtc(ts.tv_sec);
}

SYSTEMTIME CClock::GetLocalTime() const
{
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    return SystemTimeConv::FromUnixLocal(ts.tv_sec);
}

const CClock& CClock::System()
{
    static const CClock clock;
    return clock;
}
