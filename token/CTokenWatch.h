#pragma once

#include "token/CModuleLibrary.h"
#include "token/IPresencePort.h"
#include "token/Pkcs11.h"

#include <map>
#include <span>

// The sessions the presence monitor keeps on removable tokens when the
// module reports no slot events, one a slot. A module ends a session when
// its token leaves, whatever is put in its place, and C_GetSessionInfo
// answers from the module's own state without reading the card: so a
// token swapped between two polls is seen without asking the token who it
// is (NSS's slot code tells a swapped token so too). The handles hold only
// while the module stays initialised: its finalisation forgets them.
class CTokenWatch {
public:
    using CGuard = CModuleLibrary::CGuard;
    using EWatch = IPresencePort::EWatch;

    // `others` are the sessions the rest of the program holds: a module may
    // hand out a handle it ended again, and one of those is never touched.
    // Keeps a session on the slot's token: the one kept, while it lives.
    CK_RV Watch(const CGuard& module, CK_SLOT_ID slot, std::span<const CK_SESSION_HANDLE> others);
    // CKR_OK but when the module is not initialised; `watch` says what was found.
    CK_RV Check(const CGuard& module, CK_SLOT_ID slot, std::span<const CK_SESSION_HANDLE> others, EWatch& watch);
    // Closes the sessions the module says are still ours.
    void CloseAll(const CGuard& module, std::span<const CK_SESSION_HANDLE> others);
    // After the module's finalisation, which ended every session.
    void Forget() { m_sessions.clear(); }

private:
    // Closes a session the module still counts as open.
    void Close(const CGuard& module, CK_SESSION_HANDLE session, std::span<const CK_SESSION_HANDLE> others) const;

    std::map<CK_SLOT_ID, CK_SESSION_HANDLE> m_sessions;
};
