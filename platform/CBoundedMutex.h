#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// A mutex whose waiters can give up after a while. Built on a plain mutex
// and a condition variable, which the thread sanitizer follows; it does not
// follow the timed lock of std::timed_mutex. The lower-case names make it
// usable with std::unique_lock and std::lock_guard.
class CBoundedMutex {
public:
    void lock();
    bool try_lock();
    template <typename Rep, typename Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& timeout)
    {
        return TryLockFor(std::chrono::duration_cast<std::chrono::milliseconds>(timeout));
    }
    void unlock();

    // For the holder, when it holds on for as long as a person needs (a
    // PIN typed on the token's keypad): every waiter, and whoever comes
    // until it unlocks, gives up at once instead of waiting out its timeout.
    // lock() still waits.
    void RefuseWaiters();

private:
    bool TryLockFor(std::chrono::milliseconds timeout);

    std::mutex m_mutex;
    std::condition_variable m_freed;
    bool m_bHeld = false;      // guarded by m_mutex
    bool m_bRefusing = false;  // guarded by m_mutex; only while held
};
