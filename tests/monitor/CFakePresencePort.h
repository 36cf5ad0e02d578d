#pragma once

#include "token/IPresencePort.h"
#include "token/ITokenLog.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

// A log that keeps what it is told, debug lines included.
class CRecordingLog : public ITokenLog {
public:
    bool IsDebugEnabled(ETopic) const override { return true; }
    void Debug(ETopic, const std::string& text) override { Add(m_debug, text); }
    void Warning(ETopic, const std::string& text) override { Add(m_warnings, text); }

    std::vector<std::string> Warnings() const { return Copy(m_warnings); }
    std::size_t DebugLinesWith(const std::string& part) const
    {
        std::size_t n = 0;
        for (const std::string& line : Copy(m_debug))
            n += line.find(part) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    void Add(std::vector<std::string>& lines, const std::string& text)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        lines.push_back(text);
    }
    std::vector<std::string> Copy(const std::vector<std::string>& lines) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return lines;
    }

    mutable std::mutex m_mutex;
    std::vector<std::string> m_debug;
    std::vector<std::string> m_warnings;
};

// The monitor's port without a module: each poll takes the next scripted
// answer; slots answer C_GetSlotInfo as set. Once the script is spent, a
// poll finds nothing, or an event on `EventEveryPoll`'s slot.
class CFakePresencePort : public IPresencePort {
public:
    struct SAnswer {
        CK_RV rv;
        CK_SLOT_ID slot;
        EOrigin origin;
    };
    static SAnswer Event(CK_SLOT_ID slot) { return {CKR_OK, slot, EOrigin::Module}; }
    static SAnswer Module(CK_RV rv) { return {rv, 0, EOrigin::Module}; }
    static SAnswer Busy() { return {CKR_VENDOR_DEFINED | 0x4B03, 0, EOrigin::Wrapper}; }

    CFakePresencePort() : m_log(std::make_shared<CRecordingLog>()), m_tokenLog(m_log) {}

    void Script(std::vector<SAnswer> answers)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_script.insert(m_script.end(), answers.begin(), answers.end());
    }
    void SetPresent(CK_SLOT_ID slot, bool present) { SetSlotInfo(slot, CKR_OK, present); }
    void SetSlotInfo(CK_SLOT_ID slot, CK_RV rv, bool present = false)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slots[slot] = {rv, present};
    }
    // What a module that was finalised lists when brought back.
    void SetPresentAfterRevival(std::vector<CK_SLOT_ID> slots)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_revived = std::move(slots);
    }
    void EventEveryPoll(CK_SLOT_ID slot)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_storm = std::make_unique<CK_SLOT_ID>(slot);
    }
    // Called on the polling thread at every poll, before its answer is taken,
    // with its number, from 1.
    void OnPoll(std::function<void(unsigned)> hook)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_onPoll = std::move(hook);
    }
    unsigned Polls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_nPolls;
    }
    bool ScriptSpent() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_script.empty();
    }
    CRecordingLog& Recorded() { return *m_log; }

    bool HasFunctionList() const override { return true; }
    CK_RV WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID* slot, EOrigin* origin) override
    {
        std::function<void(unsigned)> hook;
        unsigned poll = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            poll = ++m_nPolls;
            hook = m_onPoll;
        }
        if (hook)
            hook(poll);
        SAnswer answer{CKR_NO_EVENT, 0, EOrigin::Module};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_script.empty()) {
                answer = m_script.front();
                m_script.pop_front();
            } else if (m_storm) {
                answer = Event(*m_storm);
            }
        }
        *slot = answer.slot;
        *origin = answer.origin;
        return answer.rv;
    }
    CK_RV GetSlotInfo(CK_SLOT_ID slotId, CK_SLOT_INFO* info, EOrigin* origin) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        *origin = EOrigin::Module;
        auto it = m_slots.find(slotId);
        if (it == m_slots.end())
            return CKR_SLOT_ID_INVALID;
        if (it->second.second)
            info->flags |= CKF_TOKEN_PRESENT;
        return it->second.first;
    }
    CK_RV ReinitializeForMonitor(std::vector<CK_SLOT_ID>& present, EOrigin* origin) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        *origin = EOrigin::Module;
        present = m_revived;
        return CKR_OK;
    }
    const CTokenLog& Log() const override { return m_tokenLog; }

private:
    mutable std::mutex m_mutex;
    std::deque<SAnswer> m_script;
    std::map<CK_SLOT_ID, std::pair<CK_RV, bool>> m_slots;
    std::vector<CK_SLOT_ID> m_revived;
    std::unique_ptr<CK_SLOT_ID> m_storm;
    std::function<void(unsigned)> m_onPoll;
    unsigned m_nPolls = 0;
    std::shared_ptr<CRecordingLog> m_log;
    CTokenLog m_tokenLog;
};
