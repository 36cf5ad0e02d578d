// The main dialog's presence monitor: a thread that polls the module for
// slot events and hands each one to the dialog's thread.

#include "app/CCertPurgeDlg.h"

#include <QSocketNotifier>

#include <algorithm>
#include <chrono>

namespace {

constexpr auto kIdlePause = std::chrono::milliseconds(500);

}  // namespace

bool CCertPurgeDlg::StartMonitor()
{
    if (!PrepareHandOver())
        return false;
    // Cleared here rather than by the thread, so that a stop requested
    // before the thread first runs is not lost.
    m_bStopMonitor = false;
    m_knownSlots = m_token.SlotList();
    m_pendingEvents.clear();
    m_bMonitorRunning = true;
    bool started = m_monitorThread.Start([this] {
        MonitorThreadProc(this);
        m_bMonitorRunning = false;
    });
    if (!started)
        m_bMonitorRunning = false;
    return started;
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

void CCertPurgeDlg::StopMonitor()
{
    {
        std::lock_guard<std::mutex> lock(m_monitorMutex);
        m_bStopMonitor = true;
    }
    m_monitorWake.notify_all();
    m_monitorThread.Join();
}

unsigned CCertPurgeDlg::MonitorThreadProc(CCertPurgeDlg* dialog)
{
    if (dialog == nullptr)
        return 0;
    CK_SLOT_ID slot = 0;
    for (;;) {
        switch (dialog->PollSlotEvent(&slot)) {
        case SLOT_EVENT_FAILED:
            return 1;
        case SLOT_EVENT_NONE:
            dialog->SleepUnlessStopped();
            break;
        case SLOT_EVENT_PRESENT:
            dialog->HandOver(WM_TOKEN_INSERTED, static_cast<WPARAM>(slot));
            break;
        case SLOT_EVENT_ABSENT:
            dialog->HandOver(WM_TOKEN_REMOVED, 0);
            break;
        }
        if (dialog->m_bStopMonitor)
            return 1;
    }
}

SlotEvent CCertPurgeDlg::PollSlotEvent(CK_SLOT_ID* slot)
{
    if (!m_pendingEvents.empty())
        return NextPendingEvent(slot);
    if (!m_token.HasFunctionList())
        return SLOT_EVENT_NONE;

    CK_SLOT_ID slotId = 0;
    CK_RV rv = m_token.WaitForSlotEvent(CKF_DONT_BLOCK, &slotId);
    if (rv == CKR_NO_EVENT || rv == CTokenModule::RV_NO_FUNCTION_LIST)
        return SLOT_EVENT_NONE;
    if (rv == CKR_CRYPTOKI_NOT_INITIALIZED)
        return ReviveModule(slot);
    if (rv != CKR_OK)
        return SLOT_EVENT_FAILED;

    CK_SLOT_INFO info{};
    rv = m_token.GetSlotInfo(slotId, &info);
    if (rv == CKR_CRYPTOKI_NOT_INITIALIZED)
        return ReviveModule(slot);  // finalised between the two calls
    if (rv != CKR_OK)
        return SLOT_EVENT_FAILED;
    *slot = slotId;
    bool present = (info.flags & CKF_TOKEN_PRESENT) != 0;
    NoteSlot(slotId, present);
    return present ? SLOT_EVENT_PRESENT : SLOT_EVENT_ABSENT;
}

// The window finalises the module whenever it finds no token, and a module
// then answers every wait with CKR_CRYPTOKI_NOT_INITIALIZED. The monitor
// brings it back and, since modules differ in what they report for changes
// made meanwhile, compares the slots holding a token with what it knew.
SlotEvent CCertPurgeDlg::ReviveModule(CK_SLOT_ID* slot)
{
    std::vector<CK_SLOT_ID> present;
    CK_RV rv = m_token.ReinitializeForMonitor(present);
    if (rv == CTokenModule::RV_NO_FUNCTION_LIST)
        return SLOT_EVENT_NONE;
    if (rv != CKR_OK)
        return SLOT_EVENT_FAILED;
    for (CK_SLOT_ID s : m_knownSlots) {
        if (std::find(present.begin(), present.end(), s) == present.end())
            m_pendingEvents.emplace_back(SLOT_EVENT_ABSENT, s);
    }
    for (CK_SLOT_ID s : present) {
        if (std::find(m_knownSlots.begin(), m_knownSlots.end(), s) == m_knownSlots.end())
            m_pendingEvents.emplace_back(SLOT_EVENT_PRESENT, s);
    }
    return m_pendingEvents.empty() ? SLOT_EVENT_NONE : NextPendingEvent(slot);
}

SlotEvent CCertPurgeDlg::NextPendingEvent(CK_SLOT_ID* slot)
{
    auto [event, slotId] = m_pendingEvents.front();
    m_pendingEvents.pop_front();
    *slot = slotId;
    NoteSlot(slotId, event == SLOT_EVENT_PRESENT);
    return event;
}

void CCertPurgeDlg::NoteSlot(CK_SLOT_ID slot, bool present)
{
    auto it = std::find(m_knownSlots.begin(), m_knownSlots.end(), slot);
    if (present && it == m_knownSlots.end())
        m_knownSlots.push_back(slot);
    else if (!present && it != m_knownSlots.end())
        m_knownSlots.erase(it);
}

void CCertPurgeDlg::SleepUnlessStopped()
{
    std::unique_lock<std::mutex> lock(m_monitorMutex);
    m_monitorWake.wait_for(lock, kIdlePause, [this] { return m_bStopMonitor.load(); });
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
