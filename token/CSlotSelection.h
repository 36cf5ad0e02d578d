#pragma once

#include "token/CModuleLibrary.h"
#include "token/CTokenChoice.h"
#include "token/Pkcs11.h"
#include "token/STokenIdentity.h"

#include <optional>
#include <vector>

// Which slots the token layer works on: of the slots holding a token, those
// whose token the choice accepts, in the module's order but for the token
// listed last, which keeps its place at the head. Without a URI the user's
// token is one that can be pulled out: tokens of removable slots
// (CKF_REMOVABLE_DEVICE) come before those of fixed ones (a software token,
// a TPM), which may also not be taken at all. Also who the tokens present
// are, for whoever chooses one.
class CSlotSelection {
public:
    using CGuard = CModuleLibrary::CGuard;

    // The most slots believed of a module: a larger count is a broken one.
    static constexpr CK_ULONG MAX_SLOTS = 1024;

    void SetTokenChoice(CTokenChoice choice) { m_tokenChoice = std::move(choice); }
    // Tokens of fixed slots are taken only when the URI names them.
    void SetRemovableOnly(bool bOnly) { m_bRemovableOnly = bOnly; }

    // Lists the slots anew; keeps them when the choice accepts a token,
    // else keeps none. The module's answer: 0 also when no token is there.
    CK_RV List(const CGuard& module);
    void Release();

    // The accepted slots kept; the listed token's first.
    CK_ULONG Count() const { return static_cast<CK_ULONG>(m_accepted.size()); }
    CK_SLOT_ID Slot(CK_ULONG index) const
    {
        return index < m_accepted.size() ? m_accepted[index] : CK_UNAVAILABLE_INFORMATION;
    }
    // Every slot that held a token at the listing kept, accepted or not.
    const std::vector<CK_SLOT_ID>& Present() const { return m_present; }
    // The token of the first accepted slot at the last listing that found one.
    const std::optional<STokenIdentity>& ListedToken() const { return m_listedToken; }

    // The slots holding a token, as the module lists them: for the window
    // and the presence monitor alike.
    CK_RV PresentSlots(const CGuard& module, std::vector<CK_SLOT_ID>& slots) const;
    // Every token present that the choice's URI matches, initialised or
    // not, in the module's order, with its slot's flags. Keeps nothing.
    CK_RV ListTokens(const CGuard& module, const CTokenChoice& choice, std::vector<STokenIdentity>& tokens) const;
    // The slots holding a token, for a poll: one C_GetSlotList(CK_TRUE) into
    // as much room as `slots` had before, and nothing logged.
    static CK_RV PollPresent(const CGuard& module, std::vector<CK_SLOT_ID>& slots);

private:
    using SCandidate = std::pair<CK_SLOT_ID, STokenIdentity>;

    std::vector<CK_SLOT_ID> AcceptedSlots(const CGuard& module, const std::vector<CK_SLOT_ID>& present);
    // Removable slots' tokens first; fixed ones after them, or dropped.
    void PreferRemovable(const CGuard& module, std::vector<SCandidate>& candidates) const;

    std::vector<CK_SLOT_ID> m_present;
    std::vector<CK_SLOT_ID> m_accepted;
    CTokenChoice m_tokenChoice;
    bool m_bRemovableOnly = false;
    std::optional<STokenIdentity> m_listedToken;
};
