#include "CRemovalTest.h"

#include <ostream>
#include <string>
#include <vector>

using testsupport::Bytes;

namespace {

// A module that misreads CKA_ID in its search templates, and the IDs that
// show it: the expired certificate's, then the valid one's.
struct SMisreadId {
    const char* rule;
    Bytes expiredId;
    Bytes validId;
};

// Named by its rule in test listings, not by its bytes (which hold addresses).
void PrintTo(const SMisreadId& lie, std::ostream* os)
{
    *os << lie.rule;
}

}  // namespace

// An expired EC certificate with its public key only, beside a valid EC
// certificate with its whole pair: whatever the module's searches hand out,
// the removal takes only what reads back as the expired certificate's.
class MisreadIdRemovalTest : public CRemovalTest, public ::testing::WithParamInterface<SMisreadId> {};

TEST_P(MisreadIdRemovalTest, TheValidCertificatesKeysStay)
{
    const SMisreadId& lie = GetParam();
    AddCertCarrying("Old", "20200101000000Z", "20210101000000Z", lie.expiredId,
                    Token().GenerateEcKeyPair(lie.expiredId));
    Token().Destroy(CKO_PRIVATE_KEY, lie.expiredId);
    AddCertCarrying("New", "20300101000000Z", "20400101000000Z", lie.validId, Token().GenerateEcKeyPair(lie.validId));
    Sim().AddFault(lie.rule);
    Start();
    ASSERT_EQ(RedNames(), (std::vector<std::string>{"Old's Acme ID"}));

    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    // The shared-key search was not fooled into keeping the expired key...
    EXPECT_EQ(Token().Count(CKO_CERTIFICATE, lie.expiredId), 0u);
    EXPECT_EQ(Token().Count(CKO_PUBLIC_KEY, lie.expiredId), 0u);
    // ...and the key searches were not fooled into taking the valid one's.
    EXPECT_EQ(Token().Count(CKO_CERTIFICATE, lie.validId), 1u);
    EXPECT_EQ(Token().Count(CKO_PUBLIC_KEY, lie.validId, CKK_EC), 1u);
    EXPECT_EQ(Token().Count(CKO_PRIVATE_KEY, lie.validId, CKK_EC), 1u);
    EXPECT_EQ(Rows(), (std::vector<SRow>{{"20300101", "20400101", "New's Acme ID", false}}));
}

INSTANTIATE_TEST_SUITE_P(Lies, MisreadIdRemovalTest,
                         ::testing::Values(SMisreadId{"C_FindObjectsInit:*:lie=key-id-ignored", {0x02}, {0x01}},
                                           SMisreadId{"C_FindObjectsInit:*:lie=id-ignored", {0x02}, {0x01}},
                                           SMisreadId{"C_FindObjectsInit:*:lie=key-id-cstring", {0x11}, {0x11, 0x00, 0x22}},
                                           SMisreadId{"C_FindObjectsInit:*:lie=id-cstring", {0x11}, {0x11, 0x00, 0x22}}));

// A module that ignores CKA_ID hands out every certificate to the search by
// ID; on a token of many, the renewal that kept the expired certificate's
// key pair comes out last, and still keeps the pair.
using IdIgnoredRemovalTest = CRemovalTest;

TEST_F(IdIgnoredRemovalTest, RenewalHandedOutLastKeepsItsPair)
{
    Sim().SetFindOrder(ETokenSimFindOrder::Label);
    for (int i = 0; i < 68; ++i)
        Token().ImportCertificate(testsupport::CTestCertificate().Add("CN", "Filler " + std::to_string(i))
                                      .NotBefore("20300101000000Z").NotAfter("20400101000000Z").Der(),
                                  {Bytes::value_type(0x40 + i)}, "A" + std::to_string(100 + i));
    const Bytes pair = Token().GenerateKeyPair({7});
    auto ren = [&pair](const std::string& notBefore, const std::string& notAfter) {
        return testsupport::CTestCertificate().Add("C", "CN").Add("O", "Acme").Add("CN", "Ren").NotBefore(notBefore)
            .NotAfter(notAfter).PublicKey(pair).Der();
    };
    Token().ImportCertificate(ren("20200101000000Z", "20210101000000Z"), {7}, "B-expired");
    Token().ImportCertificate(ren("20300201000000Z", "20400101000000Z"), {7}, "Z-renewal");
    Sim().AddFault("C_FindObjectsInit:*:lie=id-ignored");
    Start();
    ASSERT_EQ(Rows().size(), 70u);
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_EQ(Token().Count(CKO_CERTIFICATE, {7}), 1u);
    EXPECT_TRUE(PubThere(7));
    EXPECT_TRUE(PrivThere(7));
}
