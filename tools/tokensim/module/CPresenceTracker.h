#pragma once

#include "tools/tokensim/control/CTokenSimState.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// The exposed slots, whether each one's token is in as the module last saw
// it, and the slot events not yet taken by C_WaitForSlotEvent.
class CPresenceTracker {
public:
    // Takes the slots and their presence from the state. No events are
    // queued, except one per present token when `announcePresent`.
    void Reset(std::vector<CK_SLOT_ID> slots, const CTokenSimState& state, bool announcePresent);
    void Clear();

    // Replays the state's changes not seen yet, in order; each one that
    // changes a slot queues one event. Returns the slots whose token went.
    std::vector<CK_SLOT_ID> Update(const CTokenSimState& state);

    // Takes every token out, as a hand pulling it would, until the state
    // changes next. Returns the slots whose token went.
    std::vector<CK_SLOT_ID> PullAll();

    bool Exposes(CK_SLOT_ID slot) const;
    // The slot's place among those exposed, as "#N" counts it.
    std::size_t IndexOf(CK_SLOT_ID slot) const;
    bool IsPresent(CK_SLOT_ID slot) const;
    std::vector<CK_SLOT_ID> Slots(bool presentOnly) const;
    std::optional<CK_SLOT_ID> NextEvent();

private:
    struct SSlot {
        CK_SLOT_ID id;
        bool present;
    };

    void Set(std::size_t index, bool present, std::vector<CK_SLOT_ID>& removed);
    const SSlot* Find(CK_SLOT_ID slot) const;

    std::vector<SSlot> m_slots;
    std::deque<CK_SLOT_ID> m_events;
    std::uint64_t m_seq = 0;
};
