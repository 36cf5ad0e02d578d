#include "platform/CThread.h"

#include <memory>

#include <pthread.h>

bool CThread::StartDetached(std::function<void()> body)
{
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    pthread_attr_t attr;
    if (pthread_attr_init(&attr) != 0)
        return false;
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread{};
    bool started = pthread_create(&thread, &attr, &CThread::Entry, owned.get()) == 0;
    pthread_attr_destroy(&attr);
    if (started)
        owned.release();  // the thread's now
    return started;
}

void* CThread::Entry(void* body)
{
    std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(body));
    (*owned)();
    return nullptr;
}
