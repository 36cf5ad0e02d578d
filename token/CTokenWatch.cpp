#include "token/CTokenWatch.h"

#include "token/TokenGone.h"

#include <algorithm>
#include <vector>

namespace {

bool IsAmong(CK_SESSION_HANDLE session, std::span<const CK_SESSION_HANDLE> sessions)
{
    return std::find(sessions.begin(), sessions.end(), session) != sessions.end();
}

bool StillAllocated(CK_RV rv)
{
    return rv == CKR_DEVICE_REMOVED || rv == CKR_TOKEN_NOT_PRESENT;
}

}  // namespace

CK_RV CTokenWatch::Watch(const CGuard& module, CK_SLOT_ID slot, std::span<const CK_SESSION_HANDLE> others)
{
    // A session still kept on the slot's token serves on; one that ended is
    // forgotten, never closed blindly: its handle may be someone else's now.
    if (EWatch watch = EWatch::Lapsed; Check(module, slot, others, watch) == CKR_OK && watch == EWatch::Same)
        return CKR_OK;
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    CK_RV rv = module.Call(&CK_FUNCTION_LIST::C_OpenSession, slot, CKF_SERIAL_SESSION, nullptr, nullptr, &session);
    if (rv == CKR_OK)
        m_sessions[slot] = session;
    return rv;
}

CK_RV CTokenWatch::Check(const CGuard& module, CK_SLOT_ID slot, std::span<const CK_SESSION_HANDLE> others,
                         EWatch& watch)
{
    auto it = m_sessions.find(slot);
    watch = EWatch::Lapsed;
    if (it == m_sessions.end())
        return CKR_OK;
    const CK_SESSION_HANDLE session = it->second;
    // Handed out again to someone else: ours was ended meanwhile.
    if (IsAmong(session, others)) {
        m_sessions.erase(it);
        watch = EWatch::Gone;
        return CKR_OK;
    }
    CK_SESSION_INFO info{};
    CK_RV rv = module.Call(&CK_FUNCTION_LIST::C_GetSessionInfo, session, &info);
    if (rv == CKR_CRYPTOKI_NOT_INITIALIZED) {
        m_sessions.erase(it);
        return rv;
    }
    if (rv == CKR_OK && info.slotID == slot) {
        watch = EWatch::Same;
        return CKR_OK;
    }
    m_sessions.erase(it);
    // A session of another slot under our handle is someone else's.
    if (rv == CKR_OK || TokenGone(rv)) {
        if (StillAllocated(rv))
            Close(module, session, others);
        watch = EWatch::Gone;
        return CKR_OK;
    }
    Close(module, session, others);
    watch = EWatch::Unknown;
    return CKR_OK;
}

void CTokenWatch::CloseAll(const CGuard& module, std::span<const CK_SESSION_HANDLE> others)
{
    std::vector<CK_SLOT_ID> slots;
    for (const auto& entry : m_sessions)
        slots.push_back(entry.first);
    for (CK_SLOT_ID slot : slots) {
        if (EWatch watch = EWatch::Lapsed; Check(module, slot, others, watch) == CKR_OK && watch == EWatch::Same)
            Close(module, m_sessions[slot], others);
    }
    m_sessions.clear();
}

void CTokenWatch::Close(const CGuard& module, CK_SESSION_HANDLE session,
                        std::span<const CK_SESSION_HANDLE> others) const
{
    if (!IsAmong(session, others))
        module.Call(&CK_FUNCTION_LIST::C_CloseSession, session);
}
