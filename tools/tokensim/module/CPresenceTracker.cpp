#include "CPresenceTracker.h"

void CPresenceTracker::Reset(std::vector<CK_SLOT_ID> slots, const CTokenSimState& state, bool announcePresent)
{
    Clear();
    for (std::size_t i = 0; i < slots.size(); ++i) {
        bool present = state.IsPresent(slots[i], i);
        m_slots.push_back({slots[i], present});
        if (present && announcePresent)
            m_events.push_back(slots[i]);
    }
    m_seq = state.Sequence();
}

void CPresenceTracker::Clear()
{
    m_slots.clear();
    m_events.clear();
    m_seq = 0;
}

std::vector<CK_SLOT_ID> CPresenceTracker::Update(const CTokenSimState& state)
{
    std::vector<CK_SLOT_ID> removed;
    for (const SPresenceChange& change : state.Changes()) {
        if (change.seq <= m_seq)
            continue;
        for (std::size_t i = 0; i < m_slots.size(); ++i) {
            if (change.presence.slot.Matches(m_slots[i].id, i))
                Set(i, change.presence.present, removed);
        }
    }
    // Changes no longer listed, or a state file written anew: what counts
    // then is the presence the state ends with.
    for (std::size_t i = 0; i < m_slots.size(); ++i)
        Set(i, state.IsPresent(m_slots[i].id, i), removed);
    m_seq = state.Sequence();
    return removed;
}

void CPresenceTracker::Set(std::size_t index, bool present, std::vector<CK_SLOT_ID>& removed)
{
    SSlot& slot = m_slots[index];
    if (slot.present == present)
        return;
    slot.present = present;
    m_events.push_back(slot.id);
    if (!present)
        removed.push_back(slot.id);
}

std::vector<CK_SLOT_ID> CPresenceTracker::PullAll()
{
    std::vector<CK_SLOT_ID> removed;
    for (std::size_t i = 0; i < m_slots.size(); ++i)
        Set(i, false, removed);
    return removed;
}

const CPresenceTracker::SSlot* CPresenceTracker::Find(CK_SLOT_ID slot) const
{
    for (const SSlot& s : m_slots) {
        if (s.id == slot)
            return &s;
    }
    return nullptr;
}

std::size_t CPresenceTracker::IndexOf(CK_SLOT_ID slot) const
{
    const SSlot* s = Find(slot);
    return s != nullptr ? static_cast<std::size_t>(s - m_slots.data()) : m_slots.size();
}

bool CPresenceTracker::Exposes(CK_SLOT_ID slot) const
{
    return Find(slot) != nullptr;
}

bool CPresenceTracker::IsPresent(CK_SLOT_ID slot) const
{
    const SSlot* s = Find(slot);
    return s != nullptr && s->present;
}

std::vector<CK_SLOT_ID> CPresenceTracker::Slots(bool presentOnly) const
{
    std::vector<CK_SLOT_ID> ids;
    for (const SSlot& s : m_slots) {
        if (s.present || !presentOnly)
            ids.push_back(s.id);
    }
    return ids;
}

std::optional<CK_SLOT_ID> CPresenceTracker::NextEvent()
{
    if (m_events.empty())
        return std::nullopt;
    CK_SLOT_ID slot = m_events.front();
    m_events.pop_front();
    return slot;
}
