#pragma once

#include "token/Pkcs11.h"

#include <cstddef>
#include <optional>
#include <vector>

class CCertificate;

// The public key a certificate carries, as the key searches need it: the
// key type to search for, and the values that tell the certificate's own
// key objects from other keys under the same CKA_ID (a pair waiting for its
// certificate, one made with a reused ID).
class CCertKey {
public:
    using Bytes = std::vector<unsigned char>;

    // How a key object stands to the certificate's key.
    enum class EMatch {
        Own,      // its values are the certificate's key
        Other,    // its values are another key's
        Unknown,  // the module would not give the values that tell
    };

    // A key object as read from the token: a value the module would not
    // give, or gave empty, is absent.
    struct SKeyObject {
        CK_OBJECT_CLASS ulClass = CKO_PUBLIC_KEY;
        CK_KEY_TYPE ulKeyType = CK_UNAVAILABLE_INFORMATION;
        std::optional<Bytes> modulus;
        std::optional<Bytes> exponent;
        std::optional<Bytes> ecPoint;
        std::optional<Bytes> publicKeyInfo;
    };

    // No key: searched for without a type, and owning nothing.
    CCertKey() = default;
    static CCertKey Of(const CCertificate& cert);

    // The key type the searches ask for; CK_UNAVAILABLE_INFORMATION for a
    // key of no type they know (SM2 on a vendor's key type, say): the search
    // then leaves the type out and the values alone decide.
    CK_KEY_TYPE SearchType() const { return m_ulSearchType; }

    // The attributes that tell a key object of this class and type apart.
    static std::vector<CK_ATTRIBUTE_TYPE> TellingAttributes(CK_OBJECT_CLASS keyClass, CK_KEY_TYPE keyType);
    EMatch Match(const SKeyObject& key) const;

    // Of the candidates a search found, in its order, the ones to destroy:
    // every one shown to be the certificate's own, else a single one whose
    // values could not be read, else none. Null when several remain that
    // cannot be told apart.
    static std::optional<std::vector<std::size_t>> Choose(const std::vector<EMatch>& candidates);

private:
    EMatch MatchRsa(const SKeyObject& key) const;
    EMatch MatchPoint(const std::optional<Bytes>& point) const;
    EMatch MatchPublicKeyInfo(const std::optional<Bytes>& info) const;

    CK_KEY_TYPE m_ulSearchType = CK_UNAVAILABLE_INFORMATION;
    Bytes m_modulus;   // RSA, without leading zeros
    Bytes m_exponent;  // RSA, without leading zeros
    Bytes m_point;     // the subjectPublicKey bits: an EC or EdDSA point
    Bytes m_publicKeyInfo;
};
