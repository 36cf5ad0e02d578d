#include "CTokenSim.h"

#include "CIdLie.h"
#include "CLingeringThread.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr auto kSlowPoll = 1000ms;
constexpr auto kBlockingPoll = 50ms;
constexpr const char* kDescription = "tokensim PKCS#11 simulator";

std::string EnvOr(const char* name, const char* fallback)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : fallback;
}

CK_RV CheckInitArgs(CK_VOID_PTR p)
{
    if (p == nullptr)
        return CKR_OK;
    const auto* args = static_cast<const CK_C_INITIALIZE_ARGS*>(p);
    if (args->pReserved != nullptr)
        return CKR_ARGUMENTS_BAD;
    int given = (args->CreateMutex != nullptr) + (args->DestroyMutex != nullptr) + (args->LockMutex != nullptr) +
                (args->UnlockMutex != nullptr);
    // Either all locking functions or none; our own locks serve either way.
    return given == 0 || given == 4 ? CKR_OK : CKR_ARGUMENTS_BAD;
}

void Pad(CK_UTF8CHAR* field, std::size_t size, const char* text)
{
    std::memset(field, ' ', size);
    std::memcpy(field, text, std::min(std::strlen(text), size));
}

// A field's trailing blanks made NULs, as some modules pad.
template <std::size_t N>
void PadWithNuls(CK_UTF8CHAR (&field)[N])
{
    for (std::size_t i = N; i > 0 && field[i - 1] == ' '; --i)
        field[i - 1] = '\0';
}

}  // namespace

CTokenSim& CTokenSim::Instance()
{
    static CTokenSim sim;
    return sim;
}

CK_RV CTokenSim::Initialize(CCall& call, CK_VOID_PTR args)
{
    std::lock_guard lock(m_mutex);
    if (m_bInitialized)
        return call.Result(CKR_CRYPTOKI_ALREADY_INITIALIZED);
    if (CK_RV rv = CheckInitArgs(args); rv != CKR_OK)
        return call.Result(rv);
    m_reader.Open(EnvOr("TOKENSIM_STATE", ""));
    m_state = m_reader.ReadIfChanged().value_or(CTokenSimState{});
    m_faults.Keep(m_state.Rules());
    const std::optional<CK_RV> faulted = ApplyFault(call);
    const std::string lie = faulted && call.Fault()->IsLie() ? call.Fault()->Lie() : std::string();
    if (faulted && lie.empty())
        return call.Result(*faulted);

    CK_RV rv = m_backend.Initialize(EnvOr("TOKENSIM_BACKEND", TOKENSIM_DEFAULT_BACKEND));
    if (rv != CKR_OK)
        return call.Result(rv);
    const std::string allSlots = EnvOr("TOKENSIM_ALL_SLOTS", "0");
    const CBackend::ESlots slots = allSlots == "1"                     ? CBackend::ESlots::All
                                   : allSlots == "uninitialised-first" ? CBackend::ESlots::UninitialisedFirst
                                                                       : CBackend::ESlots::Initialised;
    // What changed while finalised is no event: the token is simply in or out.
    m_presence.Reset(m_backend.Slots(slots), m_state, m_state.Mode() == ETokenSimMode::EventsAtInit);
    m_bInitialized = true;
    if (lie == "lingering-thread")
        CLingeringThread::Start();
    // Some modules answer so when another user in the process came first.
    return call.Result(lie == "already-initialized" ? CKR_CRYPTOKI_ALREADY_INITIALIZED : CKR_OK);
}

CK_RV CTokenSim::Finalize(CCall& call, CK_VOID_PTR reserved)
{
    Lock lock(m_mutex);
    if (!m_bInitialized)
        return call.Result(CKR_CRYPTOKI_NOT_INITIALIZED);
    if (reserved != nullptr)
        return call.Result(CKR_ARGUMENTS_BAD);
    if (std::optional<CK_RV> rv = Enter(call))
        return call.Result(*rv);
    m_bInitialized = false;
    ++m_finalizeCount;
    m_cv.notify_all();
    // Waits in other threads end with CKR_CRYPTOKI_NOT_INITIALIZED first.
    m_cv.wait(lock, [this] { return m_waiters == 0; });
    m_backend.Finalize();
    m_sessions.Clear();
    m_presence.Clear();
    return call.Result(CKR_OK);
}

CK_RV CTokenSim::GetInfo(CCall& call, CK_INFO_PTR info)
{
    std::lock_guard lock(m_mutex);
    if (std::optional<CK_RV> rv = Enter(call))
        return call.Result(*rv);
    CK_RV rv = m_backend.Call(&CK_FUNCTION_LIST::C_GetInfo, info);
    if (rv == CKR_OK) {
        info->cryptokiVersion = CK_VERSION{CRYPTOKI_VERSION_MAJOR, CRYPTOKI_VERSION_MINOR};
        Pad(info->libraryDescription, sizeof info->libraryDescription, kDescription);
    }
    return call.Result(rv);
}

CK_RV CTokenSim::GetSlotList(CCall& call, CK_BBOOL tokenPresent, CK_SLOT_ID_PTR list, CK_ULONG_PTR count)
{
    std::lock_guard lock(m_mutex);
    const std::optional<CK_RV> entered = Enter(call);
    const bool bGrown = entered && call.Fault() && call.Fault()->IsLie();
    if (entered && !bGrown)
        return call.Result(*entered);
    if (count == nullptr)
        return call.Result(CKR_ARGUMENTS_BAD);
    std::vector<CK_SLOT_ID> slots = m_presence.Slots(tokenPresent != CK_FALSE);
    call.Field("count", slots.size());
    CK_ULONG room = *count;
    *count = slots.size();
    if (list == nullptr)
        return call.Result(CKR_OK);
    // A token came since the caller counted: the list has grown past its room.
    if (bGrown) {
        *count = slots.size() + 1;
        return call.Result(CKR_BUFFER_TOO_SMALL);
    }
    if (room < slots.size())
        return call.Result(CKR_BUFFER_TOO_SMALL);
    std::copy(slots.begin(), slots.end(), list);
    return call.Result(CKR_OK);
}

CK_RV CTokenSim::GetSlotInfo(CCall& call, CK_SLOT_ID slot, CK_SLOT_INFO_PTR info)
{
    std::lock_guard lock(m_mutex);
    if (std::optional<CK_RV> rv = Enter(call))
        return call.Result(*rv);
    if (CK_RV rv = CheckSlot(slot, false); rv != CKR_OK)
        return call.Result(rv);
    CK_RV rv = m_backend.Call(&CK_FUNCTION_LIST::C_GetSlotInfo, slot, info);
    if (rv == CKR_OK) {
        // A USB token's reader says it can be pulled out, unless the slot
        // is set to be another kind.
        std::optional<CK_FLAGS> kind = m_state.SlotFlags(slot, m_presence.IndexOf(slot));
        info->flags = kind ? (info->flags & ~CTokenSimState::kSlotKindFlags) | *kind : info->flags | CKF_REMOVABLE_DEVICE;
        info->flags = m_presence.IsPresent(slot) ? info->flags | CKF_TOKEN_PRESENT : info->flags & ~CKF_TOKEN_PRESENT;
        call.Hex("flags", info->flags);
    }
    return call.Result(rv);
}

CK_RV CTokenSim::WaitForSlotEvent(CCall& call, CK_FLAGS flags, CK_SLOT_ID_PTR slot)
{
    Lock lock(m_mutex);
    if (std::optional<CK_RV> rv = Enter(call))
        return call.Result(*rv);
    if (slot == nullptr)
        return call.Result(CKR_ARGUMENTS_BAD);
    if (m_state.Mode() == ETokenSimMode::NoWait ||
        (m_state.Mode() == ETokenSimMode::NoBlockingWait && (flags & CKF_DONT_BLOCK) == 0))
        return call.Result(CKR_FUNCTION_NOT_SUPPORTED);
    // Like some real modules, blocking-wait blocks whatever the flags say.
    bool poll = (flags & CKF_DONT_BLOCK) && m_state.Mode() != ETokenSimMode::BlockingWait;
    CK_RV rv = poll ? Poll(lock, slot) : Block(call, lock, slot);
    if (rv == CKR_OK)
        call.Field("slot", *slot);
    return call.Result(rv);
}

CK_RV CTokenSim::OpenSession(CCall& call, CK_SLOT_ID slot, CK_FLAGS flags, CK_SESSION_HANDLE_PTR session)
{
    std::lock_guard lock(m_mutex);
    if (std::optional<CK_RV> rv = Enter(call))
        return call.Result(*rv);
    if (session == nullptr)
        return call.Result(CKR_ARGUMENTS_BAD);
    if (CK_RV rv = CheckSlot(slot, true); rv != CKR_OK)
        return call.Result(rv);
    if ((flags & CKF_RW_SESSION) != 0 && (TokenFlags(slot) & CKF_WRITE_PROTECTED) != 0)
        return call.Result(CKR_TOKEN_WRITE_PROTECTED);
    // No callbacks: the backend would hand them its own session handles.
    CK_SESSION_HANDLE backend = CK_INVALID_HANDLE;
    CK_RV rv = m_backend.Call(&CK_FUNCTION_LIST::C_OpenSession, slot, flags, nullptr, nullptr, &backend);
    if (rv == CKR_OK) {
        *session = m_sessions.Add(backend, slot);
        call.Field("session", *session);
    }
    return call.Result(rv);
}

CK_RV CTokenSim::CloseSession(CCall& call, CK_SESSION_HANDLE session)
{
    std::lock_guard lock(m_mutex);
    if (std::optional<CK_RV> rv = Enter(call))
        return call.Result(*rv);
    const CSessionTable::SEntry* entry = m_sessions.Find(session);
    if (entry == nullptr)
        return call.Result(CKR_SESSION_HANDLE_INVALID);
    // A session lost with its token is forgotten once its owner closes it.
    CK_RV rv = entry->alive ? m_backend.Call(&CK_FUNCTION_LIST::C_CloseSession, entry->backend)
                            : DeadSessionRv(*entry);
    if (rv == CKR_OK || !entry->alive)
        m_sessions.Erase(session);
    return call.Result(rv);
}

CK_RV CTokenSim::CloseAllSessions(CCall& call, CK_SLOT_ID slot)
{
    std::lock_guard lock(m_mutex);
    if (std::optional<CK_RV> rv = Enter(call))
        return call.Result(*rv);
    if (CK_RV rv = CheckSlot(slot, true); rv != CKR_OK)
        return call.Result(rv);
    CK_RV rv = m_backend.Call(&CK_FUNCTION_LIST::C_CloseAllSessions, slot);
    if (rv == CKR_OK)
        m_sessions.EraseSlot(slot);
    return call.Result(rv);
}

CK_RV CTokenSim::GetAttributeValue(CCall& call, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                                   CK_ATTRIBUTE_PTR templ, CK_ULONG count)
{
    std::lock_guard lock(m_mutex);
    if (std::optional<CK_RV> rv = Enter(call)) {
        const std::optional<CFaultRule>& fault = call.Fault();
        for (CK_ULONG i = 0; fault && fault->IsLengthFault() && templ != nullptr && i < count; ++i)
            templ[i].ulValueLen = fault->Length();
        return call.Result(*rv);
    }
    CK_SESSION_HANDLE backend = CK_INVALID_HANDLE;
    if (CK_RV rv = ResolveSession(session, backend); rv != CKR_OK)
        return call.Result(rv);
    return call.Result(m_backend.Call(&CK_FUNCTION_LIST::C_GetAttributeValue, backend, object, templ, count));
}

CK_RV CTokenSim::FindObjectsInit(CCall& call, CK_SESSION_HANDLE session, CK_ATTRIBUTE_PTR templ, CK_ULONG count)
{
    std::lock_guard lock(m_mutex);
    const std::optional<CK_RV> entered = Enter(call);
    const std::optional<CFaultRule>& fault = call.Fault();
    if (entered && !(fault && fault->IsLie()))
        return call.Result(*entered);
    CSessionTable::SEntry* entry = nullptr;
    if (CK_RV rv = ResolveSession(session, entry); rv != CKR_OK)
        return call.Result(rv);
    // The backend's search has ended already, so it cannot know ours runs.
    if (entry->sorted)
        return call.Result(CKR_OPERATION_ACTIVE);
    const bool bSorted = m_state.FindOrder() != ETokenSimFindOrder::Module;
    if (entered) {
        if (std::optional<CK_RV> rv = CIdLie(fault->Lie()).Start(m_backend, entry->backend, templ, count, bSorted,
                                                                 entry->sorted))
            return call.Result(*rv);
    }
    if (m_state.FindOrder() == ETokenSimFindOrder::Module)
        return call.Result(m_backend.Call(&CK_FUNCTION_LIST::C_FindObjectsInit, entry->backend, templ, count));
    return call.Result(CSortedSearch::Run(m_backend, entry->backend, templ, count, entry->sorted));
}

CK_RV CTokenSim::FindObjects(CCall& call, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max,
                             CK_ULONG_PTR found)
{
    std::lock_guard lock(m_mutex);
    std::optional<CK_RV> rv = Enter(call);
    const std::optional<CFaultRule>& fault = call.Fault();
    bool overstate = fault && fault->IsCountFault();
    if (rv && !overstate)
        return call.Result(*rv);
    CSessionTable::SEntry* entry = nullptr;
    if (CK_RV r = ResolveSession(session, entry); r != CKR_OK)
        return call.Result(r);
    CK_RV r = NextObjects(*entry, objects, max, found);
    if (r == CKR_OK && overstate && found != nullptr)
        *found = fault->Count();
    return call.Result(r);
}

CK_RV CTokenSim::FindObjectsFinal(CCall& call, CK_SESSION_HANDLE session)
{
    std::lock_guard lock(m_mutex);
    if (std::optional<CK_RV> rv = Enter(call))
        return call.Result(*rv);
    CSessionTable::SEntry* entry = nullptr;
    if (CK_RV rv = ResolveSession(session, entry); rv != CKR_OK)
        return call.Result(rv);
    if (!entry->sorted)
        return call.Result(m_backend.Call(&CK_FUNCTION_LIST::C_FindObjectsFinal, entry->backend));
    entry->sorted.reset();
    return call.Result(CKR_OK);
}

CK_RV CTokenSim::GetTokenInfo(CCall& call, CK_SLOT_ID slot, CK_TOKEN_INFO_PTR info)
{
    std::lock_guard lock(m_mutex);
    const std::optional<CK_RV> entered = Enter(call);
    const bool bNulPadded = entered && call.Fault() && call.Fault()->IsLie();
    if (entered && !bNulPadded)
        return call.Result(*entered);
    if (CK_RV rv = CheckSlot(slot, true); rv != CKR_OK)
        return call.Result(rv);
    CK_RV rv = m_backend.Call(&CK_FUNCTION_LIST::C_GetTokenInfo, slot, info);
    if (rv == CKR_OK && TokenFlags(slot) != 0) {
        info->flags |= TokenFlags(slot);
        call.Hex("flags", info->flags);
    }
    if (rv == CKR_OK && bNulPadded) {
        PadWithNuls(info->label);
        PadWithNuls(info->manufacturerID);
        PadWithNuls(info->model);
        PadWithNuls(info->serialNumber);
    }
    return call.Result(rv);
}

CK_RV CTokenSim::Login(CCall& call, CK_SESSION_HANDLE session, CK_USER_TYPE user, CK_UTF8CHAR_PTR pin,
                       CK_ULONG pinLen)
{
    Lock lock(m_mutex);
    const std::optional<CK_RV> entered = Enter(call);
    if (entered && !(call.Fault() && call.Fault()->IsLie()))
        return call.Result(*entered);
    CSessionTable::SEntry* entry = nullptr;
    if (CK_RV rv = ResolveSession(session, entry); rv != CKR_OK)
        return call.Result(rv);
    if (std::optional<CK_RV> rv = LockingLogin(call, entry->slot))
        return call.Result(*rv);
    if (pin != nullptr || (TokenFlags(entry->slot) & CKF_PROTECTED_AUTHENTICATION_PATH) == 0)
        return call.Result(m_backend.Call(&CK_FUNCTION_LIST::C_Login, entry->backend, user, pin, pinLen));
    return call.Result(KeypadLogin(call, lock, session, user));
}

CK_FLAGS CTokenSim::TokenFlags(CK_SLOT_ID slot) const
{
    const CK_FLAGS flags = m_state.TokenFlags(slot, m_presence.IndexOf(slot));
    return PinLocked(slot) ? flags | CKF_USER_PIN_LOCKED : flags;
}

// Some modules answer the try that locks the user PIN as any wrong one;
// after it, the token says its PIN is locked and refuses every login so.
std::optional<CK_RV> CTokenSim::LockingLogin(CCall& call, CK_SLOT_ID slot)
{
    if (PinLocked(slot))
        return CKR_PIN_LOCKED;
    if (!call.Fault() || call.Fault()->Lie() != "incorrect-then-locked")
        return std::nullopt;
    m_pinLocks[slot] = call.Fault()->Id();
    return CKR_PIN_INCORRECT;
}

bool CTokenSim::PinLocked(CK_SLOT_ID slot) const
{
    auto lock = m_pinLocks.find(slot);
    if (lock == m_pinLocks.end())
        return false;
    const std::vector<CFaultRule>& rules = m_state.Rules();
    return std::any_of(rules.begin(), rules.end(), [&](const CFaultRule& r) { return r.Id() == lock->second; });
}

// Tests wait for the note, then enter the PIN; the wait ends early when the
// token goes, its session with it, or the module is finalised.
CK_RV CTokenSim::KeypadLogin(CCall& call, Lock& lock, CK_SESSION_HANDLE session, CK_USER_TYPE user)
{
    const std::uint64_t entries = m_state.KeypadEntries();
    call.Note("blocking");
    for (;;) {
        if (!Pause(lock, kBlockingPoll))
            return CKR_CRYPTOKI_NOT_INITIALIZED;
        Refresh();
        CSessionTable::SEntry* entry = nullptr;
        if (CK_RV rv = ResolveSession(session, entry); rv != CKR_OK)
            return rv;
        if (m_state.KeypadEntries() != entries) {
            std::string pin = m_state.KeypadPin();
            return m_backend.Call(&CK_FUNCTION_LIST::C_Login, entry->backend, user,
                                  reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data()), static_cast<CK_ULONG>(pin.size()));
        }
    }
}

std::optional<CK_RV> CTokenSim::Enter(CCall& call)
{
    if (!m_bInitialized)
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    Refresh();
    return ApplyFault(call);
}

std::optional<CK_RV> CTokenSim::ApplyFault(CCall& call)
{
    const CFaultRule* rule = m_faults.Match(call.Function(), m_state.Rules());
    if (rule == nullptr)
        return std::nullopt;
    call.SetFault(*rule);
    if (rule->IsPull()) {
        for (CK_SLOT_ID slot : m_presence.PullAll())
            PullToken(slot);
    }
    return rule->Rv();
}

void CTokenSim::Refresh()
{
    if (std::optional<CTokenSimState> state = m_reader.ReadIfChanged())
        Adopt(std::move(*state));
}

void CTokenSim::Adopt(CTokenSimState state)
{
    m_state = std::move(state);
    m_faults.Keep(m_state.Rules());
    for (CK_SLOT_ID slot : m_presence.Update(m_state))
        PullToken(slot);
}

void CTokenSim::PullToken(CK_SLOT_ID slot)
{
    // As with a real reader, the token's sessions and its login go with it.
    m_backend.Call(&CK_FUNCTION_LIST::C_CloseAllSessions, slot);
    m_sessions.KillSlot(slot);
}

CK_RV CTokenSim::CheckSlot(CK_SLOT_ID slot, bool needToken) const
{
    if (!m_presence.Exposes(slot))
        return CKR_SLOT_ID_INVALID;
    return needToken && !m_presence.IsPresent(slot) ? CKR_TOKEN_NOT_PRESENT : CKR_OK;
}

CK_RV CTokenSim::ResolveSession(CK_SESSION_HANDLE session, CK_SESSION_HANDLE& backend) const
{
    const CSessionTable::SEntry* entry = m_sessions.Find(session);
    if (entry == nullptr)
        return CKR_SESSION_HANDLE_INVALID;
    if (!entry->alive)
        return DeadSessionRv(*entry);
    backend = entry->backend;
    return CKR_OK;
}

CK_RV CTokenSim::ResolveSession(CK_SESSION_HANDLE session, CSessionTable::SEntry*& entry)
{
    CSessionTable::SEntry* found = m_sessions.Find(session);
    if (found == nullptr)
        return CKR_SESSION_HANDLE_INVALID;
    if (!found->alive)
        return DeadSessionRv(*found);
    entry = found;
    return CKR_OK;
}

CK_RV CTokenSim::NextObjects(CSessionTable::SEntry& entry, CK_OBJECT_HANDLE_PTR objects, CK_ULONG max,
                             CK_ULONG_PTR found)
{
    if (!entry.sorted)
        return m_backend.Call(&CK_FUNCTION_LIST::C_FindObjects, entry.backend, objects, max, found);
    if (objects == nullptr || found == nullptr)
        return CKR_ARGUMENTS_BAD;
    *found = entry.sorted->Take(objects, max);
    return CKR_OK;
}

CK_RV CTokenSim::DeadSessionRv(const CSessionTable::SEntry& entry) const
{
    // While the token is out the device is gone; once back, the session
    // simply no longer exists.
    return m_presence.IsPresent(entry.slot) ? CKR_SESSION_HANDLE_INVALID : CKR_DEVICE_REMOVED;
}

CK_RV CTokenSim::TakeEvent(CK_SLOT_ID_PTR slot)
{
    Refresh();
    std::optional<CK_SLOT_ID> event = m_presence.NextEvent();
    if (!event)
        return CKR_NO_EVENT;
    *slot = *event;
    return CKR_OK;
}

CK_RV CTokenSim::Poll(Lock& lock, CK_SLOT_ID_PTR slot)
{
    if (m_state.Mode() == ETokenSimMode::SlowPoll && !Pause(lock, kSlowPoll))
        return CKR_CRYPTOKI_NOT_INITIALIZED;
    CK_RV rv = TakeEvent(slot);
    if (rv == CKR_NO_EVENT && m_state.Mode() == ETokenSimMode::EventEveryPoll)
        return MadeUpEvent(slot);
    return rv;
}

// Some modules report an event on every poll, for the first slot or one
// that changed long ago.
CK_RV CTokenSim::MadeUpEvent(CK_SLOT_ID_PTR slot)
{
    std::vector<CK_SLOT_ID> slots = m_presence.Slots(false);
    if (slots.empty())
        return CKR_NO_EVENT;
    *slot = slots.front();
    return CKR_OK;
}

CK_RV CTokenSim::Block(CCall& call, Lock& lock, CK_SLOT_ID_PTR slot)
{
    // Tests of callers stuck in a blocking-wait wait for this note, not for a time.
    bool announce = m_state.Mode() == ETokenSimMode::BlockingWait;
    for (;;) {
        CK_RV rv = TakeEvent(slot);
        if (rv != CKR_NO_EVENT)
            return rv;
        if (std::exchange(announce, false))
            call.Note("blocking");
        // The mutex is released while paused, so other threads' calls go on.
        if (!Pause(lock, kBlockingPoll))
            return CKR_CRYPTOKI_NOT_INITIALIZED;
    }
}

bool CTokenSim::Pause(Lock& lock, std::chrono::milliseconds duration)
{
    std::uint64_t finalizeCount = m_finalizeCount;
    ++m_waiters;
    m_cv.wait_for(lock, duration, [&] { return m_finalizeCount != finalizeCount; });
    --m_waiters;
    m_cv.notify_all();
    return m_finalizeCount == finalizeCount;
}
