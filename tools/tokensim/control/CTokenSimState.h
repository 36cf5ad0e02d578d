#pragma once

#include "CFaultRule.h"
#include "CSlotSelector.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How C_WaitForSlotEvent behaves, copying what real modules do.
enum class ETokenSimMode {
    Normal,        // events as they happen
    NoWait,        // every wait answers CKR_FUNCTION_NOT_SUPPORTED
    EventsAtInit,  // each token present at C_Initialize is reported once
    SlowPoll,      // a non-blocking wait takes about a second to answer
    BlockingWait,  // CKF_DONT_BLOCK is ignored: every wait blocks until an event
    EventEveryPoll,  // every non-blocking wait reports an event, changes or not
    NoBlockingWait,  // a wait without CKF_DONT_BLOCK answers CKR_FUNCTION_NOT_SUPPORTED
};

// The order in which object searches hand out what they found.
enum class ETokenSimFindOrder {
    Module,  // as the backend gives them
    Label,   // sorted by CKA_LABEL bytes, so tests know which objects come first
};

// A presence as set for some slots.
struct SPresence {
    CSlotSelector slot;
    bool present;
};

// Token flags a token reports beside its own, as set for some slots.
struct STokenFlags {
    CSlotSelector slot;
    CK_FLAGS flags;
};

// The kind of slot C_GetSlotInfo reports (CKF_REMOVABLE_DEVICE,
// CKF_HW_SLOT), as set for some slots.
struct SSlotFlags {
    CSlotSelector slot;
    CK_FLAGS flags;
};

// One change of presence, numbered in the order the changes were made, so
// the module reports every change even when several came between two calls.
struct SPresenceChange {
    std::uint64_t seq;
    SPresence presence;
};

// What the control side asks of the simulator: which tokens are in, which
// calls fail, the wait mode and the find order. Kept as a small text file; see Serialize().
class CTokenSimState {
public:
    // The changes kept for the module to replay; older ones are dropped.
    static constexpr std::size_t kMaxChanges = 256;

    // Every token present, no faults, normal mode, module order.
    CTokenSimState() = default;

    void SetPresence(const CSlotSelector& slot, bool present);
    // Whether the token of the slot with this ID, exposed at this index, is in.
    bool IsPresent(CK_SLOT_ID id, std::size_t index) const;
    std::uint64_t Sequence() const { return m_seq; }
    const std::deque<SPresenceChange>& Changes() const { return m_changes; }

    // A rule without an id gets a random one, so counters kept by a module
    // never mix up the rules of a state file deleted and written anew.
    void AddRule(CFaultRule rule);
    void ClearRules() { m_rules.clear(); }
    const std::vector<CFaultRule>& Rules() const { return m_rules; }

    ETokenSimMode Mode() const { return m_mode; }
    void SetMode(ETokenSimMode mode) { m_mode = mode; }
    static std::string ModeName(ETokenSimMode mode);
    static std::optional<ETokenSimMode> ParseMode(std::string_view name);

    ETokenSimFindOrder FindOrder() const { return m_findOrder; }
    void SetFindOrder(ETokenSimFindOrder order) { m_findOrder = order; }
    static std::string FindOrderName(ETokenSimFindOrder order);
    static std::optional<ETokenSimFindOrder> ParseFindOrder(std::string_view name);

    // Flags that C_GetTokenInfo adds for these slots (the PIN's state, a
    // keypad): a later setting wins, and "all" replaces every earlier one.
    void SetTokenFlags(const CSlotSelector& slot, CK_FLAGS flags);
    CK_FLAGS TokenFlags(CK_SLOT_ID id, std::size_t index) const;
    // "user-pin-locked,protected-authentication-path", or "none".
    static std::string TokenFlagNames(CK_FLAGS flags);
    static std::optional<CK_FLAGS> ParseTokenFlagNames(std::string_view names);

    // The kind of slot C_GetSlotInfo reports for these slots: of
    // CKF_REMOVABLE_DEVICE and CKF_HW_SLOT, those given are set and the
    // other cleared. Unset, a slot is removable, as a USB token's reader.
    static constexpr CK_FLAGS kSlotKindFlags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT;
    void SetSlotFlags(const CSlotSelector& slot, CK_FLAGS flags);
    std::optional<CK_FLAGS> SlotFlags(CK_SLOT_ID id, std::size_t index) const;
    // "removable,hardware", or "none".
    static std::string SlotFlagNames(CK_FLAGS flags);
    static std::optional<CK_FLAGS> ParseSlotFlagNames(std::string_view names);

    // A PIN entered on the reader's keypad: a keypad login waiting for an
    // entry takes it. Entries are counted; the count never goes back.
    void EnterOnKeypad(std::string pin);
    std::uint64_t KeypadEntries() const { return m_keypadEntries; }
    const std::string& KeypadPin() const { return m_strKeypadPin; }

    // Every token in (as a recorded change), no rules, normal mode, module
    // order, no token flags, every slot removable.
    void Reset();

    std::string Serialize() const;
    // Null when the text is not a complete state.
    static std::optional<CTokenSimState> Parse(const std::string& text);
    // A readable summary, for `tokensim status`.
    std::string Describe() const;

private:
    bool ParseLine(const std::string& line);
    std::string DescribePresence() const;

    bool m_bDefaultPresent = true;
    // Later entries win over earlier ones and over the default.
    std::vector<SPresence> m_overrides;
    std::deque<SPresenceChange> m_changes;
    std::uint64_t m_seq = 0;
    std::vector<CFaultRule> m_rules;
    ETokenSimMode m_mode = ETokenSimMode::Normal;
    ETokenSimFindOrder m_findOrder = ETokenSimFindOrder::Module;
    std::vector<STokenFlags> m_tokenFlags;
    std::vector<SSlotFlags> m_slotFlags;
    std::uint64_t m_keypadEntries = 0;
    std::string m_strKeypadPin;
};
