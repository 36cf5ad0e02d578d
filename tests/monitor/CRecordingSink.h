#pragma once

#include "WaitUntil.h"
#include "token/IPresenceSink.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <utility>
#include <vector>

// A sink that records what it is told; it can hold a report until released,
// as a window busy with a refresh does.
class CRecordingSink : public IPresenceSink {
public:
    using Event = std::pair<SlotEvent, CK_SLOT_ID>;
    // How long a test waits for what it is told, stretched by CERTPURGE_TIME_SLACK.
    static inline const std::chrono::milliseconds kPatience = testsupport::Patience();

    virtual ~CRecordingSink() = default;

    void OnSlotEvent(SlotEvent event, CK_SLOT_ID slot) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_events.emplace_back(event, slot);
        m_bInReport = true;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return !m_bHold; });
        m_bInReport = false;
    }

    // Waits until `count` events have been reported.
    bool WaitForEvents(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [&] { return m_events.size() >= count; });
    }

    std::vector<Event> Events() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }

    // Reports wait until Release; WaitInReport returns once one does.
    void Hold()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHold = true;
    }
    bool WaitInReport()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, kPatience, [this] { return m_bInReport; });
    }
    void Release()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bHold = false;
        m_changed.notify_all();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Event> m_events;
    bool m_bHold = false;
    bool m_bInReport = false;
};
