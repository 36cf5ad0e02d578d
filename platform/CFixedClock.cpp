#include "platform/CFixedClock.h"

#include "platform/SystemTimeConv.h"

SYSTEMTIME CFixedClock::GetSystemTime() const
{
    return SystemTimeConv::FromUnixUtc(m_tUtc.load());
}

SYSTEMTIME CFixedClock::GetLocalTime() const
{
    return SystemTimeConv::FromUnixUtc(m_tUtc.load() + m_lLocalOffset.load());
}
