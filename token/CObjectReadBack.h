#pragma once

#include "token/Pkcs11.h"

#include <string>
#include <vector>

// What an object a search handed out really is, read back and compared with
// what the search asked for. Some modules ignore CKA_ID in a search template,
// or compare it as a C string (so 11 00 22 matches 11): an object counts as
// found only when its class, its whole CKA_ID (zero bytes included) and, when
// the search named one, its key type read back equal.
class CObjectReadBack {
public:
    // What the search asked for; `keyType` CK_UNAVAILABLE_INFORMATION when
    // it named none. For key classes the key type is read back either way.
    CObjectReadBack(CK_OBJECT_CLASS ulClass, const unsigned char* id, CK_ULONG idLen,
                    CK_KEY_TYPE keyType = CK_UNAVAILABLE_INFORMATION);
    CObjectReadBack(const CObjectReadBack&) = delete;
    CObjectReadBack& operator=(const CObjectReadBack&) = delete;

    // A fresh template to read one object's class, CKA_ID and (for keys)
    // key type into with C_GetAttributeValue, valid while this object
    // lives; Count() entries.
    CK_ATTRIBUTE* Template();
    CK_ULONG Count() const { return IsKey() ? 3 : 2; }
    // What the read answered, as a failure of the read as a whole: an
    // attribute the module would not give is none (it does not match).
    static CK_RV ReadResult(CK_RV rv);

    // After a read: whether the object is what was asked.
    bool Matches() const;
    // Why it is not, for the log: "its CKA_ID 110022 is not 11".
    std::string Mismatch() const;
    // The key type read back; CK_UNAVAILABLE_INFORMATION when not given.
    CK_KEY_TYPE KeyType() const;

private:
    bool IsKey() const { return m_ulClass == CKO_PUBLIC_KEY || m_ulClass == CKO_PRIVATE_KEY; }
    bool ClassMatches() const;
    bool IdMatches() const;
    bool KeyTypeMatches() const;

    const CK_OBJECT_CLASS m_ulClass;
    const std::vector<unsigned char> m_id;
    const CK_KEY_TYPE m_ulKeyType;

    CK_OBJECT_CLASS m_ulReadClass = CK_UNAVAILABLE_INFORMATION;
    // One byte more than asked, so a longer identifier is seen as one.
    std::vector<unsigned char> m_readId;
    CK_KEY_TYPE m_ulReadKeyType = CK_UNAVAILABLE_INFORMATION;
    std::vector<CK_ATTRIBUTE> m_attrs;
};
