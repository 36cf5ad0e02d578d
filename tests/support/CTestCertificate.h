#pragma once

#include <ctime>
#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<unsigned char>;

// Builds self-signed X.509 certificates with any subject and validity, for
// loading onto test tokens. Fields are added in the order they are encoded.
class CTestCertificate {
public:
    // ASN.1 string types for values (OpenSSL's MBSTRING_* / V_ASN1_* codes).
    static const int kUtf8;
    static const int kPrintable;
    static const int kBmp;
    static const int kIa5;
    static const int kT61;

    CTestCertificate();

    // A field in a new RDN. `field` is a short name ("CN", "O", ...) or a
    // dotted OID; `value` is UTF-8.
    CTestCertificate& Add(const std::string& field, const std::string& value, int type = kUtf8);
    // A further value in the RDN added last (a multi-valued RDN).
    CTestCertificate& AddToLastRdn(const std::string& field, const std::string& value, int type = kUtf8);

    // Times as "YYYYMMDDHHMMSSZ" (UTC).
    CTestCertificate& NotBefore(const std::string& utc);
    CTestCertificate& NotAfter(const std::string& utc);
    // Times as seconds since the epoch.
    CTestCertificate& NotBefore(std::time_t t);
    CTestCertificate& NotAfter(std::time_t t);
    // The certificate carries this public key (a DER SubjectPublicKeyInfo,
    // say of a key pair on a token) and is signed by a key of the test
    // process. Without it, the certificate carries that signing key.
    CTestCertificate& PublicKey(const Bytes& spki);
    // Issued by "C=CN, O=<ca>, CN=<ca>" rather than by itself.
    CTestCertificate& IssuedBy(const std::string& ca);
    // A keyUsage extension as OpenSSL's configuration writes it:
    // "digitalSignature,nonRepudiation", "critical,keyEncipherment"...
    CTestCertificate& KeyUsage(const std::string& usage);
    // A basicConstraints extension likewise: "critical,CA:TRUE", "CA:FALSE".
    CTestCertificate& BasicConstraints(const std::string& constraints);

    Bytes Der() const;
    // The DER of the subject name alone.
    Bytes SubjectDer() const;

private:
    struct Field {
        std::string name;
        std::string value;
        int type;
        bool bNewRdn;
    };
    std::vector<Field> m_fields;
    std::string m_strNotBefore;
    std::string m_strNotAfter;
    Bytes m_publicKey;
    std::string m_strIssuer;
    std::string m_strKeyUsage;
    std::string m_strBasicConstraints;
};

// "YYYYMMDDHHMMSSZ" of a time_t, in UTC.
std::string UtcString(std::time_t t);

}  // namespace testsupport
