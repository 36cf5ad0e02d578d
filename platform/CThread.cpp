#include "platform/CThread.h"

CThread::~CThread()
{
    Join();
}

bool CThread::Start(std::function<void()> body)
{
    if (m_bStarted)
        return false;
    m_body = std::move(body);
    m_bStarted = pthread_create(&m_thread, nullptr, &CThread::Entry, this) == 0;
    return m_bStarted;
}

void CThread::Join()
{
    if (!m_bStarted)
        return;
    pthread_join(m_thread, nullptr);
    m_bStarted = false;
}

void* CThread::Entry(void* self)
{
    static_cast<CThread*>(self)->m_body();
    return nullptr;
}
