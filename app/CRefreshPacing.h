#pragma once

#include <chrono>
#include <optional>

// When the window may read the token again after a token event: at most
// once an interval, however often the module reports, the events of one
// interval answered by one refresh at its end.
class CRefreshPacing {
public:
    using Clock = std::chrono::steady_clock;
    using Duration = std::chrono::milliseconds;

    explicit CRefreshPacing(Duration interval) : m_interval(interval) {}

    void SetInterval(Duration interval) { m_interval = interval; }
    // A token event asks for a refresh at `now`: zero when it may run at
    // once, else how long until it may; empty when one is already waiting,
    // which answers this event too.
    std::optional<Duration> Ask(Clock::time_point now);
    // A refresh ended at `now`, asked for or not; none is waiting any more.
    void Ran(Clock::time_point now);

private:
    Duration m_interval;
    std::optional<Clock::time_point> m_lastRefresh;
    bool m_bWaiting = false;
};
