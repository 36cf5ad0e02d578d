#include "CTestCertificate.h"
#include "OpenSslCheck.h"

#include <atomic>
#include <memory>
#include <stdexcept>

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace testsupport {

const int CTestCertificate::kUtf8 = MBSTRING_UTF8;
const int CTestCertificate::kPrintable = V_ASN1_PRINTABLESTRING;
const int CTestCertificate::kBmp = V_ASN1_BMPSTRING;
const int CTestCertificate::kIa5 = V_ASN1_IA5STRING;
const int CTestCertificate::kT61 = V_ASN1_T61STRING;

namespace {

struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct NameFree {
    void operator()(X509_NAME* p) const { X509_NAME_free(p); }
};
struct ExtensionFree {
    void operator()(X509_EXTENSION* p) const { X509_EXTENSION_free(p); }
};
struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};

// One signing key for the whole test process; the signature is never checked.
EVP_PKEY* SigningKey()
{
    static std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_EC_gen("P-256"));
    CheckOpenSsl(key != nullptr, "EVP_EC_gen");
    return key.get();
}

long NextSerial()
{
    static std::atomic<long> serial{1000};
    return ++serial;
}

void SetTime(ASN1_TIME* t, const std::string& utc)
{
    CheckOpenSsl(ASN1_TIME_set_string_X509(t, utc.c_str()) == 1, "ASN1_TIME_set_string_X509");
}

// The given key, or the signing key when none is given.
void SetPublicKey(X509* cert, const Bytes& spki)
{
    if (spki.empty()) {
        CheckOpenSsl(X509_set_pubkey(cert, SigningKey()) == 1, "X509_set_pubkey");
        return;
    }
    const unsigned char* p = spki.data();
    std::unique_ptr<EVP_PKEY, PkeyFree> key(d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size())));
    CheckOpenSsl(key != nullptr, "d2i_PUBKEY");
    CheckOpenSsl(X509_set_pubkey(cert, key.get()) == 1, "X509_set_pubkey");
}

}  // namespace

std::string UtcString(std::time_t t)
{
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y%m%d%H%M%SZ", &tm);
    return buf;
}

CTestCertificate::CTestCertificate()
    : m_strNotBefore(UtcString(std::time(nullptr) - 86400)),
      m_strNotAfter(UtcString(std::time(nullptr) + 365 * 86400))
{
}

CTestCertificate& CTestCertificate::Add(const std::string& field, const std::string& value, int type)
{
    m_fields.push_back({field, value, type, true});
    return *this;
}

CTestCertificate& CTestCertificate::AddToLastRdn(const std::string& field, const std::string& value, int type)
{
    m_fields.push_back({field, value, type, false});
    return *this;
}

CTestCertificate& CTestCertificate::NotBefore(const std::string& utc)
{
    m_strNotBefore = utc;
    return *this;
}

CTestCertificate& CTestCertificate::NotAfter(const std::string& utc)
{
    m_strNotAfter = utc;
    return *this;
}

CTestCertificate& CTestCertificate::NotBefore(std::time_t t) { return NotBefore(UtcString(t)); }
CTestCertificate& CTestCertificate::NotAfter(std::time_t t) { return NotAfter(UtcString(t)); }

CTestCertificate& CTestCertificate::PublicKey(const Bytes& spki)
{
    m_publicKey = spki;
    return *this;
}

CTestCertificate& CTestCertificate::IssuedBy(const std::string& ca)
{
    m_strIssuer = ca;
    return *this;
}

CTestCertificate& CTestCertificate::KeyUsage(const std::string& usage)
{
    m_strKeyUsage = usage;
    return *this;
}

CTestCertificate& CTestCertificate::BasicConstraints(const std::string& constraints)
{
    m_strBasicConstraints = constraints;
    return *this;
}

Bytes CTestCertificate::SubjectDer() const
{
    std::unique_ptr<X509_NAME, NameFree> name(X509_NAME_new());
    CheckOpenSsl(name != nullptr, "X509_NAME_new");
    for (const Field& f : m_fields) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(f.value.data());
        CheckOpenSsl(X509_NAME_add_entry_by_txt(name.get(), f.name.c_str(), f.type, bytes,
                                         static_cast<int>(f.value.size()), -1, f.bNewRdn ? 0 : -1) == 1,
              "X509_NAME_add_entry_by_txt");
    }
    unsigned char* der = nullptr;
    int len = i2d_X509_NAME(name.get(), &der);
    CheckOpenSsl(len > 0, "i2d_X509_NAME");
    Bytes out(der, der + len);
    OPENSSL_free(der);
    return out;
}

Bytes CTestCertificate::Der() const
{
    std::unique_ptr<X509, X509Free> cert(X509_new());
    CheckOpenSsl(cert != nullptr, "X509_new");
    CheckOpenSsl(X509_set_version(cert.get(), 2) == 1, "X509_set_version");
    CheckOpenSsl(ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), NextSerial()) == 1, "serial");

    Bytes subject = SubjectDer();
    const unsigned char* p = subject.data();
    std::unique_ptr<X509_NAME, NameFree> name(d2i_X509_NAME(nullptr, &p, static_cast<long>(subject.size())));
    CheckOpenSsl(name != nullptr, "d2i_X509_NAME");
    CheckOpenSsl(X509_set_subject_name(cert.get(), name.get()) == 1, "subject");
    if (m_strIssuer.empty()) {
        CheckOpenSsl(X509_set_issuer_name(cert.get(), name.get()) == 1, "issuer");
    } else {
        Bytes issuerDer = CTestCertificate().Add("C", "CN").Add("O", m_strIssuer).Add("CN", m_strIssuer).SubjectDer();
        const unsigned char* q = issuerDer.data();
        std::unique_ptr<X509_NAME, NameFree> issuer(d2i_X509_NAME(nullptr, &q, static_cast<long>(issuerDer.size())));
        CheckOpenSsl(issuer != nullptr && X509_set_issuer_name(cert.get(), issuer.get()) == 1, "issuer");
    }
    if (!m_strKeyUsage.empty()) {
        std::unique_ptr<X509_EXTENSION, ExtensionFree> usage(
            X509V3_EXT_nconf_nid(nullptr, nullptr, NID_key_usage, m_strKeyUsage.c_str()));
        CheckOpenSsl(usage != nullptr && X509_add_ext(cert.get(), usage.get(), -1) == 1, "keyUsage");
    }
    if (!m_strBasicConstraints.empty()) {
        std::unique_ptr<X509_EXTENSION, ExtensionFree> constraints(
            X509V3_EXT_nconf_nid(nullptr, nullptr, NID_basic_constraints, m_strBasicConstraints.c_str()));
        CheckOpenSsl(constraints != nullptr && X509_add_ext(cert.get(), constraints.get(), -1) == 1,
                     "basicConstraints");
    }

    SetTime(X509_getm_notBefore(cert.get()), m_strNotBefore);
    SetTime(X509_getm_notAfter(cert.get()), m_strNotAfter);
    SetPublicKey(cert.get(), m_publicKey);
    CheckOpenSsl(X509_sign(cert.get(), SigningKey(), EVP_sha256()) > 0, "X509_sign");

    unsigned char* der = nullptr;
    int len = i2d_X509(cert.get(), &der);
    CheckOpenSsl(len > 0, "i2d_X509");
    Bytes out(der, der + len);
    OPENSSL_free(der);
    return out;
}

}  // namespace testsupport
