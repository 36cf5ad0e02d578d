#include "token/CCertKey.h"

#include "platform/CCertificate.h"

#include <algorithm>

namespace {

using Bytes = CCertKey::Bytes;

// The token's key type for a certificate's public key; RSA-PSS keys are
// RSA keys to PKCS#11.
CK_KEY_TYPE SearchTypeOf(CCertificate::EKeyType type)
{
    switch (type) {
    case CCertificate::EKeyType::Rsa:
    case CCertificate::EKeyType::RsaPss: return CKK_RSA;
    case CCertificate::EKeyType::Ec: return CKK_EC;
    case CCertificate::EKeyType::Ed25519:
    case CCertificate::EKeyType::Ed448: return CKK_EC_EDWARDS;
    case CCertificate::EKeyType::Other: break;
    }
    return CK_UNAVAILABLE_INFORMATION;
}

// A big-endian integer as PKCS#11 and OpenSSL may both write it, leading
// zeros or not.
Bytes WithoutLeadingZeros(const Bytes& value)
{
    auto first = std::find_if(value.begin(), value.end(), [](unsigned char b) { return b != 0; });
    return Bytes(first, value.end());
}

// The DER OCTET STRING holding `content`, as PKCS#11 specifies CKA_EC_POINT.
Bytes DerOctetString(const Bytes& content)
{
    Bytes out = {0x04};
    const std::size_t len = content.size();
    if (len < 0x80) {
        out.push_back(static_cast<unsigned char>(len));
    } else {
        Bytes digits;
        for (std::size_t n = len; n != 0; n >>= 8)
            digits.insert(digits.begin(), static_cast<unsigned char>(n & 0xFF));
        out.push_back(static_cast<unsigned char>(0x80 | digits.size()));
        out.insert(out.end(), digits.begin(), digits.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

}  // namespace

CCertKey CCertKey::Of(const CCertificate& cert)
{
    CCertKey key;
    key.m_ulSearchType = SearchTypeOf(cert.PublicKeyType());
    // SM2 keys are EC keys to X.509, but tokens often keep them under a key
    // type of their maker's: they are searched for by class and value.
    if (cert.IsSm2Key())
        key.m_ulSearchType = CK_UNAVAILABLE_INFORMATION;
    key.m_modulus = WithoutLeadingZeros(cert.RsaModulus());
    key.m_exponent = WithoutLeadingZeros(cert.RsaExponent());
    if (key.m_ulSearchType != CKK_RSA)
        key.m_point = cert.PublicKeyBits();
    key.m_publicKeyInfo = cert.PublicKeyInfoDer();
    return key;
}

std::vector<CK_ATTRIBUTE_TYPE> CCertKey::TellingAttributes(CK_OBJECT_CLASS keyClass, CK_KEY_TYPE keyType)
{
    if (keyType == CKK_RSA)
        return {CKA_MODULUS, CKA_PUBLIC_EXPONENT};
    if (keyClass == CKO_PUBLIC_KEY)
        return {CKA_EC_POINT};
    return {CKA_PUBLIC_KEY_INFO};
}

CCertKey::EMatch CCertKey::Match(const SKeyObject& key) const
{
    if (key.ulKeyType == CKK_RSA)
        return MatchRsa(key);
    // EC, EdDSA, and keys of types the searches do not know.
    if (key.ulClass == CKO_PUBLIC_KEY)
        return MatchPoint(key.ecPoint);
    return MatchPublicKeyInfo(key.publicKeyInfo);
}

CCertKey::EMatch CCertKey::MatchRsa(const SKeyObject& key) const
{
    if (!key.modulus)
        return EMatch::Unknown;
    if (m_modulus.empty() || WithoutLeadingZeros(*key.modulus) != m_modulus)
        return EMatch::Other;
    if (key.exponent && WithoutLeadingZeros(*key.exponent) != m_exponent)
        return EMatch::Other;
    return EMatch::Own;
}

// Modules of PKCS#11 v2.20 give CKA_EC_POINT as the standard says, a DER
// OCTET STRING, or as the raw point: both are the certificate's.
CCertKey::EMatch CCertKey::MatchPoint(const std::optional<Bytes>& point) const
{
    if (!point)
        return EMatch::Unknown;
    if (m_point.empty())
        return EMatch::Other;
    return *point == m_point || *point == DerOctetString(m_point) ? EMatch::Own : EMatch::Other;
}

CCertKey::EMatch CCertKey::MatchPublicKeyInfo(const std::optional<Bytes>& info) const
{
    if (!info)
        return EMatch::Unknown;
    return !m_publicKeyInfo.empty() && *info == m_publicKeyInfo ? EMatch::Own : EMatch::Other;
}

std::optional<std::vector<std::size_t>> CCertKey::Choose(const std::vector<EMatch>& candidates)
{
    std::vector<std::size_t> own;
    std::vector<std::size_t> unknown;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (candidates[i] == EMatch::Own)
            own.push_back(i);
        else if (candidates[i] == EMatch::Unknown)
            unknown.push_back(i);
    }
    // A key shown to be the certificate's settles it; the others stay.
    if (!own.empty())
        return own;
    if (unknown.size() <= 1)
        return unknown;
    return std::nullopt;
}
