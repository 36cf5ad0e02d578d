#include "token/CSlotSelection.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <utility>

namespace {

using ETopic = CTokenLog::ETopic;

// How often a slot list that grew between its count and its listing is asked again.
constexpr int kSlotListRetries = 3;
// The room a poll's slot list has at first.
constexpr CK_ULONG kPollRoom = 8;

// The slot's flags as C_GetSlotInfo tells them; none when it does not.
std::optional<CK_FLAGS> SlotFlags(const CModuleLibrary::CGuard& module, const char* step, CK_SLOT_ID slot)
{
    CK_SLOT_INFO info{};
    if (module.Step(step, "C_GetSlotInfo", slot, &CK_FUNCTION_LIST::C_GetSlotInfo, slot, &info) != CKR_OK)
        return std::nullopt;
    return info.flags;
}

}  // namespace

CK_RV CSlotSelection::List(const CGuard& module)
{
    std::vector<CK_SLOT_ID> present;
    CK_RV rv = PresentSlots(module, present);
    std::vector<CK_SLOT_ID> accepted;
    if (rv == CKR_OK)
        accepted = AcceptedSlots(module, present);
    if (accepted.empty()) {
        Release();
        return rv;
    }
    m_present = std::move(present);
    m_accepted = std::move(accepted);
    return CKR_OK;
}

void CSlotSelection::Release()
{
    m_present.clear();
    m_accepted.clear();
}

CK_RV CSlotSelection::PresentSlots(const CGuard& module, std::vector<CK_SLOT_ID>& slots) const
{
    const CK_SLOT_ID none = CK_UNAVAILABLE_INFORMATION;
    CK_ULONG all = 0;
    CK_RV rv = CKR_OK;
    // A token that comes between the count and the list leaves the list no
    // room: the pair is asked again, a bounded number of times.
    for (int pair = 0; pair <= kSlotListRetries; ++pair) {
        slots.clear();
        rv = module.Step("GetSlotList", "C_GetSlotList", none, &CK_FUNCTION_LIST::C_GetSlotList, CK_FALSE, nullptr,
                         &all);
        if (rv == CKR_OK && all > MAX_SLOTS) {
            module.Log().Debug(ETopic::Token, "GetSlotList: " + std::to_string(all) + " slots cannot be true");
            rv = CKR_FUNCTION_FAILED;
        }
        if (rv != CKR_OK || all == 0)
            return rv;
        slots.resize(all);
        CK_ULONG present = all;
        rv = module.Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_TRUE, slots.data(), &present);
        if (rv == CKR_OK && present > all)
            rv = CKR_FUNCTION_FAILED;  // more than it was given room for
        slots.resize(rv == CKR_OK ? present : 0);
        if (rv != CKR_BUFFER_TOO_SMALL)
            break;
        module.Log().Debug(ETopic::Token, "GetSlotList: the slot list grew meanwhile");
    }
    if (rv != CKR_OK)
        module.Log().Failed("GetSlotList", "C_GetSlotList", none, rv);
    module.Log().Debug(ETopic::Token, "GetSlotList: " + std::to_string(all) + " slots, " +
                                          std::to_string(slots.size()) + " holding a token");
    return rv;
}

// Of the present slots, those whose token the choice accepts (a token that
// does not answer is none), the token listed last first when it is there.
std::vector<CK_SLOT_ID> CSlotSelection::AcceptedSlots(const CGuard& module, const std::vector<CK_SLOT_ID>& present)
{
    const CTokenLog& log = module.Log();
    std::vector<SCandidate> accepted;
    for (CK_SLOT_ID slot : present) {
        CK_TOKEN_INFO info{};
        if (module.Step("GetSlotList", "C_GetTokenInfo", slot, &CK_FUNCTION_LIST::C_GetTokenInfo, slot, &info) !=
            CKR_OK)
            continue;
        STokenIdentity token = STokenIdentity::Of(info);
        const char* passedOver = !token.bInitialized ? "not initialised" : !m_tokenChoice.Matches(info) ? "not the URI's" : nullptr;
        log.Debug(ETopic::Token, "GetSlotList: slot " + std::to_string(slot) + ": " + token.strUri +
                                     (passedOver ? std::string(", passed over: ") + passedOver : std::string()));
        if (passedOver == nullptr)
            accepted.emplace_back(slot, std::move(token));
    }
    // Where one token alone is there and may be taken, its slot changes nothing.
    if (!m_tokenChoice.IsGiven() && (m_bRemovableOnly || accepted.size() > 1))
        PreferRemovable(module, accepted);
    if (accepted.empty()) {
        log.Debug(ETopic::Token, "GetSlotList: no token to work on");
        return {};
    }
    auto listed = std::find_if(accepted.begin(), accepted.end(), [this](const auto& token) {
        return m_listedToken && token.second.IsSameToken(*m_listedToken);
    });
    if (listed != accepted.end())
        std::rotate(accepted.begin(), listed, listed + 1);
    m_listedToken = accepted.front().second;
    log.Debug(ETopic::Token, "GetSlotList: token '" + m_listedToken->strLabel + "', serial " +
                                 m_listedToken->strSerial + ", in slot " + std::to_string(accepted.front().first));
    std::vector<CK_SLOT_ID> slots;
    for (const auto& token : accepted)
        slots.push_back(token.first);
    return slots;
}

void CSlotSelection::PreferRemovable(const CGuard& module, std::vector<SCandidate>& candidates) const
{
    std::vector<SCandidate> removable;
    std::vector<SCandidate> fixed;
    for (SCandidate& candidate : candidates) {
        std::optional<CK_FLAGS> flags = SlotFlags(module, "GetSlotList", candidate.first);
        (flags && (*flags & CKF_REMOVABLE_DEVICE) ? removable : fixed).push_back(std::move(candidate));
    }
    for (const SCandidate& candidate : fixed) {
        const char* why = m_bRemovableOnly ? ", passed over: not removable (a software or TPM token, taken through "
                                             "p11-kit's proxy only when --token names it)"
                          : removable.empty() ? ", not removable, but no removable token is there"
                                              : ", not removable: after the removable tokens";
        module.Log().Debug(ETopic::Token,
                           "GetSlotList: slot " + std::to_string(candidate.first) + ": " + candidate.second.strUri + why);
    }
    if (!m_bRemovableOnly)
        std::move(fixed.begin(), fixed.end(), std::back_inserter(removable));
    candidates = std::move(removable);
}

CK_RV CSlotSelection::PollPresent(const CGuard& module, std::vector<CK_SLOT_ID>& slots)
{
    CK_ULONG room = std::max<CK_ULONG>(static_cast<CK_ULONG>(slots.capacity()), kPollRoom);
    CK_RV rv = CKR_BUFFER_TOO_SMALL;
    // A token that came since the last poll may need more room.
    for (int pass = 0; pass <= kSlotListRetries && rv == CKR_BUFFER_TOO_SMALL; ++pass) {
        slots.resize(room);
        CK_ULONG count = room;
        rv = module.Call(&CK_FUNCTION_LIST::C_GetSlotList, CK_TRUE, slots.data(), &count);
        if (rv == CKR_BUFFER_TOO_SMALL && count <= MAX_SLOTS)
            room = std::max(count, room + 1);
        else if (rv == CKR_BUFFER_TOO_SMALL || (rv == CKR_OK && count > room))
            rv = CKR_FUNCTION_FAILED;  // more than it could have, or more than it was given room for
        if (rv == CKR_OK)
            slots.resize(count);
    }
    if (rv != CKR_OK)
        slots.clear();
    return rv;
}

CK_RV CSlotSelection::ListTokens(const CGuard& module, const CTokenChoice& choice,
                                 std::vector<STokenIdentity>& tokens) const
{
    tokens.clear();
    std::vector<CK_SLOT_ID> present;
    CK_RV rv = PresentSlots(module, present);
    for (CK_SLOT_ID slot : present) {
        CK_TOKEN_INFO info{};
        if (module.Step("ListTokens", "C_GetTokenInfo", slot, &CK_FUNCTION_LIST::C_GetTokenInfo, slot, &info) !=
                CKR_OK ||
            !choice.Matches(info))
            continue;
        STokenIdentity token = STokenIdentity::Of(info);
        token.slotFlags = SlotFlags(module, "ListTokens", slot);
        tokens.push_back(std::move(token));
    }
    return rv;
}
