#pragma once

#include "token/CModuleLibrary.h"
#include "token/Pkcs11.h"

#include <string>
#include <vector>

// Destroys objects in one session, saying in the log what each one was
// (its label and ID, read only when the log wants them).
class CObjectDestroyer {
public:
    using CGuard = CModuleLibrary::CGuard;

    // `slot` names the session's slot in the log.
    CObjectDestroyer(const CGuard& module, CK_SESSION_HANDLE session, CK_SLOT_ID slot)
        : m_module(module), m_hSession(session), m_slot(slot)
    {
    }

    CK_RV DestroyCertificate(CK_OBJECT_HANDLE cert) const;
    // Each key in turn, stopping at the first the module refuses. The
    // handles are used once: `keys` is emptied first.
    CK_RV DestroyKeys(const char* step, const char* what, std::vector<CK_OBJECT_HANDLE>& keys) const;

private:
    // "'label' id 0a1b" of an object, for the log.
    std::string Describe(CK_OBJECT_HANDLE object) const;

    const CGuard& m_module;
    CK_SESSION_HANDLE m_hSession;
    CK_SLOT_ID m_slot;
};
