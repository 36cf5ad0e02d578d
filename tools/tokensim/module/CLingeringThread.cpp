#include "CLingeringThread.h"

#include <cxxabi.h>
#include <time.h>

std::atomic<bool> CLingeringThread::s_bStarted{false};
std::atomic<bool> CLingeringThread::s_bStop{false};
std::atomic<unsigned long> CLingeringThread::s_ulTicks{0};
pthread_t CLingeringThread::s_thread{};

void CLingeringThread::Start()
{
    if (s_bStarted.exchange(true))
        return;
    if (pthread_create(&s_thread, nullptr, &Run, nullptr) != 0)
        return;
    // Registered for the process, not for this library (no DSO handle): the
    // library's unloading does not call it, the process's exit always does.
    abi::__cxa_atexit(&StopAtExit, nullptr, nullptr);
}

void* CLingeringThread::Run(void*)
{
    const timespec pause = {0, 1000 * 1000};
    while (!s_bStop.load()) {
        s_ulTicks.fetch_add(1);
        nanosleep(&pause, nullptr);
    }
    return nullptr;
}

void CLingeringThread::StopAtExit(void*)
{
    s_bStop = true;
    pthread_join(s_thread, nullptr);
}
