#include "WaitUntil.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace testsupport {

int TimeSlack()
{
    const char* slack = std::getenv("CERTPURGE_TIME_SLACK");
    return slack != nullptr ? std::max(1, std::atoi(slack)) : 1;
}

std::chrono::milliseconds Patience(std::chrono::milliseconds base)
{
    return base * TimeSlack();
}

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds base,
               const std::function<void()>& between)
{
    const auto deadline = std::chrono::steady_clock::now() + Patience(base);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        if (between)
            between();
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace testsupport
