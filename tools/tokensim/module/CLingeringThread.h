#pragma once

#include <atomic>

#include <pthread.h>

// A thread of the module's own that goes on running after C_Finalize, as
// some vendors' modules leave one behind, until the process exits. A
// process that unloads the module before then crashes, every time: the
// thread wakes every millisecond in code that is gone, and at the latest
// the process's exit calls that code to stop it.
class CLingeringThread {
public:
    // Starts the thread, once per process.
    static void Start();

private:
    static void* Run(void*);
    static void StopAtExit(void*);

    static std::atomic<bool> s_bStarted;
    static std::atomic<bool> s_bStop;
    static std::atomic<unsigned long> s_ulTicks;
    static pthread_t s_thread;
};
