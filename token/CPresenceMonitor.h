#pragma once

#include "platform/CThread.h"
#include "token/CPresenceComparison.h"
#include "token/IPresencePort.h"
#include "token/IPresenceSink.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// Follows the token: a thread polls the module for slot events without
// blocking, pausing while nothing happens, and hands each event to a sink.
// A module that supports no slot events (C_WaitForSlotEvent answers
// CKR_FUNCTION_NOT_SUPPORTED, as p11-kit's proxy does with some modules
// registered) has its tokens compared from poll to poll instead, and what
// changed is handed over just the same. The thread shares ownership of the
// monitor and of its port to the module, so one held up in a module that
// never answers can be left behind safely.
class CPresenceMonitor : public std::enable_shared_from_this<CPresenceMonitor> {
public:
    static constexpr std::chrono::milliseconds kIdlePause{500};
    // Events handed over without a pause between them; then the monitor
    // pauses as after an empty poll.
    static constexpr unsigned kEventsInARow = 8;

    static std::shared_ptr<CPresenceMonitor> Create(std::shared_ptr<IPresencePort> port, IPresenceSink& sink);
    CPresenceMonitor(const CPresenceMonitor&) = delete;
    CPresenceMonitor& operator=(const CPresenceMonitor&) = delete;

    // The pause after a poll that found nothing; kIdlePause unless a test
    // wants many events quickly. Before Start only.
    void SetIdlePause(std::chrono::milliseconds pause) { m_idlePause = pause; }
    // Starts the thread, knowing these slots to hold a token now.
    bool Start(std::vector<CK_SLOT_ID> knownSlots);
    // Asks the thread to end and waits up to `timeout` for it; when true,
    // nothing of the thread runs any more. False when it did not come back:
    // it is left to itself and never calls the sink again.
    bool Stop(std::chrono::milliseconds timeout);
    bool IsRunning() const;

    // The thread's loop, on the calling thread: polls until stopped or until
    // the module fails. Returns 1 then.
    unsigned Run();
    // One poll: a change found earlier and not yet reported, else the module's.
    SlotEvent PollSlotEvent(CK_SLOT_ID* slot);

private:
    CPresenceMonitor(std::shared_ptr<IPresencePort> port, IPresenceSink& sink);

    bool StopRequested() const;
    void PollUntilEnd();
    void SleepUnlessStopped();
    void Deliver(SlotEvent event, CK_SLOT_ID slot);
    SlotEvent ReviveModule(CK_SLOT_ID* slot);
    SlotEvent StartComparing(CK_SLOT_ID* slot);
    SlotEvent CompareTokens(CK_SLOT_ID* slot);
    SlotEvent NextPendingEvent(CK_SLOT_ID* slot);
    SlotEvent Failed(const std::string& call, CK_RV rv);
    void NoteSlot(CK_SLOT_ID slot, bool present);

    const std::shared_ptr<IPresencePort> m_pPort;
    IPresenceSink& m_sink;
    CThread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::chrono::milliseconds m_idlePause = kIdlePause;
    bool m_bStop = false;     // guarded by m_mutex
    bool m_bRunning = false;  // guarded by m_mutex
    int m_nSinkCalls = 0;     // guarded by m_mutex

    // The polling thread's own: the slots it last knew to hold a token, and
    // changes found by comparing, still to be reported.
    std::vector<CK_SLOT_ID> m_knownSlots;
    std::deque<std::pair<SlotEvent, CK_SLOT_ID>> m_pendingEvents;
    std::string m_strEndReason;  // the failed call that ends the thread
    // The module supports no slot events: its tokens are compared instead.
    bool m_bComparing = false;
    CPresenceComparison m_comparison;
};
