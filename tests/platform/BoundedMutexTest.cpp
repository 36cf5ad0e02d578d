#include "platform/CBoundedMutex.h"

#include <gtest/gtest.h>

#include <chrono>
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
