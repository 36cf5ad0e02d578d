// The main dialog's side of the presence monitor: it starts and stops the
// monitor and takes each event it hands over on the dialog's thread.

#include "app/CCertPurgeDlg.h"

#include <QSocketNotifier>

bool CCertPurgeDlg::StartMonitor()
{
    if (!PrepareHandOver())
        return false;
    m_bStopMonitor = false;
    // A thread left behind in the module keeps its monitor: start a new one.
    if (m_pMonitor->IsRunning())
        m_pMonitor = CPresenceMonitor::Create(m_pToken, *this);
    return m_pMonitor->Start(m_token.SlotList());
}

// The dialog's side of the hand-over, made on the dialog's thread.
bool CCertPurgeDlg::PrepareHandOver()
{
    if (m_pHandOverNotifier != nullptr)
        return true;
    if (!m_handOverSignal.Open())
        return false;
    m_pHandOverNotifier = new QSocketNotifier(m_handOverSignal.Fd(), QSocketNotifier::Read, this);
    connect(m_pHandOverNotifier, &QSocketNotifier::activated, this, [this] {
        m_handOverSignal.Drain();
        DeliverHandOver();
    });
    return true;
}

bool CCertPurgeDlg::StopMonitor()
{
    if (m_bMonitorLeftBehind)
        return false;  // waited for once already
    {
        std::lock_guard<std::mutex> lock(m_monitorMutex);
        m_bStopMonitor = true;
    }
    m_monitorWake.notify_all();
    if (m_pMonitor->Stop(kMonitorStopTimeout))
        return true;
    m_bMonitorLeftBehind = true;
    return false;
}

unsigned CCertPurgeDlg::MonitorThreadProc(CCertPurgeDlg* dialog)
{
    return dialog != nullptr ? dialog->m_pMonitor->Run() : 0;
}

SlotEvent CCertPurgeDlg::PollSlotEvent(CK_SLOT_ID* slot)
{
    return m_pMonitor->PollSlotEvent(slot);
}

void CCertPurgeDlg::OnSlotEvent(SlotEvent event, CK_SLOT_ID slot)
{
    if (event == SLOT_EVENT_PRESENT)
        HandOver(WM_TOKEN_INSERTED, static_cast<WPARAM>(slot));
    else if (event == SLOT_EVENT_ABSENT)
        HandOver(WM_TOKEN_REMOVED, 0);
}

// Runs the message on the dialog's thread and waits until it has been
// handled, or until the monitor is being stopped: a dialog waiting for the
// monitor to end must not wait on a hand-over that waits on the dialog. The
// message passes under the monitor's mutex; the dialog's event loop, its
// nested ones included, is woken through the event counter.
void CCertPurgeDlg::HandOver(UINT message, WPARAM wParam)
{
    {
        std::lock_guard<std::mutex> lock(m_monitorMutex);
        m_handOver = {message, wParam, EHandOver::Pending};
    }
    m_handOverSignal.Signal();

    std::unique_lock<std::mutex> lock(m_monitorMutex);
    m_monitorWake.wait(lock, [this] { return m_handOver.state == EHandOver::Done || m_bStopMonitor.load(); });
    m_handOver.state = EHandOver::Idle;
}

void CCertPurgeDlg::DeliverHandOver()
{
    SHandOver handOver;
    {
        std::lock_guard<std::mutex> lock(m_monitorMutex);
        if (m_handOver.state != EHandOver::Pending)
            return;  // given up by a monitor being stopped
        handOver = m_handOver;
    }
    SendMessage(handOver.message, handOver.wParam, 0);
    {
        std::lock_guard<std::mutex> lock(m_monitorMutex);
        m_handOver.state = EHandOver::Done;
    }
    m_monitorWake.notify_all();
}

LRESULT CCertPurgeDlg::SendMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TOKEN_INSERTED: return OnTokenInserted(wParam, lParam);
    case WM_TOKEN_REMOVED: return OnTokenRemoved(wParam, lParam);
    default: return 0;
    }
}

LRESULT CCertPurgeDlg::OnTokenInserted(WPARAM wParam, LPARAM)
{
    ++m_ulTokenEvents;
    CK_TOKEN_INFO info{};
    if (m_token.GetTokenInfo(static_cast<CK_SLOT_ID>(wParam), &info) == CKR_OK)
        RefreshList();
    return 0;
}

LRESULT CCertPurgeDlg::OnTokenRemoved(WPARAM, LPARAM)
{
    ++m_ulTokenEvents;
    m_list.DeleteAllItems();
    return 0;
}
