#pragma once

#include "token/CModuleLibrary.h"
#include "token/Pkcs11.h"
#include "token/TokenLimits.h"

#include <vector>

// Searches among a session's objects, and the read of a certificate found.
// Each search is ended before it returns, whatever it found; no handle of
// an earlier search passes for one of a later one.
class CObjectSearch {
public:
    using CGuard = CModuleLibrary::CGuard;

    // The most objects one search under an ID keeps.
    static constexpr CK_ULONG MAX_ID_MATCHES = 64;
    // The longest certificate value or identifier accepted from a module.
    static constexpr CK_ULONG MAX_ATTRIBUTE_LEN = 1 << 20;
    // The token layer's own results, beside the module's CK_RV values.
    static constexpr CK_RV RV_BUFFER_TOO_SMALL = CKR_VENDOR_DEFINED | 0x4B05;
    // The module reported an attribute length that cannot be true.
    static constexpr CK_RV RV_BAD_LENGTH = CKR_VENDOR_DEFINED | 0x4B02;

    // `slot` names the session's slot in the log.
    CObjectSearch(const CGuard& module, CK_SLOT_ID slot) : m_module(module), m_slot(slot) {}

    // Every X.509 certificate the module hands out, in its order, each
    // once, asked for MAX_CERTS at a time until fewer come; a search that
    // hands out more than MAX_TOKEN_CERTS does not end and fails.
    CK_RV FindCertificates(CK_SESSION_HANDLE session, std::vector<CK_OBJECT_HANDLE>& certs) const;
    // Every certificate carrying exactly this CKA_ID. All of them: a module
    // that ignores the ID in a search hands out every certificate, and one
    // missed may be a renewal still using a key pair. A search handing out
    // more than MAX_TOKEN_CERTS fails.
    CK_RV FindCertificatesWithId(CK_SESSION_HANDLE session, const unsigned char* id, CK_ULONG idLen,
                                 std::vector<CK_OBJECT_HANDLE>& found) const;
    // Keeps of `found` the objects that read back as asked: their class,
    // whole CKA_ID and, where named, key type (some modules ignore CKA_ID in
    // a search, or compare it as a C string). `types`, when given, gets each
    // kept object's key type as read.
    CK_RV KeepAsked(CK_SESSION_HANDLE session, CK_OBJECT_CLASS ulClass, const unsigned char* id, CK_ULONG idLen,
                    CK_KEY_TYPE keyType, std::vector<CK_OBJECT_HANDLE>& found,
                    std::vector<CK_KEY_TYPE>* types = nullptr) const;
    // Runs a search to its end, keeping at most `limit` handles, each once;
    // a search that goes on handing out others past it stops there.
    CK_RV FindAll(CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count, std::vector<CK_OBJECT_HANDLE>& found,
                  CK_ULONG limit = MAX_ID_MATCHES) const;

    // A certificate's CKA_VALUE and CKA_ID: their sizes when both buffers
    // are null, else the values, fetched when the capacities hold the sizes
    // (RV_BUFFER_TOO_SMALL when not), and the lengths the fetch gave.
    CK_RV ReadCertificate(CK_SESSION_HANDLE session, CK_OBJECT_HANDLE cert, unsigned char* value, CK_ULONG* valueLen,
                          unsigned char* id, CK_ULONG* idLen) const;

private:
    const CGuard& m_module;
    CK_SLOT_ID m_slot;
};
