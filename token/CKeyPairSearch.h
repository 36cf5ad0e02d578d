#pragma once

#include "token/CCertKey.h"
#include "token/CModuleLibrary.h"
#include "token/Pkcs11.h"

#include <cstddef>
#include <optional>
#include <vector>

// The key objects of a certificate's key pair: every key of the class, the
// certificate key's type and the whole identifier, zero bytes included,
// keeping the ones shown to be the certificate's own (see CCertKey::Choose).
// A search returns what it chose and keeps nothing.
class CKeyPairSearch {
public:
    using CGuard = CModuleLibrary::CGuard;

    // Room for a key's telling value: a modulus of 16384 bits, say.
    static constexpr CK_ULONG MAX_KEY_VALUE_LEN = 4096;
    // Several keys were found that cannot be told apart.
    static constexpr CK_RV RV_KEY_AMBIGUOUS = CKR_VENDOR_DEFINED | 0x4B01;

    // The keys a search chose, and their type when they share one.
    struct SFound {
        std::vector<CK_OBJECT_HANDLE> keys;
        CK_KEY_TYPE ulKeyType = CK_UNAVAILABLE_INFORMATION;
    };

    // `slot` names the session's slot in the log.
    CKeyPairSearch(const CGuard& module, CK_SLOT_ID slot) : m_module(module), m_slot(slot) {}

    // Finding none is no failure: `found` is then empty.
    CK_RV FindPubKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen, const CCertKey& key,
                     SFound& found) const;
    // For a key of no type the searches know, `pubKeyType` is the type the
    // public key search before it found.
    CK_RV FindPrivKey(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen, const CCertKey& key,
                      CK_KEY_TYPE pubKeyType, SFound& found) const;

private:
    CK_RV FindKeys(CK_SESSION_HANDLE session, CK_OBJECT_CLASS keyClass, const unsigned char* id, CK_ULONG idLen,
                   const CCertKey& key, CK_KEY_TYPE takeable, SFound& found) const;
    CK_RV ReadKeyObject(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CCertKey::SKeyObject& key) const;
    CK_RV ReadKeyValues(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, CCertKey::SKeyObject& key) const;
    void LogKeySearch(CK_OBJECT_CLASS keyClass, const unsigned char* id, CK_ULONG idLen,
                      const std::vector<CCertKey::EMatch>& matches,
                      const std::optional<std::vector<std::size_t>>& chosen) const;

    const CGuard& m_module;
    CK_SLOT_ID m_slot;
};
