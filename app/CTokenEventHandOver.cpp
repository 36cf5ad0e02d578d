#include "app/CTokenEventHandOver.h"

#include "token/TokenMessages.h"

#include <QSocketNotifier>

#include <utility>

CTokenEventHandOver::CTokenEventHandOver(Receiver receiver) : m_receiver(std::move(receiver)) {}

bool CTokenEventHandOver::Prepare(QObject* owner)
{
    if (m_pNotifier != nullptr)
        return true;
    if (!m_signal.Open())
        return false;
    m_pNotifier = new QSocketNotifier(m_signal.Fd(), QSocketNotifier::Read, owner);
    QObject::connect(m_pNotifier, &QSocketNotifier::activated, owner, [this] {
        m_signal.Drain();
        DeliverPending();
    });
    return true;
}

void CTokenEventHandOver::Resume()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bGivenUp = false;
}

void CTokenEventHandOver::GiveUp()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bGivenUp = true;
    }
    m_wake.notify_all();
}

void CTokenEventHandOver::OnSlotEvent(SlotEvent event, CK_SLOT_ID slot)
{
    if (event == SLOT_EVENT_PRESENT)
        HandOver(WM_TOKEN_INSERTED, static_cast<WPARAM>(slot));
    else if (event == SLOT_EVENT_ABSENT)
        HandOver(WM_TOKEN_REMOVED, static_cast<WPARAM>(slot));
}

// Waits until the window has handled the message, or until it gives up.
void CTokenEventHandOver::HandOver(UINT message, WPARAM wParam)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_uMessage = message;
        m_wParam = wParam;
        m_eState = EState::Pending;
    }
    m_signal.Signal();

    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait(lock, [this] { return m_eState == EState::Done || m_bGivenUp; });
    m_eState = EState::Idle;
}

void CTokenEventHandOver::DeliverPending()
{
    UINT message = 0;
    WPARAM wParam = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_eState != EState::Pending)
            return;  // given up by a monitor being stopped
        message = m_uMessage;
        wParam = m_wParam;
    }
    m_receiver(message, wParam);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_eState = EState::Done;
    }
    m_wake.notify_all();
}
