#pragma once

#include <functional>

#include <pthread.h>

// A thread that owns what its body uses, so it may be left to itself: one
// held up in a library that never answers need not hold up its starter.
// Failure to start is reported, not thrown.
class CThread {
public:
    CThread() = default;
    // Joins a thread still joinable, unless this is that thread.
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    bool Start(std::function<void()> body);
    // Waits for the thread to end: nothing of it runs afterwards.
    void Join();
    // Leaves the thread to itself.
    void Detach();

private:
    static void* Entry(void* body);

    pthread_t m_thread{};
    bool m_bJoinable = false;
};
