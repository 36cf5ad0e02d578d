#include "platform/CCertificate.h"

#include "platform/SystemTimeConv.h"

#include <climits>
#include <ctime>

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

struct BitStringFree {
    void operator()(ASN1_BIT_STRING* p) const { ASN1_BIT_STRING_free(p); }
};
struct BasicConstraintsFree {
    void operator()(BASIC_CONSTRAINTS* p) const { BASIC_CONSTRAINTS_free(p); }
};
struct BignumFree {
    void operator()(BIGNUM* p) const { BN_free(p); }
};

// An i2d_ encoding as bytes; empty when it fails.
template <typename T, typename Encode>
CCertificate::Bytes Encoded(T* object, Encode encode)
{
    unsigned char* der = nullptr;
    int len = object != nullptr ? encode(object, &der) : -1;
    CCertificate::Bytes out;
    if (len > 0)
        out.assign(der, der + len);
    OPENSSL_free(der);
    return out;
}

}  // namespace

std::unique_ptr<CCertificate> CCertificate::Decode(const unsigned char* der, std::size_t length)
{
    if (der == nullptr || length == 0 || length > static_cast<std::size_t>(LONG_MAX))
        return nullptr;
    const unsigned char* p = der;
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(length));
    if (cert == nullptr)
        return nullptr;
    return std::unique_ptr<CCertificate>(new CCertificate(cert));
}

CCertificate::~CCertificate()
{
    X509_free(m_pCert);
}

const X509_NAME* CCertificate::Subject() const
{
    return X509_get_subject_name(m_pCert);
}

const X509_NAME* CCertificate::Issuer() const
{
    return X509_get_issuer_name(m_pCert);
}

CCertificate::Bytes CCertificate::SubjectDer() const
{
    return Encoded(X509_get_subject_name(m_pCert), i2d_X509_NAME);
}

CCertificate::Bytes CCertificate::IssuerDer() const
{
    return Encoded(X509_get_issuer_name(m_pCert), i2d_X509_NAME);
}

SYSTEMTIME CCertificate::NotBefore() const
{
    SYSTEMTIME st{};
    ToSystemTime(X509_get0_notBefore(m_pCert), st);
    return st;
}

SYSTEMTIME CCertificate::NotAfter() const
{
    SYSTEMTIME st{};
    ToSystemTime(X509_get0_notAfter(m_pCert), st);
    return st;
}

bool CCertificate::HasReadableValidity() const
{
    SYSTEMTIME st{};
    return ToSystemTime(X509_get0_notBefore(m_pCert), st) && ToSystemTime(X509_get0_notAfter(m_pCert), st);
}

CCertificate::EKeyType CCertificate::PublicKeyType() const
{
    // The identifier, not the decoded key: a key on a curve OpenSSL cannot
    // decode is still an EC key.
    ASN1_OBJECT* algorithm = nullptr;
    const X509_PUBKEY* key = X509_get_X509_PUBKEY(m_pCert);
    if (key == nullptr || X509_PUBKEY_get0_param(&algorithm, nullptr, nullptr, nullptr, key) != 1)
        return EKeyType::Other;
    switch (OBJ_obj2nid(algorithm)) {
    case NID_rsaEncryption: return EKeyType::Rsa;
    case NID_rsassaPss: return EKeyType::RsaPss;
    case NID_X9_62_id_ecPublicKey: return EKeyType::Ec;
    case NID_ED25519: return EKeyType::Ed25519;
    case NID_ED448: return EKeyType::Ed448;
    default: return EKeyType::Other;
    }
}

bool CCertificate::IsSm2Key() const
{
    ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR* identifier = nullptr;
    const X509_PUBKEY* key = X509_get_X509_PUBKEY(m_pCert);
    if (key == nullptr || X509_PUBKEY_get0_param(&algorithm, nullptr, nullptr, &identifier, key) != 1)
        return false;
    if (OBJ_obj2nid(algorithm) == NID_sm2)
        return true;
    int parameterType = V_ASN1_UNDEF;
    const void* parameter = nullptr;
    X509_ALGOR_get0(nullptr, &parameterType, &parameter, identifier);
    return parameterType == V_ASN1_OBJECT && OBJ_obj2nid(static_cast<const ASN1_OBJECT*>(parameter)) == NID_sm2;
}

CCertificate::EUse CCertificate::Use() const
{
    int critical = 0;
    std::unique_ptr<ASN1_BIT_STRING, BitStringFree> usage(
        static_cast<ASN1_BIT_STRING*>(X509_get_ext_d2i(m_pCert, NID_key_usage, &critical, nullptr)));
    if (!usage)
        return EUse::General;
    auto bit = [&usage](int n) { return ASN1_BIT_STRING_get_bit(usage.get(), n) == 1; };
    const bool bSigning = bit(0) || bit(1);            // digitalSignature, nonRepudiation
    const bool bEncryption = bit(2) || bit(3) || bit(4);  // key-, dataEncipherment, keyAgreement
    if (bSigning && !bEncryption)
        return EUse::Signing;
    if (bEncryption && !bSigning)
        return EUse::Encryption;
    return EUse::General;
}

bool CCertificate::CanDecrypt() const
{
    switch (PublicKeyType()) {
    case EKeyType::Ed25519:
    case EKeyType::Ed448:
    case EKeyType::RsaPss: return false;
    default: break;
    }
    int found = 0;
    std::unique_ptr<ASN1_BIT_STRING, BitStringFree> usage(
        static_cast<ASN1_BIT_STRING*>(X509_get_ext_d2i(m_pCert, NID_key_usage, &found, nullptr)));
    if (usage)
        return ASN1_BIT_STRING_get_bit(usage.get(), 2) == 1 || ASN1_BIT_STRING_get_bit(usage.get(), 3) == 1 ||
               ASN1_BIT_STRING_get_bit(usage.get(), 4) == 1;
    // -1: there is none. Present but unreadable (or twice): it may.
    if (found != -1)
        return true;
    std::unique_ptr<BASIC_CONSTRAINTS, BasicConstraintsFree> constraints(
        static_cast<BASIC_CONSTRAINTS*>(X509_get_ext_d2i(m_pCert, NID_basic_constraints, nullptr, nullptr)));
    return !constraints || constraints->ca == 0;
}

CCertificate::Bytes CCertificate::Der() const
{
    return Encoded(m_pCert, i2d_X509);
}

CCertificate::Bytes CCertificate::PublicKeyInfoDer() const
{
    return Encoded(X509_get_X509_PUBKEY(m_pCert), i2d_X509_PUBKEY);
}

CCertificate::Bytes CCertificate::PublicKeyBits() const
{
    const unsigned char* bits = nullptr;
    int len = 0;
    const X509_PUBKEY* key = X509_get_X509_PUBKEY(m_pCert);
    if (key == nullptr || X509_PUBKEY_get0_param(nullptr, &bits, &len, nullptr, key) != 1 || bits == nullptr ||
        len <= 0)
        return {};
    return Bytes(bits, bits + len);
}

CCertificate::Bytes CCertificate::RsaModulus() const
{
    return RsaParameter(OSSL_PKEY_PARAM_RSA_N);
}

CCertificate::Bytes CCertificate::RsaExponent() const
{
    return RsaParameter(OSSL_PKEY_PARAM_RSA_E);
}

CCertificate::Bytes CCertificate::RsaParameter(const char* name) const
{
    EKeyType type = PublicKeyType();
    if (type != EKeyType::Rsa && type != EKeyType::RsaPss)
        return {};
    EVP_PKEY* key = X509_get0_pubkey(m_pCert);
    BIGNUM* raw = nullptr;
    if (key == nullptr || EVP_PKEY_get_bn_param(key, name, &raw) != 1)
        return {};
    std::unique_ptr<BIGNUM, BignumFree> value(raw);
    Bytes out(static_cast<std::size_t>(BN_num_bytes(value.get())));
    BN_bn2bin(value.get(), out.data());
    return out;
}

bool CCertificate::ToSystemTime(const ASN1_TIME* time, SYSTEMTIME& out)
{
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1)
        return false;
    out = SystemTimeConv::FromTm(tm);
    return true;
}
