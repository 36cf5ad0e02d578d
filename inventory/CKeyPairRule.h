#pragma once

#include "inventory/CertTable.h"
#include "token/Pkcs11.h"

#include <vector>

// Whether a red certificate's key pair goes with it. A certificate without
// CKA_ID names no key as its own; a key pair whose ID a certificate carries
// that the run keeps is still that certificate's. The removal and the plan
// shown before it judge by this one rule.
class CKeyPairRule {
public:
    enum class EFate {
        Goes,       // its own keys go with it
        KeptInUse,  // a certificate the run keeps carries its ID
        KeptNoId,   // it has no ID
    };

    struct SVerdict {
        EFate eFate = EFate::KeptNoId;
        // The first kept certificate in table order that carries the ID;
        // null when that certificate lies beyond what the scan read.
        const CertRecord* pKeeper = nullptr;
    };

    // Whether the token must be asked who else carries the record's ID.
    static bool HasId(const CertRecord& record) { return record.ulIdLen > 0; }

    // `holders` are the certificate objects on the token that carry the
    // record's CKA_ID, as FindCertificatesWithId found them (the record's
    // own among them); ignored for a record without ID. A kept record of the
    // table with the same CKA_ID counts as one, found or not.
    static SVerdict Judge(const CertTable& table, const CertRecord& record,
                          const std::vector<CK_OBJECT_HANDLE>& holders);

    // Whether the run deletes the certificate object `object`: it is a red
    // record of the table.
    static bool IsDeleted(const CertTable& table, CK_OBJECT_HANDLE object);
};
