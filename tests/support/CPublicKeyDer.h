#pragma once

#include <string>
#include <vector>

namespace testsupport {

using Bytes = std::vector<unsigned char>;

// DER SubjectPublicKeyInfo of public keys read from a token or made afresh,
// built with OpenSSL 3, and the DER pieces PKCS#11 takes for EC curves.
class CPublicKeyDer {
public:
    // From CKA_MODULUS and CKA_PUBLIC_EXPONENT (big-endian).
    static Bytes Rsa(const Bytes& modulus, const Bytes& exponent);
    // From the curve's OpenSSL short name and CKA_EC_POINT (a DER OCTET
    // STRING holding the uncompressed point, as PKCS#11 v2.20 stores it).
    static Bytes Ec(const std::string& curve, const Bytes& ecPoint);
    // From "ED25519" or "ED448" and CKA_EC_POINT (a DER OCTET STRING holding
    // the encoded point, as SoftHSM2 stores it).
    static Bytes Ed(const std::string& curve, const Bytes& ecPoint);
    // CKA_EC_PARAMS of a named curve: the DER of its object identifier.
    static Bytes CurveParams(const std::string& curve);
    // The public key of a key pair OpenSSL makes, for certificates no token
    // holds keys of: `algorithm` as OpenSSL names it ("RSA", "RSA-PSS",
    // "EC", "SM2", "ED25519", "X25519"...), `curve` for "EC". RSA keys
    // have 1024 bits.
    static Bytes Fresh(const std::string& algorithm, const std::string& curve = {});
    // The SubjectPublicKeyInfo a DER certificate carries.
    static Bytes OfCertificate(const Bytes& certDer);
};

}  // namespace testsupport
