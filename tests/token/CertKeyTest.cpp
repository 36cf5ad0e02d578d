#include "CPublicKeyDer.h"
#include "CTestCertificate.h"
#include "platform/CCertificate.h"
#include "token/CCertKey.h"

#include <gtest/gtest.h>

using testsupport::Bytes;
using testsupport::CPublicKeyDer;
using testsupport::CTestCertificate;
using EMatch = CCertKey::EMatch;

namespace {

std::unique_ptr<CCertificate> CertCarrying(const Bytes& spki)
{
    Bytes der = CTestCertificate().Add("CN", "key").PublicKey(spki).Der();
    return CCertificate::Decode(der.data(), der.size());
}

CCertKey::SKeyObject Object(CK_OBJECT_CLASS cls, CK_KEY_TYPE type)
{
    CCertKey::SKeyObject object;
    object.ulClass = cls;
    object.ulKeyType = type;
    return object;
}

}  // namespace

// Modules write the same RSA key with or without leading zeros, and give
// its exponent or keep it to themselves.
TEST(CertKey, RsaKeysAreToldByModulusAndExponent)
{
    auto cert = CertCarrying(CPublicKeyDer::Fresh("RSA"));
    ASSERT_TRUE(cert);
    const CCertKey key = CCertKey::Of(*cert);
    EXPECT_EQ(key.SearchType(), static_cast<CK_KEY_TYPE>(CKK_RSA));

    CCertKey::SKeyObject object = Object(CKO_PRIVATE_KEY, CKK_RSA);
    EXPECT_EQ(key.Match(object), EMatch::Unknown);  // the modulus kept back
    Bytes modulus = cert->RsaModulus();
    modulus.insert(modulus.begin(), 0x00);
    object.modulus = modulus;
    EXPECT_EQ(key.Match(object), EMatch::Own);
    object.exponent = Bytes{0x00, 0x01, 0x00, 0x01};
    EXPECT_EQ(key.Match(object), EMatch::Own);
    object.exponent = Bytes{0x03};
    EXPECT_EQ(key.Match(object), EMatch::Other);
    object.exponent.reset();
    modulus.back() ^= 1;
    object.modulus = modulus;
    EXPECT_EQ(key.Match(object), EMatch::Other);
}

// CKA_EC_POINT as the standard has it (a DER OCTET STRING, with a long
// length for P-521) and raw, as many v2.20 modules give it.
TEST(CertKey, EcPointsAreToldWrappedOrRaw)
{
    for (const char* curve : {"P-256", "P-521"}) {
        auto cert = CertCarrying(CPublicKeyDer::Fresh("EC", curve));
        ASSERT_TRUE(cert);
        const CCertKey key = CCertKey::Of(*cert);
        EXPECT_EQ(key.SearchType(), static_cast<CK_KEY_TYPE>(CKK_EC));
        const Bytes raw = cert->PublicKeyBits();
        Bytes wrapped = {0x04};
        if (raw.size() >= 0x80)
            wrapped.push_back(0x81);
        wrapped.push_back(static_cast<unsigned char>(raw.size()));
        wrapped.insert(wrapped.end(), raw.begin(), raw.end());

        CCertKey::SKeyObject object = Object(CKO_PUBLIC_KEY, CKK_EC);
        EXPECT_EQ(key.Match(object), EMatch::Unknown) << curve;
        for (const Bytes& point : {raw, wrapped}) {
            object.ecPoint = point;
            EXPECT_EQ(key.Match(object), EMatch::Own) << curve;
        }
        object.ecPoint = Bytes(wrapped.begin(), wrapped.end() - 1);
        EXPECT_EQ(key.Match(object), EMatch::Other) << curve;

        // A private key tells by its public key info, where the module gives it.
        CCertKey::SKeyObject priv = Object(CKO_PRIVATE_KEY, CKK_EC);
        EXPECT_EQ(key.Match(priv), EMatch::Unknown) << curve;
        priv.publicKeyInfo = cert->PublicKeyInfoDer();
        EXPECT_EQ(key.Match(priv), EMatch::Own) << curve;
        priv.publicKeyInfo = CPublicKeyDer::Fresh("EC", curve);
        EXPECT_EQ(key.Match(priv), EMatch::Other) << curve;
    }
}

// Searched for without a type: an RSA object is never an SM2 key.
TEST(CertKey, KeyOfNoKnownTypeIsToldByValueOnly)
{
    auto cert = CertCarrying(CPublicKeyDer::Fresh("SM2"));
    ASSERT_TRUE(cert);
    const CCertKey key = CCertKey::Of(*cert);
    EXPECT_EQ(key.SearchType(), CK_UNAVAILABLE_INFORMATION);
    CCertKey::SKeyObject rsa = Object(CKO_PUBLIC_KEY, CKK_RSA);
    rsa.modulus = Bytes(128, 0xA5);
    EXPECT_EQ(key.Match(rsa), EMatch::Other);
    CCertKey::SKeyObject vendor = Object(CKO_PUBLIC_KEY, CKK_VENDOR_DEFINED | 0x201);
    vendor.ecPoint = cert->PublicKeyBits();
    EXPECT_EQ(key.Match(vendor), EMatch::Own);
}

TEST(CertKey, ChoiceTakesWhatIsShownElseOneUnreadableElseNone)
{
    using Chosen = std::optional<std::vector<std::size_t>>;
    EXPECT_EQ(CCertKey::Choose({}), Chosen(std::vector<std::size_t>{}));
    EXPECT_EQ(CCertKey::Choose({EMatch::Other, EMatch::Other}), Chosen(std::vector<std::size_t>{}));
    EXPECT_EQ(CCertKey::Choose({EMatch::Unknown, EMatch::Own}), Chosen(std::vector<std::size_t>{1}));
    EXPECT_EQ(CCertKey::Choose({EMatch::Own, EMatch::Other, EMatch::Own}), Chosen(std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(CCertKey::Choose({EMatch::Other, EMatch::Unknown}), Chosen(std::vector<std::size_t>{1}));
    EXPECT_EQ(CCertKey::Choose({EMatch::Unknown, EMatch::Other, EMatch::Unknown}), std::nullopt);
}
