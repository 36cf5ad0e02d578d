#include "token/CPresenceMonitor.h"

#include <algorithm>

std::shared_ptr<CPresenceMonitor> CPresenceMonitor::Create(std::shared_ptr<CTokenModule> module,
                                                           IPresenceSink& sink)
{
    return std::shared_ptr<CPresenceMonitor>(new CPresenceMonitor(std::move(module), sink));
}

CPresenceMonitor::CPresenceMonitor(std::shared_ptr<CTokenModule> module, IPresenceSink& sink)
    : m_pModule(std::move(module)), m_sink(sink)
{
}

bool CPresenceMonitor::Start(std::vector<CK_SLOT_ID> knownSlots)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bRunning)
            return false;
        // Cleared here rather than by the thread, so that a stop requested
        // before the thread first runs is not lost.
        m_bStop = false;
        m_bRunning = true;
    }
    m_thread.Join();  // one that ended by itself
    m_knownSlots = std::move(knownSlots);
    m_pendingEvents.clear();
    auto self = shared_from_this();
    bool started = m_thread.Start([self] {
        self->Run();
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_bRunning = false;
        self->m_wake.notify_all();
    });
    if (!started) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bRunning = false;
    }
    return started;
}

bool CPresenceMonitor::Stop(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bStop = true;
    m_wake.notify_all();
    // A report under way ends promptly once the host knows of the stop.
    m_wake.wait(lock, [this] { return m_nSinkCalls == 0; });
    bool ended = m_wake.wait_for(lock, timeout, [this] { return !m_bRunning; });
    lock.unlock();
    // Joined, the thread can no longer drop the last hold on the module
    // (and unload it) while whoever stopped it goes on, or exits.
    if (ended)
        m_thread.Join();
    else
        m_thread.Detach();
    return ended;
}

bool CPresenceMonitor::IsRunning() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bRunning;
}

bool CPresenceMonitor::StopRequested() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bStop;
}

unsigned CPresenceMonitor::Run()
{
    CK_SLOT_ID slot = 0;
    for (;;) {
        SlotEvent event = PollSlotEvent(&slot);
        if (event == SLOT_EVENT_FAILED)
            return 1;
        if (event == SLOT_EVENT_NONE)
            SleepUnlessStopped();
        else
            Deliver(event, slot);
        if (StopRequested())
            return 1;
    }
}

void CPresenceMonitor::SleepUnlessStopped()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, kIdlePause, [this] { return m_bStop; });
}

void CPresenceMonitor::Deliver(SlotEvent event, CK_SLOT_ID slot)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStop)
            return;
        ++m_nSinkCalls;
    }
    m_sink.OnSlotEvent(event, slot);
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_nSinkCalls;
    m_wake.notify_all();
}

SlotEvent CPresenceMonitor::PollSlotEvent(CK_SLOT_ID* slot)
{
    if (!m_pendingEvents.empty())
        return NextPendingEvent(slot);
    if (!m_pModule->HasFunctionList())
        return SLOT_EVENT_NONE;

    CK_SLOT_ID slotId = 0;
    CK_RV rv = m_pModule->WaitForSlotEvent(CKF_DONT_BLOCK, &slotId);
    if (rv == CKR_NO_EVENT || rv == CTokenModule::RV_NO_FUNCTION_LIST || rv == CTokenModule::RV_MODULE_BUSY)
        return SLOT_EVENT_NONE;
    if (rv == CKR_CRYPTOKI_NOT_INITIALIZED)
        return ReviveModule(slot);
    if (rv != CKR_OK)
        return SLOT_EVENT_FAILED;

    CK_SLOT_INFO info{};
    rv = m_pModule->GetSlotInfo(slotId, &info);
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
SlotEvent CPresenceMonitor::ReviveModule(CK_SLOT_ID* slot)
{
    std::vector<CK_SLOT_ID> present;
    CK_RV rv = m_pModule->ReinitializeForMonitor(present);
    if (rv == CTokenModule::RV_NO_FUNCTION_LIST || rv == CTokenModule::RV_MODULE_BUSY)
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

SlotEvent CPresenceMonitor::NextPendingEvent(CK_SLOT_ID* slot)
{
    auto [event, slotId] = m_pendingEvents.front();
    m_pendingEvents.pop_front();
    *slot = slotId;
    NoteSlot(slotId, event == SLOT_EVENT_PRESENT);
    return event;
}

void CPresenceMonitor::NoteSlot(CK_SLOT_ID slot, bool present)
{
    auto it = std::find(m_knownSlots.begin(), m_knownSlots.end(), slot);
    if (present && it == m_knownSlots.end())
        m_knownSlots.push_back(slot);
    else if (!present && it != m_knownSlots.end())
        m_knownSlots.erase(it);
}
