#include "CPublicKeyDer.h"
#include "OpenSslCheck.h"

#include <memory>
#include <stdexcept>

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

namespace testsupport {

namespace {

struct Free {
    void operator()(BIGNUM* p) const { BN_free(p); }
    void operator()(OSSL_PARAM_BLD* p) const { OSSL_PARAM_BLD_free(p); }
    void operator()(OSSL_PARAM* p) const { OSSL_PARAM_free(p); }
    void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(ASN1_OCTET_STRING* p) const { ASN1_OCTET_STRING_free(p); }
    void operator()(X509* p) const { X509_free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

Owned<BIGNUM> BigNum(const Bytes& bigEndian)
{
    Owned<BIGNUM> bn(BN_bin2bn(bigEndian.data(), static_cast<int>(bigEndian.size()), nullptr));
    CheckOpenSsl(bn != nullptr, "BN_bin2bn");
    return bn;
}

// A public key of this type from the parameters the builder holds.
Owned<EVP_PKEY> FromParams(const char* type, OSSL_PARAM_BLD* bld)
{
    Owned<OSSL_PARAM> params(OSSL_PARAM_BLD_to_param(bld));
    CheckOpenSsl(params != nullptr, "OSSL_PARAM_BLD_to_param");
    Owned<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, type, nullptr));
    CheckOpenSsl(ctx != nullptr && EVP_PKEY_fromdata_init(ctx.get()) == 1, "EVP_PKEY_fromdata_init");
    EVP_PKEY* key = nullptr;
    CheckOpenSsl(EVP_PKEY_fromdata(ctx.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) == 1, "EVP_PKEY_fromdata");
    return Owned<EVP_PKEY>(key);
}

Bytes Spki(EVP_PKEY* key)
{
    unsigned char* der = nullptr;
    int len = i2d_PUBKEY(key, &der);
    CheckOpenSsl(len > 0, "i2d_PUBKEY");
    Bytes out(der, der + len);
    OPENSSL_free(der);
    return out;
}

int CurveNid(const std::string& curve)
{
    int nid = OBJ_sn2nid(curve.c_str());
    CheckOpenSsl(nid != NID_undef, "unknown curve");
    return nid;
}

// The point inside CKA_EC_POINT's OCTET STRING.
Bytes UnwrapPoint(const Bytes& ecPoint)
{
    const unsigned char* p = ecPoint.data();
    Owned<ASN1_OCTET_STRING> os(d2i_ASN1_OCTET_STRING(nullptr, &p, static_cast<long>(ecPoint.size())));
    CheckOpenSsl(os != nullptr, "d2i_ASN1_OCTET_STRING");
    const unsigned char* data = ASN1_STRING_get0_data(os.get());
    return Bytes(data, data + ASN1_STRING_length(os.get()));
}

}  // namespace

Bytes CPublicKeyDer::Rsa(const Bytes& modulus, const Bytes& exponent)
{
    Owned<BIGNUM> n = BigNum(modulus);
    Owned<BIGNUM> e = BigNum(exponent);
    Owned<OSSL_PARAM_BLD> bld(OSSL_PARAM_BLD_new());
    CheckOpenSsl(bld != nullptr, "OSSL_PARAM_BLD_new");
    CheckOpenSsl(OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_N, n.get()) == 1 &&
              OSSL_PARAM_BLD_push_BN(bld.get(), OSSL_PKEY_PARAM_RSA_E, e.get()) == 1,
          "OSSL_PARAM_BLD_push_BN");
    return Spki(FromParams("RSA", bld.get()).get());
}

Bytes CPublicKeyDer::Ec(const std::string& curve, const Bytes& ecPoint)
{
    Bytes point = UnwrapPoint(ecPoint);
    const char* group = OBJ_nid2sn(CurveNid(curve));
    Owned<OSSL_PARAM_BLD> bld(OSSL_PARAM_BLD_new());
    CheckOpenSsl(bld != nullptr, "OSSL_PARAM_BLD_new");
    CheckOpenSsl(OSSL_PARAM_BLD_push_utf8_string(bld.get(), OSSL_PKEY_PARAM_GROUP_NAME, group, 0) == 1 &&
              OSSL_PARAM_BLD_push_octet_string(bld.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) == 1,
          "OSSL_PARAM_BLD_push");
    // OpenSSL keeps keys on the SM2 curve apart from other EC keys.
    return Spki(FromParams(curve == "SM2" ? "SM2" : "EC", bld.get()).get());
}

Bytes CPublicKeyDer::Ed(const std::string& curve, const Bytes& ecPoint)
{
    Bytes point = UnwrapPoint(ecPoint);
    Owned<EVP_PKEY> key(EVP_PKEY_new_raw_public_key_ex(nullptr, curve.c_str(), nullptr, point.data(), point.size()));
    CheckOpenSsl(key != nullptr, "EVP_PKEY_new_raw_public_key_ex");
    return Spki(key.get());
}

Bytes CPublicKeyDer::CurveParams(const std::string& curve)
{
    const ASN1_OBJECT* oid = OBJ_nid2obj(CurveNid(curve));
    unsigned char* der = nullptr;
    int len = i2d_ASN1_OBJECT(oid, &der);
    CheckOpenSsl(len > 0, "i2d_ASN1_OBJECT");
    Bytes out(der, der + len);
    OPENSSL_free(der);
    return out;
}

Bytes CPublicKeyDer::Fresh(const std::string& algorithm, const std::string& curve)
{
    Owned<EVP_PKEY_CTX> ctx(EVP_PKEY_CTX_new_from_name(nullptr, algorithm.c_str(), nullptr));
    CheckOpenSsl(ctx != nullptr && EVP_PKEY_keygen_init(ctx.get()) == 1, "EVP_PKEY_keygen_init");
    if (algorithm.starts_with("RSA"))
        CheckOpenSsl(EVP_PKEY_CTX_set_rsa_keygen_bits(ctx.get(), 1024) == 1, "EVP_PKEY_CTX_set_rsa_keygen_bits");
    if (!curve.empty())
        CheckOpenSsl(EVP_PKEY_CTX_set_group_name(ctx.get(), curve.c_str()) == 1, "EVP_PKEY_CTX_set_group_name");
    EVP_PKEY* key = nullptr;
    CheckOpenSsl(EVP_PKEY_generate(ctx.get(), &key) == 1, "EVP_PKEY_generate");
    return Spki(Owned<EVP_PKEY>(key).get());
}

Bytes CPublicKeyDer::OfCertificate(const Bytes& certDer)
{
    const unsigned char* p = certDer.data();
    Owned<X509> cert(d2i_X509(nullptr, &p, static_cast<long>(certDer.size())));
    CheckOpenSsl(cert != nullptr, "d2i_X509");
    unsigned char* der = nullptr;
    int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(cert.get()), &der);
    CheckOpenSsl(len > 0, "i2d_X509_PUBKEY");
    Bytes out(der, der + len);
    OPENSSL_free(der);
    return out;
}

}  // namespace testsupport
