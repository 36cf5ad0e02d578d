#pragma once

#include <chrono>
#include <functional>

namespace testsupport {

// How long a test waits for a state before it gives up, unless it says.
inline constexpr std::chrono::milliseconds kPatience{10000};

// Sanitizer builds run several times slower: CERTPURGE_TIME_SLACK, a whole
// number (1 when unset), stretches every patience of the tests.
int TimeSlack();
// `base` stretched by the slack.
std::chrono::milliseconds Patience(std::chrono::milliseconds base = kPatience);

// Checks `done` until it holds, and false when it still does not after
// `base` stretched by the slack. A state reached returns at once; between
// checks `between` runs, by default a short sleep (one that runs an event
// loop must also sleep or block, never spin).
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds base = kPatience,
               const std::function<void()>& between = {});

}  // namespace testsupport
