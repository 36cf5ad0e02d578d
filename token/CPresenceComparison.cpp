#include "token/CPresenceComparison.h"

#include <algorithm>
#include <cstring>

namespace {

bool SameSlotInfo(const CK_SLOT_INFO& a, const CK_SLOT_INFO& b)
{
    return std::memcmp(a.slotDescription, b.slotDescription, sizeof a.slotDescription) == 0 &&
           std::memcmp(a.manufacturerID, b.manufacturerID, sizeof a.manufacturerID) == 0 && a.flags == b.flags &&
           a.hardwareVersion.major == b.hardwareVersion.major && a.hardwareVersion.minor == b.hardwareVersion.minor &&
           a.firmwareVersion.major == b.firmwareVersion.major && a.firmwareVersion.minor == b.firmwareVersion.minor;
}

void Swapped(CPresenceComparison::Events& events, CK_SLOT_ID slot)
{
    events.emplace_back(SLOT_EVENT_ABSENT, slot);
    events.emplace_back(SLOT_EVENT_PRESENT, slot);
}

}  // namespace

void CPresenceComparison::Reset(const std::vector<CK_SLOT_ID>& known)
{
    m_slots.clear();
    for (CK_SLOT_ID id : known)
        m_slots.push_back(SSlot{id, std::nullopt, std::nullopt, false, false});
}

CPresenceComparison::SResult CPresenceComparison::Compare(IPresencePort& port, Events& events)
{
    SResult result;
    EOrigin origin = EOrigin::Module;
    CK_RV rv = port.ListPresentSlots(m_present, &origin);
    if (Stops(result, "C_GetSlotList", rv, origin))
        return result;
    std::erase_if(m_slots, [&](const SSlot& slot) {
        const bool bGone = std::find(m_present.begin(), m_present.end(), slot.id) == m_present.end();
        if (bGone)
            events.emplace_back(SLOT_EVENT_ABSENT, slot.id);
        return bGone;
    });
    for (CK_SLOT_ID id : m_present) {
        auto known = std::find_if(m_slots.begin(), m_slots.end(), [id](const SSlot& slot) { return slot.id == id; });
        const bool bKnown = known != m_slots.end();
        SSlot slot = bKnown ? *known : SSlot{id, std::nullopt, std::nullopt, false, false};
        const EOutcome outcome = CompareSlot(port, slot, bKnown, events, result);
        if (outcome == EOutcome::NoToken) {
            if (bKnown) {
                events.emplace_back(SLOT_EVENT_ABSENT, id);
                m_slots.erase(known);
            }
            continue;
        }
        // What was found before a stop is kept with the events it gave; a
        // new slot stopped before its insertion was told stays new.
        if (bKnown)
            *known = slot;
        else if (slot.info)
            m_slots.push_back(slot);
        if (outcome == EOutcome::Stop)
            return result;
    }
    return result;
}

void CPresenceComparison::End(IPresencePort& port)
{
    port.EndWatches();
    for (SSlot& slot : m_slots)
        slot.bWatched = slot.bLearnt = false;
}

CPresenceComparison::EOutcome CPresenceComparison::CompareSlot(IPresencePort& port, SSlot& slot, bool bKnown,
                                                               Events& events, SResult& result)
{
    CK_SLOT_INFO info{};
    EOrigin origin = EOrigin::Module;
    CK_RV rv = port.GetSlotInfo(slot.id, &info, &origin);
    // Gone between the list and the question, or listed by mistake.
    if (origin == EOrigin::Module &&
        (rv == CKR_SLOT_ID_INVALID || (rv == CKR_OK && (info.flags & CKF_TOKEN_PRESENT) == 0)))
        return EOutcome::NoToken;
    if (Stops(result, "C_GetSlotInfo for slot " + std::to_string(slot.id), rv, origin))
        return EOutcome::Stop;
    if (!bKnown)
        events.emplace_back(SLOT_EVENT_PRESENT, slot.id);
    const bool bChanged = slot.info && !SameSlotInfo(*slot.info, info);
    slot.info = info;
    if (bChanged)
        slot.bLearnt = false;
    if (slot.bWatched && CheckWatch(port, slot, events, result) == EOutcome::Stop)
        return EOutcome::Stop;
    if (!slot.bLearnt && Learn(port, slot, events, result) == EOutcome::Stop)
        return EOutcome::Stop;
    return EOutcome::Token;
}

CPresenceComparison::EOutcome CPresenceComparison::CheckWatch(IPresencePort& port, SSlot& slot, Events& events,
                                                              SResult& result)
{
    EWatch watch = EWatch::Same;
    EOrigin origin = EOrigin::Module;
    CK_RV rv = port.CheckWatch(slot.id, &watch, &origin);
    if (Stops(result, "C_GetSessionInfo for slot " + std::to_string(slot.id), rv, origin))
        return EOutcome::Stop;
    switch (watch) {
    case EWatch::Same:
        break;
    case EWatch::Gone:
        // Its token left: whoever is there now is another insertion.
        Swapped(events, slot.id);
        slot.token.reset();
        slot.bWatched = slot.bLearnt = false;
        break;
    case EWatch::Lapsed:
        slot.bWatched = slot.bLearnt = false;
        break;
    case EWatch::Unknown:
        port.Log().Debug(CTokenLog::ETopic::Monitor, "slot " + std::to_string(slot.id) +
                                                         ": the module cannot tell whether its token stayed");
        slot.bWatched = false;
        break;
    }
    return EOutcome::Token;
}

CPresenceComparison::EOutcome CPresenceComparison::Learn(IPresencePort& port, SSlot& slot, Events& events,
                                                         SResult& result)
{
    CK_TOKEN_INFO info{};
    EOrigin origin = EOrigin::Module;
    CK_RV rv = port.ReadTokenInfo(slot.id, &info, &origin);
    // A token that does not answer is none to tell apart: the window asks it again.
    if (origin == EOrigin::Wrapper || rv == CKR_CRYPTOKI_NOT_INITIALIZED) {
        Stops(result, "C_GetTokenInfo for slot " + std::to_string(slot.id), rv, origin);
        return EOutcome::Stop;
    }
    std::optional<STokenIdentity> token;
    if (rv == CKR_OK)
        token = STokenIdentity::Of(info);
    if (slot.token && token && !token->IsSameToken(*slot.token)) {
        port.Log().Debug(CTokenLog::ETopic::Monitor, "slot " + std::to_string(slot.id) + ": another token than before");
        Swapped(events, slot.id);
    }
    slot.token = std::move(token);
    slot.bWatched = false;
    if (slot.info && (slot.info->flags & CKF_REMOVABLE_DEVICE) != 0) {
        rv = port.WatchToken(slot.id, &origin);
        if (origin == EOrigin::Wrapper || rv == CKR_CRYPTOKI_NOT_INITIALIZED) {
            Stops(result, "C_OpenSession for slot " + std::to_string(slot.id), rv, origin);
            return EOutcome::Stop;
        }
        // Unwatched, a token swapped without a change to its slot goes unseen.
        slot.bWatched = rv == CKR_OK;
    }
    slot.bLearnt = true;
    return EOutcome::Token;
}

bool CPresenceComparison::Stops(SResult& result, const std::string& call, CK_RV rv, EOrigin origin)
{
    if (origin == EOrigin::Wrapper)
        return true;
    if (rv == CKR_OK)
        return false;
    result.rv = rv;
    result.strCall = call;
    return true;
}
