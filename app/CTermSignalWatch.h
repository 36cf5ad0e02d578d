#pragma once

#include "platform/CEventFd.h"
#include "platform/CSignalFd.h"
#include "platform/CThread.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

// SIGTERM for the window. A thread of its own waits for the signal and
// tells the window's thread, which ends the run between two events; should
// that thread be held in a module call, the watch ends the process itself
// once kGrace is over, so the window ends within half a second whatever it
// is doing. Either way the process ends as the signal's default action
// ends it.
class CTermSignalWatch {
public:
    static constexpr std::chrono::milliseconds kGrace{350};

    CTermSignalWatch();
    ~CTermSignalWatch();
    CTermSignalWatch(const CTermSignalWatch&) = delete;
    CTermSignalWatch& operator=(const CTermSignalWatch&) = delete;

    // Blocks SIGTERM: before any other thread starts. False when it is
    // left to its default action.
    bool Open() { return m_signal.Open(); }
    // Watches until Stop; `onSignal` runs on the calling thread's event
    // loop, nested ones included. False when not opened.
    bool Start(std::function<void()> onSignal);
    // True when SIGTERM came meanwhile; from then on it takes its default
    // action again.
    bool Stop();
    [[noreturn]] void Die() { m_signal.Die(); }

private:
    void Watch();

    CSignalFd m_signal{SIGTERM};
    CEventFd m_wake;  // to the window's thread
    CEventFd m_stop;  // to the watching thread
    CThread m_thread;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    std::atomic<bool> m_bReceived{false};
};
