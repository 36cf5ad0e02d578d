#pragma once

#include <functional>

#include <pthread.h>

// A thread that is joined when the object goes, so nothing it touches can
// be gone while it runs. Start reports failure instead of throwing.
class CThread {
public:
    CThread() = default;
    ~CThread();
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    bool Start(std::function<void()> body);
    void Join();
    bool IsRunning() const { return m_bStarted; }

private:
    static void* Entry(void* self);

    std::function<void()> m_body;
    pthread_t m_thread{};
    bool m_bStarted = false;
};
