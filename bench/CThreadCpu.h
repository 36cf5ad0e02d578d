#pragma once

#include <set>
#include <sys/types.h>

// CPU time used by this process and by its threads one by one.
class CThreadCpu {
public:
    // The IDs of this process's threads now.
    static std::set<pid_t> Threads();
    // Nanoseconds a thread of this process has run: schedstat's count, or
    // stat's clock ticks where the kernel has no schedstat; -1 when gone.
    static long long ThreadNs(pid_t tid);
    // User and system time of the whole process, in nanoseconds.
    static long long ProcessNs();

private:
    static long long FromSchedstat(pid_t tid);
    static long long FromStat(pid_t tid);
};
