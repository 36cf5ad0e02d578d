#include "app/CRefreshPacing.h"

std::optional<CRefreshPacing::Duration> CRefreshPacing::Ask(Clock::time_point now)
{
    if (m_bWaiting)
        return std::nullopt;
    if (!m_lastRefresh || now - *m_lastRefresh >= m_interval)
        return Duration::zero();
    m_bWaiting = true;
    // Rounded up: a timer that fires a little early would ask again.
    return std::chrono::ceil<Duration>(*m_lastRefresh + m_interval - now);
}

void CRefreshPacing::Ran(Clock::time_point now)
{
    m_lastRefresh = now;
    m_bWaiting = false;
}
