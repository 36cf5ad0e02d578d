#include "CSlotSelector.h"

#include "CPkcs11Names.h"

std::optional<CSlotSelector> CSlotSelector::Parse(std::string_view text)
{
    if (text == "all")
        return All();
    bool byIndex = !text.empty() && text.front() == '#';
    if (byIndex)
        text.remove_prefix(1);
    std::optional<CK_ULONG> number = CPkcs11Names::ParseNumber(text);
    if (!number)
        return std::nullopt;
    return byIndex ? Index(*number) : Id(*number);
}

std::string CSlotSelector::Text() const
{
    switch (m_kind) {
    case EKind::All:
        return "all";
    case EKind::Index:
        return "#" + std::to_string(m_value);
    case EKind::Id:
        break;
    }
    return std::to_string(m_value);
}

bool CSlotSelector::Matches(CK_SLOT_ID id, std::size_t index) const
{
    switch (m_kind) {
    case EKind::All:
        return true;
    case EKind::Index:
        return m_value == index;
    case EKind::Id:
        break;
    }
    return m_value == id;
}
