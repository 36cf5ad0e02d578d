#pragma once

#include "token/IPresencePort.h"
#include "token/ITokenLog.h"

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

// A log that keeps what it is told, debug lines included; a hook may act
// on each debug line, on the thread that writes it.
class CRecordingLog : public ITokenLog {
public:
    bool IsDebugEnabled(ETopic) const override { return true; }
    void Debug(ETopic, const std::string& text) override
    {
        Add(m_debug, text);
        std::function<void(const std::string&)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            hook = m_onDebug;
        }
        if (hook)
            hook(text);
    }
    void OnDebug(std::function<void(const std::string&)> hook)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_onDebug = std::move(hook);
    }
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
    std::function<void(const std::string&)> m_onDebug;
};

// The monitor's port without a module: each poll takes the next scripted
// answer; slots answer C_GetSlotInfo as set. Once the script is spent, a
// poll finds nothing, or an event on `EventEveryPoll`'s slot. For the
// comparison of modules without slot events, the slots set present are
// listed, each slot's token is "token N" until `SwapToken` puts another
// there, and a watch kept on a slot stays the same until `EndWatch`.
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
    // C_GetSlotInfo's flags besides CKF_TOKEN_PRESENT; CKF_REMOVABLE_DEVICE unless set.
    void SetSlotFlags(CK_SLOT_ID slot, CK_FLAGS flags)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slotFlags[slot] = flags;
    }
    // Another token in the slot, under this label: a watch kept on it ends.
    void SwapToken(CK_SLOT_ID slot, const std::string& label)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_labels[slot] = label;
        if (m_watches.count(slot) != 0)
            m_watches[slot] = EWatch::Gone;
    }
    // What a watch kept on the slot finds from now on.
    void EndWatch(CK_SLOT_ID slot, EWatch watch)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_watches[slot] = watch;
    }
    // The slot's next C_GetSlotInfo finds the module busy, as the port
    // answers while another caller holds it.
    void BusyOnce(CK_SLOT_ID slot)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_busyOnce.insert(slot);
    }
    // The answer of the slot list from now on.
    void SetSlotListAnswer(CK_RV rv)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_slotListRv = rv;
    }
    std::size_t Watched() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_watches.size();
    }
    // How often each port call was made, by its PKCS#11 name.
    unsigned CallsOf(const std::string& function) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_calls.find(function);
        return it != m_calls.end() ? it->second : 0;
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
        ++m_calls["C_GetSlotInfo"];
        if (m_busyOnce.erase(slotId) != 0) {
            *origin = EOrigin::Wrapper;
            return Busy().rv;
        }
        *origin = EOrigin::Module;
        auto it = m_slots.find(slotId);
        if (it == m_slots.end())
            return CKR_SLOT_ID_INVALID;
        auto flags = m_slotFlags.find(slotId);
        info->flags |= flags != m_slotFlags.end() ? flags->second : CKF_REMOVABLE_DEVICE;
        if (it->second.second)
            info->flags |= CKF_TOKEN_PRESENT;
        return it->second.first;
    }
    CK_RV ReinitializeForMonitor(std::vector<CK_SLOT_ID>& present, EOrigin* origin) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        *origin = EOrigin::Module;
        present = m_revived;
        if (m_slotListRv == CKR_CRYPTOKI_NOT_INITIALIZED)
            m_slotListRv = CKR_OK;
        return CKR_OK;
    }
    CK_RV ListPresentSlots(std::vector<CK_SLOT_ID>& present, EOrigin* origin) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_calls["C_GetSlotList"];
        *origin = EOrigin::Module;
        present.clear();
        for (const auto& [slot, answer] : m_slots) {
            if (answer.second)
                present.push_back(slot);
        }
        return m_slotListRv;
    }
    CK_RV ReadTokenInfo(CK_SLOT_ID slotId, CK_TOKEN_INFO* info, EOrigin* origin) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_calls["C_GetTokenInfo"];
        *origin = EOrigin::Module;
        auto label = m_labels.find(slotId);
        const std::string text = label != m_labels.end() ? label->second : "token " + std::to_string(slotId);
        std::fill(std::begin(info->label), std::end(info->label), ' ');
        std::copy(text.begin(), text.begin() + std::min(text.size(), sizeof info->label), info->label);
        std::fill(std::begin(info->serialNumber), std::end(info->serialNumber), ' ');
        info->flags = CKF_TOKEN_INITIALIZED;
        return CKR_OK;
    }
    CK_RV WatchToken(CK_SLOT_ID slotId, EOrigin* origin) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_calls["C_OpenSession"];
        *origin = EOrigin::Module;
        m_watches[slotId] = EWatch::Same;
        return CKR_OK;
    }
    CK_RV CheckWatch(CK_SLOT_ID slotId, EWatch* watch, EOrigin* origin) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_calls["C_GetSessionInfo"];
        *origin = EOrigin::Module;
        auto it = m_watches.find(slotId);
        *watch = it != m_watches.end() ? it->second : EWatch::Lapsed;
        if (*watch != EWatch::Same)
            m_watches.erase(slotId);
        return CKR_OK;
    }
    void EndWatches() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_watches.clear();
    }
    const CTokenLog& Log() const override { return m_tokenLog; }

private:
    mutable std::mutex m_mutex;
    std::deque<SAnswer> m_script;
    std::map<CK_SLOT_ID, std::pair<CK_RV, bool>> m_slots;
    std::map<CK_SLOT_ID, CK_FLAGS> m_slotFlags;
    std::set<CK_SLOT_ID> m_busyOnce;
    std::map<CK_SLOT_ID, std::string> m_labels;
    std::map<CK_SLOT_ID, EWatch> m_watches;
    std::map<std::string, unsigned> m_calls;
    CK_RV m_slotListRv = CKR_OK;
    std::vector<CK_SLOT_ID> m_revived;
    std::unique_ptr<CK_SLOT_ID> m_storm;
    std::function<void(unsigned)> m_onPoll;
    unsigned m_nPolls = 0;
    std::shared_ptr<CRecordingLog> m_log;
    CTokenLog m_tokenLog;
};
