#pragma once

#include "token/Pkcs11.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Which slots a presence change is about: every slot ("all"), one slot ID as
// the simulator reports it ("1758023457"), or the N-th slot the simulator
// exposes, counted from 0 ("#0"). The module resolves it; the control side
// never needs to know the real slot IDs.
class CSlotSelector {
public:
    enum class EKind { All, Id, Index };

    static CSlotSelector All() { return CSlotSelector(EKind::All, 0); }
    static CSlotSelector Id(CK_SLOT_ID id) { return CSlotSelector(EKind::Id, id); }
    static CSlotSelector Index(CK_ULONG index) { return CSlotSelector(EKind::Index, index); }
    static std::optional<CSlotSelector> Parse(std::string_view text);

    std::string Text() const;
    EKind Kind() const { return m_kind; }
    bool Matches(CK_SLOT_ID id, std::size_t index) const;

    bool operator==(const CSlotSelector&) const = default;

private:
    CSlotSelector(EKind kind, CK_ULONG value) : m_kind(kind), m_value(value) {}

    EKind m_kind;
    CK_ULONG m_value;
};
