#pragma once

#include "platform/WinTypes.h"

#include <cstddef>
#include <memory>
#include <vector>

#include <openssl/types.h>

// A decoded X.509 certificate: its names, validity times, what its key is
// for, and its public key.
class CCertificate {
public:
    // The algorithms a certificate's public key may be for; Other for any
    // further one.
    enum class EKeyType { Rsa, RsaPss, Ec, Ed25519, Ed448, Other };
    // What the key is for, after the keyUsage extension: signing
    // (digitalSignature, nonRepudiation), encryption (keyEncipherment,
    // dataEncipherment, keyAgreement), or general: no extension, bits of
    // both kinds or of neither, or an extension that does not decode.
    enum class EUse { Signing, Encryption, General };
    using Bytes = std::vector<unsigned char>;

    // Null when `der` does not begin with a DER-encoded certificate; bytes
    // after the certificate are ignored, as tokens may pad what they store.
    static std::unique_ptr<CCertificate> Decode(const unsigned char* der, std::size_t length);

    ~CCertificate();
    CCertificate(const CCertificate&) = delete;
    CCertificate& operator=(const CCertificate&) = delete;

    const X509_NAME* Subject() const;
    const X509_NAME* Issuer() const;
    // The names as encoded: what tells two holders, or two CAs, apart.
    Bytes SubjectDer() const;
    Bytes IssuerDer() const;
    // Calendar fields in UTC, the time base certificates are stored in;
    // all fields 0 when the time cannot be read.
    SYSTEMTIME NotBefore() const;
    SYSTEMTIME NotAfter() const;
    // Whether both validity times turn into calendar times.
    bool HasReadableValidity() const;
    // As the key's algorithm identifier names it.
    EKeyType PublicKeyType() const;
    // An EC key on the SM2 curve, or a key of the SM2 algorithm.
    bool IsSm2Key() const;
    EUse Use() const;
    // Whether its key may decrypt, so that deleting the private key loses
    // what was encrypted to it: its key usage has keyEncipherment,
    // dataEncipherment or keyAgreement, or it has none and is no CA. A key
    // usage that does not decode may; a signature-only algorithm (Ed25519,
    // Ed448, RSA-PSS) never does.
    bool CanDecrypt() const;
    // The certificate as encoded, without whatever followed it in the value.
    Bytes Der() const;

    // The public key, for telling its key objects on a token from others:
    // the DER SubjectPublicKeyInfo; the bytes of its subjectPublicKey BIT
    // STRING (the point of an EC or EdDSA key); an RSA key's modulus and
    // public exponent, big-endian without leading zeros (empty for other
    // keys, or an RSA key that does not decode).
    Bytes PublicKeyInfoDer() const;
    Bytes PublicKeyBits() const;
    Bytes RsaModulus() const;
    Bytes RsaExponent() const;

private:
    explicit CCertificate(X509* cert) : m_pCert(cert) {}
    static bool ToSystemTime(const ASN1_TIME* time, SYSTEMTIME& out);
    Bytes RsaParameter(const char* name) const;

    X509* m_pCert;
};
