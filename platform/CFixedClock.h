#pragma once

#include "platform/CClock.h"

#include <atomic>
#include <ctime>

// A clock that stands still at a set instant, with a set local offset from
// UTC. Settable from one thread while another reads it.
class CFixedClock : public CClock {
public:
    explicit CFixedClock(std::time_t utc = 0, long localOffsetSeconds = 0)
        : m_tUtc(utc), m_lLocalOffset(localOffsetSeconds)
    {
    }

    void Set(std::time_t utc) { m_tUtc = utc; }
    void SetLocalOffset(long seconds) { m_lLocalOffset = seconds; }

    SYSTEMTIME GetSystemTime() const override;
    SYSTEMTIME GetLocalTime() const override;

private:
    std::atomic<std::time_t> m_tUtc;
    std::atomic<long> m_lLocalOffset;
};
