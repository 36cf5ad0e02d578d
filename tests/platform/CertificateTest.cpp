#include "CPublicKeyDer.h"
#include "CTestCertificate.h"
#include "platform/CCertificate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using testsupport::Bytes;
using testsupport::CPublicKeyDer;
using testsupport::CTestCertificate;

namespace {

void ExpectFields(const SYSTEMTIME& t, int y, int mo, int d, int h, int mi, int s)
{
    EXPECT_EQ(t.wYear, y);
    EXPECT_EQ(t.wMonth, mo);
    EXPECT_EQ(t.wDay, d);
    EXPECT_EQ(t.wHour, h);
    EXPECT_EQ(t.wMinute, mi);
    EXPECT_EQ(t.wSecond, s);
}

// The key type of a certificate carrying this public key.
CCertificate::EKeyType KeyTypeOf(const Bytes& spki)
{
    Bytes der = CTestCertificate().Add("CN", "k").PublicKey(spki).Der();
    auto cert = CCertificate::Decode(der.data(), der.size());
    EXPECT_NE(cert, nullptr);
    return cert != nullptr ? cert->PublicKeyType() : CCertificate::EKeyType::Other;
}

}  // namespace

TEST(Certificate, ValidityAsUtcCalendarFields)
{
    CTestCertificate c;
    c.Add("CN", "x").NotBefore("20191231235959Z").NotAfter("20510102030405Z");  // UTCTime, GeneralizedTime
    auto der = c.Der();
    auto cert = CCertificate::Decode(der.data(), der.size());
    ASSERT_NE(cert, nullptr);
    ExpectFields(cert->NotBefore(), 2019, 12, 31, 23, 59, 59);
    ExpectFields(cert->NotAfter(), 2051, 1, 2, 3, 4, 5);
}

TEST(Certificate, UndecodableValuesAreReportedNotCrashed)
{
    CTestCertificate c;
    c.Add("CN", "x");
    auto der = c.Der();

    EXPECT_EQ(CCertificate::Decode(nullptr, 0), nullptr);
    EXPECT_EQ(CCertificate::Decode(der.data(), 0), nullptr);
    EXPECT_EQ(CCertificate::Decode(der.data(), der.size() - 1), nullptr);
    EXPECT_EQ(CCertificate::Decode(der.data(), der.size() / 2), nullptr);

    std::vector<unsigned char> garbage(300, 0xA5);
    EXPECT_EQ(CCertificate::Decode(garbage.data(), garbage.size()), nullptr);

    // Padding after a whole certificate is not its business.
    auto padded = der;
    padded.insert(padded.end(), 16, 0);
    EXPECT_NE(CCertificate::Decode(padded.data(), padded.size()), nullptr);

    auto flipped = der;
    flipped[0] = 0x31;  // not a SEQUENCE
    EXPECT_EQ(CCertificate::Decode(flipped.data(), flipped.size()), nullptr);
}

TEST(Certificate, PublicKeyTypeOfEachAlgorithm)
{
    using T = CCertificate::EKeyType;
    EXPECT_EQ(KeyTypeOf(CPublicKeyDer::Fresh("RSA")), T::Rsa);
    EXPECT_EQ(KeyTypeOf(CPublicKeyDer::Fresh("RSA-PSS")), T::RsaPss);
    EXPECT_EQ(KeyTypeOf(CPublicKeyDer::Fresh("EC", "P-256")), T::Ec);
    EXPECT_EQ(KeyTypeOf(CPublicKeyDer::Fresh("EC", "P-384")), T::Ec);
    EXPECT_EQ(KeyTypeOf(CPublicKeyDer::Fresh("EC", "brainpoolP256r1")), T::Ec);
    EXPECT_EQ(KeyTypeOf(CPublicKeyDer::Fresh("ED25519")), T::Ed25519);
    EXPECT_EQ(KeyTypeOf(CPublicKeyDer::Fresh("ED448")), T::Ed448);
    // SM2 keys are EC keys on their own curve, and say so.
    EXPECT_EQ(KeyTypeOf(CPublicKeyDer::Fresh("SM2")), T::Ec);
    // Known to OpenSSL, but no signing key a token pairs with a certificate.
    EXPECT_EQ(KeyTypeOf(CPublicKeyDer::Fresh("X25519")), T::Other);
}

TEST(Certificate, PublicKeyOfAnUnknownAlgorithmIsOther)
{
    // id-Ed25519 (1.3.101.112) turned into 1.3.101.127, which nothing knows.
    Bytes der = CTestCertificate().Add("CN", "k").PublicKey(CPublicKeyDer::Fresh("ED25519")).Der();
    const Bytes oid = {0x06, 0x03, 0x2B, 0x65, 0x70};
    auto at = std::search(der.begin(), der.end(), oid.begin(), oid.end());
    ASSERT_NE(at, der.end());
    at[4] = 0x7F;
    auto cert = CCertificate::Decode(der.data(), der.size());
    ASSERT_NE(cert, nullptr);
    EXPECT_EQ(cert->PublicKeyType(), CCertificate::EKeyType::Other);
    EXPECT_TRUE(cert->HasReadableValidity());
}

// Whether deleting the private key loses what was encrypted to the
// certificate: its key usage says, or, without one, that it is no CA; a
// signature-only algorithm never decrypts.
TEST(Certificate, CanDecryptByKeyUsageOrForLackOfOne)
{
    struct SRow {
        const char* usage;        // keyUsage, or empty for none
        const char* constraints;  // basicConstraints, or empty for none
        const char* algorithm;
        bool bDecrypts;
    };
    const SRow rows[] = {
        {"", "", "RSA", true},
        {"", "CA:FALSE", "RSA", true},
        {"", "critical,CA:TRUE", "RSA", false},
        {"digitalSignature,nonRepudiation", "", "RSA", false},
        {"critical,keyEncipherment", "", "RSA", true},
        {"dataEncipherment", "", "RSA", true},
        {"digitalSignature,keyAgreement", "", "EC", true},
        {"keyCertSign,cRLSign", "", "RSA", false},
        {"digitalSignature,keyEncipherment", "critical,CA:TRUE", "RSA", true},
        {"", "", "ED25519", false},
        {"keyEncipherment", "", "RSA-PSS", false},
    };
    for (const SRow& row : rows) {
        SCOPED_TRACE(std::string(row.algorithm) + " keyUsage '" + row.usage + "' basicConstraints '" +
                     row.constraints + "'");
        const std::string curve = row.algorithm == std::string("EC") ? "P-256" : "";
        CTestCertificate c;
        c.Add("CN", "d").PublicKey(CPublicKeyDer::Fresh(row.algorithm, curve));
        if (*row.usage != '\0')
            c.KeyUsage(row.usage);
        if (*row.constraints != '\0')
            c.BasicConstraints(row.constraints);
        Bytes der = c.Der();
        auto cert = CCertificate::Decode(der.data(), der.size());
        ASSERT_NE(cert, nullptr);
        EXPECT_EQ(cert->CanDecrypt(), row.bDecrypts);
    }
}
