#include "platform/CCertificate.h"

#include "platform/SystemTimeConv.h"

#include <climits>
#include <ctime>

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

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

bool CCertificate::ToSystemTime(const ASN1_TIME* time, SYSTEMTIME& out)
{
    std::tm tm{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &tm) != 1)
        return false;
    out = SystemTimeConv::FromTm(tm);
    return true;
}
