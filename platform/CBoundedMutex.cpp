#include "platform/CBoundedMutex.h"

void CBoundedMutex::lock()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_freed.wait(lock, [this] { return !m_bHeld; });
    m_bHeld = true;
}

bool CBoundedMutex::try_lock()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bHeld)
        return false;
    m_bHeld = true;
    return true;
}

bool CBoundedMutex::TryLockFor(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_freed.wait_for(lock, timeout, [this] { return !m_bHeld || m_bRefusing; }) || m_bHeld)
        return false;
    m_bHeld = true;
    return true;
}

void CBoundedMutex::unlock()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHeld = false;
        m_bRefusing = false;
    }
    m_freed.notify_one();
}

void CBoundedMutex::RefuseWaiters()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bRefusing = true;
    }
    // Those waiting now give up too.
    m_freed.notify_all();
}
