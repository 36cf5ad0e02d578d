#include "platform/CBoundedMutex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>

using namespace std::chrono_literals;

TEST(BoundedMutex, WaiterGivesUpWhileHeldAndGetsItOnceFree)
{
    CBoundedMutex mutex;
    std::unique_lock<CBoundedMutex> held(mutex);
    auto waiter = [&mutex] {
        std::unique_lock<CBoundedMutex> lock(mutex, 50ms);
        return lock.owns_lock();
    };
    EXPECT_FALSE(std::async(std::launch::async, waiter).get());
    EXPECT_FALSE(mutex.try_lock());
    held.unlock();
    EXPECT_TRUE(std::async(std::launch::async, waiter).get());
    EXPECT_TRUE(mutex.try_lock());
    mutex.unlock();
}

// A holder that refuses waiters turns away at once those waiting and those
// to come, however long they would wait; once it unlocks, the next one has
// the mutex and waits again as usual.
TEST(BoundedMutex, RefusedWaitersGiveUpAtOnce)
{
    CBoundedMutex mutex;
    std::unique_lock<CBoundedMutex> held(mutex);
    auto waiter = [&mutex] {
        std::unique_lock<CBoundedMutex> lock(mutex, 1h);
        return lock.owns_lock();
    };
    std::future<bool> waiting = std::async(std::launch::async, waiter);
    mutex.RefuseWaiters();
    // Should a waiter keep waiting, the unlock lets it through: the test
    // fails rather than hangs.
    const char* slack = std::getenv("CERTPURGE_TIME_SLACK");
    if (waiting.wait_for(30s * (slack != nullptr ? std::max(1, std::atoi(slack)) : 1)) != std::future_status::ready)
        held.unlock();
    EXPECT_FALSE(waiting.get());
    EXPECT_FALSE(std::async(std::launch::async, waiter).get());
    if (held.owns_lock())
        held.unlock();
    EXPECT_TRUE(std::async(std::launch::async, waiter).get());
}
