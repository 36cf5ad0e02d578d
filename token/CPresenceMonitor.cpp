#include "token/CPresenceMonitor.h"

#include "token/CCkrNames.h"

#include <algorithm>
#include <string>

namespace {

using ETopic = CTokenLog::ETopic;
using EOrigin = IPresencePort::EOrigin;

const char* EventName(SlotEvent event)
{
    return event == SLOT_EVENT_PRESENT ? "a token is present" : "no token is present";
}

}  // namespace

std::shared_ptr<CPresenceMonitor> CPresenceMonitor::Create(std::shared_ptr<IPresencePort> port,
                                                           IPresenceSink& sink)
{
    return std::shared_ptr<CPresenceMonitor>(new CPresenceMonitor(std::move(port), sink));
}

CPresenceMonitor::CPresenceMonitor(std::shared_ptr<IPresencePort> port, IPresenceSink& sink)
    : m_pPort(std::move(port)), m_sink(sink)
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
    m_pPort->Log().Debug(ETopic::Monitor, "started, " + std::to_string(knownSlots.size()) + " slots with a token");
    m_knownSlots = std::move(knownSlots);
    m_pendingEvents.clear();
    if (m_bComparing)
        m_comparison.Reset(m_knownSlots);
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
    // A report under way ends promptly once the host knows of the stop; one
    // that does not counts against the same timeout as the module.
    bool ended = m_wake.wait_for(lock, timeout, [this] { return m_nSinkCalls == 0 && !m_bRunning; });
    lock.unlock();
    // Joined, the thread can no longer drop the last hold on the module
    // (and unload it) while whoever stopped it goes on, or exits.
    if (ended) {
        m_thread.Join();
    } else {
        m_pPort->Log().Warning(ETopic::Monitor, "the module or the window holds the monitor's thread: left behind");
        m_thread.Detach();
    }
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
    PollUntilEnd();
    if (m_bComparing)
        m_comparison.End(*m_pPort);
    return 1;
}

void CPresenceMonitor::PollUntilEnd()
{
    CK_SLOT_ID slot = 0;
    unsigned nInARow = 0;  // events since the last empty poll or pause
    for (;;) {
        SlotEvent event = PollSlotEvent(&slot);
        if (event == SLOT_EVENT_FAILED) {
            // Said without --verbose: from now on the user must refresh by hand.
            m_pPort->Log().Warning(ETopic::Monitor,
                                   "ends, " + m_strEndReason + ": the list no longer follows the token");
            return;
        }
        if (event == SLOT_EVENT_NONE) {
            nInARow = 0;
            SleepUnlessStopped();
        } else {
            Deliver(event, slot);
            // Events that come together go out one after another, but a
            // module that reports one on every poll is polled once a pause.
            if (++nInARow == kEventsInARow) {
                m_pPort->Log().Debug(ETopic::Monitor, std::to_string(kEventsInARow) + " events in a row: pausing");
                nInARow = 0;
                SleepUnlessStopped();
            }
        }
        if (StopRequested())
            return;
    }
}

void CPresenceMonitor::SleepUnlessStopped()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, m_idlePause, [this] { return m_bStop; });
}

void CPresenceMonitor::Deliver(SlotEvent event, CK_SLOT_ID slot)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStop)
            return;
        ++m_nSinkCalls;
    }
    m_pPort->Log().Debug(ETopic::Monitor,
                         "slot " + std::to_string(slot) + ": " + EventName(event) + ", handed to the window");
    m_sink.OnSlotEvent(event, slot);
    std::lock_guard<std::mutex> lock(m_mutex);
    --m_nSinkCalls;
    m_wake.notify_all();
}

SlotEvent CPresenceMonitor::PollSlotEvent(CK_SLOT_ID* slot)
{
    if (!m_pendingEvents.empty())
        return NextPendingEvent(slot);
    if (!m_pPort->HasFunctionList())
        return SLOT_EVENT_NONE;
    if (m_bComparing)
        return CompareTokens(slot);

    CK_SLOT_ID slotId = 0;
    EOrigin origin = EOrigin::Module;
    CK_RV rv = m_pPort->WaitForSlotEvent(CKF_DONT_BLOCK, &slotId, &origin);
    // No module there, or another call holds it: nothing to see yet.
    if (origin == EOrigin::Wrapper || rv == CKR_NO_EVENT)
        return SLOT_EVENT_NONE;
    if (rv == CKR_CRYPTOKI_NOT_INITIALIZED)
        return ReviveModule(slot);
    if (rv == CKR_FUNCTION_NOT_SUPPORTED)
        return StartComparing(slot);
    if (rv != CKR_OK)
        return Failed("C_WaitForSlotEvent", rv);

    CK_SLOT_INFO info{};
    rv = m_pPort->GetSlotInfo(slotId, &info, &origin);
    if (origin == EOrigin::Wrapper)
        return SLOT_EVENT_NONE;  // the event is found again by comparing, once the module is back
    if (rv == CKR_CRYPTOKI_NOT_INITIALIZED)
        return ReviveModule(slot);  // finalised between the two calls
    if (rv != CKR_OK)
        return Failed("C_GetSlotInfo for slot " + std::to_string(slotId), rv);
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
    EOrigin origin = EOrigin::Module;
    CK_RV rv = m_pPort->ReinitializeForMonitor(present, &origin);
    if (origin == EOrigin::Wrapper)
        return SLOT_EVENT_NONE;
    if (rv != CKR_OK)
        return Failed("C_Initialize or C_GetSlotList", rv);
    for (CK_SLOT_ID s : m_knownSlots) {
        if (std::find(present.begin(), present.end(), s) == present.end())
            m_pendingEvents.emplace_back(SLOT_EVENT_ABSENT, s);
    }
    for (CK_SLOT_ID s : present) {
        if (std::find(m_knownSlots.begin(), m_knownSlots.end(), s) == m_knownSlots.end())
            m_pendingEvents.emplace_back(SLOT_EVENT_PRESENT, s);
    }
    m_pPort->Log().Debug(ETopic::Monitor, "the module was finalised and is back: " +
                                              std::to_string(m_pendingEvents.size()) + " changes meanwhile");
    return m_pendingEvents.empty() ? SLOT_EVENT_NONE : NextPendingEvent(slot);
}

SlotEvent CPresenceMonitor::StartComparing(CK_SLOT_ID* slot)
{
    m_pPort->Log().Debug(ETopic::Monitor, "C_WaitForSlotEvent answered CKR_FUNCTION_NOT_SUPPORTED: the tokens present "
                                          "are compared at every poll instead");
    m_bComparing = true;
    m_comparison.Reset(m_knownSlots);
    return CompareTokens(slot);
}

SlotEvent CPresenceMonitor::CompareTokens(CK_SLOT_ID* slot)
{
    CPresenceComparison::SResult result = m_comparison.Compare(*m_pPort, m_pendingEvents);
    // Finalised by the window, which found no token to work on: brought
    // back, and compared at once.
    if (result.rv == CKR_CRYPTOKI_NOT_INITIALIZED) {
        std::vector<CK_SLOT_ID> present;
        EOrigin origin = EOrigin::Module;
        CK_RV rv = m_pPort->ReinitializeForMonitor(present, &origin);
        if (origin == EOrigin::Module && rv != CKR_OK)
            return Failed("C_Initialize or C_GetSlotList", rv);
        result = origin == EOrigin::Module ? m_comparison.Compare(*m_pPort, m_pendingEvents)
                                           : CPresenceComparison::SResult{};
    }
    // What was found before a failure is reported first; the failure comes
    // again at the next comparison.
    if (!m_pendingEvents.empty())
        return NextPendingEvent(slot);
    if (result.rv != CKR_OK && result.rv != CKR_CRYPTOKI_NOT_INITIALIZED)
        return Failed(result.strCall, result.rv);
    return SLOT_EVENT_NONE;
}

SlotEvent CPresenceMonitor::Failed(const std::string& call, CK_RV rv)
{
    m_strEndReason = call + " answered " + CCkrNames::Of(rv);
    return SLOT_EVENT_FAILED;
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
