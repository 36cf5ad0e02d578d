#include "platform/CThread.h"

#include <memory>

CThread::~CThread()
{
    if (m_bJoinable && pthread_equal(m_thread, pthread_self()) != 0)
        Detach();
    Join();
}

bool CThread::Start(std::function<void()> body)
{
    if (m_bJoinable)
        return false;
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    m_bJoinable = pthread_create(&m_thread, nullptr, &CThread::Entry, owned.get()) == 0;
    if (m_bJoinable)
        owned.release();  // the thread's now
    return m_bJoinable;
}

void CThread::Join()
{
    if (!m_bJoinable)
        return;
    pthread_join(m_thread, nullptr);
    m_bJoinable = false;
}

void CThread::Detach()
{
    if (!m_bJoinable)
        return;
    pthread_detach(m_thread);
    m_bJoinable = false;
}

void* CThread::Entry(void* body)
{
    std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(body));
    (*owned)();
    return nullptr;
}
