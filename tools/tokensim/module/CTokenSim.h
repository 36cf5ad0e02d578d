#pragma once

#include "CBackend.h"
#include "CCall.h"
#include "CFaultCounter.h"
#include "CPresenceTracker.h"
#include "CSessionTable.h"
#include "CStateReader.h"
#include "CTraceWriter.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

// The simulator's one state object: the backend, the presence of each
// token, the sessions and the fault counts, behind one mutex. Every call
// first takes in the state file, so a removal made by another process
// takes effect, sessions and login included, at whichever call sees it.
class CTokenSim {
public:
    static CTokenSim& Instance();
    CTokenSim(const CTokenSim&) = delete;
    CTokenSim& operator=(const CTokenSim&) = delete;

    CTraceWriter& Trace() { return m_trace; }

    CK_RV Initialize(CCall& call, CK_VOID_PTR args);
    CK_RV Finalize(CCall& call, CK_VOID_PTR reserved);
    CK_RV GetInfo(CCall& call, CK_INFO_PTR info);
    CK_RV GetSlotList(CCall& call, CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count);
    CK_RV GetSlotInfo(CCall& call, CK_SLOT_ID slot, CK_SLOT_INFO_PTR info);
    CK_RV WaitForSlotEvent(CCall& call, CK_FLAGS flags, CK_SLOT_ID_PTR slot);
    CK_RV OpenSession(CCall& call, CK_SLOT_ID slot, CK_FLAGS flags, CK_SESSION_HANDLE_PTR session);
    CK_RV CloseSession(CCall& call, CK_SESSION_HANDLE session);
    CK_RV CloseAllSessions(CCall& call, CK_SLOT_ID slot);
    CK_RV GetAttributeValue(CCall& call, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                            CK_ATTRIBUTE_PTR templ, CK_ULONG count);
    // The backend's answer with the token flags set for the slot added.
    CK_RV GetTokenInfo(CCall& call, CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info);
    // Forwarded; but a login without a PIN on a token with a keypad
    // (CKF_PROTECTED_AUTHENTICATION_PATH set for it) waits, the mutex
    // released, for a PIN entered on the keypad, and logs in with it.
    CK_RV Login(CCall& call, CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin, CK_ULONG pinLen);

    // A call on a slot's token, forwarded when the slot is exposed and its
    // token is in.
    template <typename Fn, typename... Args>
    CK_RV OnToken(CCall& call, CK_SLOT_ID slot, Fn CK_FUNCTION_LIST::*fn, Args... args)
    {
        std::lock_guard lock(m_mutex);
        if (std::optional<CK_RV> rv = Enter(call))
            return call.Result(*rv);
        if (CK_RV rv = CheckSlot(slot, true); rv != CKR_OK)
            return call.Result(rv);
        return call.Result(m_backend.Call(fn, slot, args...));
    }

    // A call on a session, forwarded with the backend's handle while the
    // session lives.
    template <typename Fn, typename... Args>
    CK_RV OnSession(CCall& call, CK_SESSION_HANDLE session, Fn CK_FUNCTION_LIST::*fn, Args... args)
    {
        std::lock_guard lock(m_mutex);
        if (std::optional<CK_RV> rv = Enter(call))
            return call.Result(*rv);
        CK_SESSION_HANDLE backend = CK_INVALID_HANDLE;
        if (CK_RV rv = ResolveSession(session, backend); rv != CKR_OK)
            return call.Result(rv);
        return call.Result(m_backend.Call(fn, backend, args...));
    }

    // A search, forwarded, or under the find order "label" run to its end
    // at once and handed out sorted; a count fault lets it run, then
    // overstates what it found.
    CK_RV FindObjectsInit(CCall& call, CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count);
    CK_RV FindObjects(CCall& call, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max,
                      CK_ULONG_PTR found);
    CK_RV FindObjectsFinal(CCall& call, CK_SESSION_HANDLE session);

private:
    using Lock = std::unique_lock<std::mutex>;

    CTokenSim() = default;

    // An answer when the call ends before the backend: the module is not
    // initialised, or a fault rule fires.
    std::optional<CK_RV> Enter(CCall& call);
    std::optional<CK_RV> ApplyFault(CCall& call);
    void Refresh();
    void Adopt(CTokenSimState state);
    void PullToken(CK_SLOT_ID slot);

    CK_RV CheckSlot(CK_SLOT_ID slot, bool needToken) const;
    CK_RV ResolveSession(CK_SESSION_HANDLE session, CK_SESSION_HANDLE& backend) const;
    CK_RV ResolveSession(CK_SESSION_HANDLE session, CSessionTable::SEntry*& entry);
    CK_RV NextObjects(CSessionTable::SEntry& entry, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max, CK_ULONG_PTR found);
    CK_RV DeadSessionRv(const CSessionTable::SEntry& entry) const;

    CK_FLAGS TokenFlags(CK_SLOT_ID slot) const;
    // A login that an incorrect-then-locked rule decides or has decided.
    std::optional<CK_RV> LockingLogin(CCall& call, CK_SLOT_ID slot);
    bool PinLocked(CK_SLOT_ID slot) const;
    CK_RV KeypadLogin(CCall& call, Lock& lock, CK_SESSION_HANDLE session, CK_USER_TYPE user);

    CK_RV TakeEvent(CK_SLOT_ID_PTR slot);
    CK_RV Poll(Lock& lock, CK_SLOT_ID_PTR slot);
    CK_RV MadeUpEvent(CK_SLOT_ID_PTR slot);
    CK_RV Block(CCall& call, Lock& lock, CK_SLOT_ID_PTR slot);
    // Waits with the mutex released; false when C_Finalize came meanwhile.
    bool Pause(Lock& lock, std::chrono::milliseconds duration);

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_bInitialized = false;
    // Counts C_Finalize calls, so waits know theirs has ended.
    std::uint64_t m_finalizeCount = 0;
    int m_waiters = 0;

    CTraceWriter m_trace;
    CBackend m_backend;
    CStateReader m_reader;
    CTokenSimState m_state;
    CPresenceTracker m_presence;
    CSessionTable m_sessions;
    CFaultCounter m_faults;
    // The slots whose user PIN an incorrect-then-locked rule has locked, and
    // that rule's id: the lock lasts as long as the rule.
    std::unordered_map<CK_SLOT_ID, std::uint64_t> m_pinLocks;
};
