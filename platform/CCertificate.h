#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <memory>

#include <openssl/types.h>

// A decoded X.509 certificate: its subject name, validity times and the
// kind of its public key.
class CCertificate {
public:
    // The algorithms a certificate's public key may be for; Other for any
    // further one.
    enum class EKeyType { Rsa, RsaPss, Ec, Ed25519, Ed448, Other };

    // Null when `der` does not begin with a DER-encoded certificate; bytes
    // after the certificate are ignored, as tokens may pad what they store.
    static std::unique_ptr<CCertificate> Decode(const unsigned char* der, std::size_t length);

    ~CCertificate();
    CCertificate(const CCertificate&) = delete;
    CCertificate& operator=(const CCertificate&) = delete;

    const X509_NAME* Subject() const;
    // Calendar fields in UTC, the time base certificates are stored in;
    // all fields 0 when the time cannot be read.
    SYSTEMTIME NotBefore() const;
    SYSTEMTIME NotAfter() const;
    // Whether both validity times turn into calendar times.
    bool HasReadableValidity() const;
    // As the key's algorithm identifier names it.
    EKeyType PublicKeyType() const;

private:
    explicit CCertificate(X509* cert) : m_pCert(cert) {}
    static bool ToSystemTime(const ASN1_TIME* time, SYSTEMTIME& out);

    X509* m_pCert;
};
