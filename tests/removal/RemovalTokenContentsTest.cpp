#include "CRemovalTest.h"

#include <string>
#include <utility>
#include <vector>

using testsupport::Bytes;
using testsupport::CTestCertificate;

namespace {

// What tokens of this kind usually hold: one holder's certificates for
// signing and for encryption, from one CA or several, CA certificates
// without keys. Every holder certificate here is "Holder's Acme ID".
class RemovalTokenContentsTest : public CRemovalTest {
protected:
    // A holder certificate carrying the public key of a pair made on the
    // token under `id` (RSA unless `publicKey` is given).
    void AddHolder(const std::string& notBefore, const std::string& notAfter, const Bytes& id,
                   const std::string& usage = {}, const std::string& ca = "CA1", Bytes publicKey = {})
    {
        if (publicKey.empty())
            publicKey = Token().GenerateKeyPair(id, 1024, "own");
        CTestCertificate cert;
        cert.Add("C", "CN").Add("O", "Acme").Add("CN", "Holder").IssuedBy(ca).NotBefore(notBefore).NotAfter(notAfter);
        if (!usage.empty())
            cert.KeyUsage(usage);
        Token().ImportCertificate(cert.PublicKey(publicKey).Der(), id, "holder");
    }

    // Issue dates of the rows, red ones marked with a '*'.
    std::vector<std::string> Marks() const
    {
        std::vector<std::string> marks;
        for (const SRow& row : Rows())
            marks.push_back(row.issue + (row.bRed ? "*" : ""));
        return marks;
    }

    static constexpr const char* kSigning = "critical,digitalSignature,nonRepudiation";
    static constexpr const char* kEncryption = "critical,keyEncipherment,dataEncipherment";
};

}  // namespace

// Signing and encryption certificates issued two minutes apart, then both
// renewed: only the first two are out of date.
TEST_F(RemovalTokenContentsTest, SigningAndEncryptionCertificatesRenewedTogether)
{
    AddHolder("20300101000000Z", "20400101000000Z", {1}, kSigning);
    AddHolder("20300101000200Z", "20400101000000Z", {2}, kEncryption);
    AddHolder("20300201000000Z", "20400101000000Z", {3}, kSigning);
    AddHolder("20300201000200Z", "20400101000000Z", {4}, kEncryption);
    Start();
    ASSERT_EQ(Marks(), (std::vector<std::string>{"20300101*", "20300101*", "20300201", "20300201"}));
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(NoneThere(2));
    EXPECT_TRUE(AllThere(3));
    EXPECT_TRUE(AllThere(4));
}

// Two CAs for two applications, and twins issued in one second: none is
// the renewal of another.
TEST_F(RemovalTokenContentsTest, CertificatesOfTwoCasAndTwinsAreAllKept)
{
    AddHolder("20300101000000Z", "20400101000000Z", {1}, {}, "CA1");
    AddHolder("20300201000000Z", "20400101000000Z", {2}, {}, "CA2");
    AddHolder("20300301000000Z", "20400101000000Z", {3}, kSigning, "CA3");
    AddHolder("20300301000000Z", "20400101000000Z", {4}, kSigning, "CA3");
    Start();
    EXPECT_TRUE(RedNames().empty());
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kNothingExpired}));
    for (unsigned char id : {1, 2, 3, 4})
        EXPECT_TRUE(AllThere(id)) << int(id);
}

// An expired CA certificate, with no key pair, before the holder's expired one.
TEST_F(RemovalTokenContentsTest, ExpiredCaCertificateWithoutKeysGoesOnToTheHolders)
{
    Token().ImportCertificate(CTestCertificate().Add("C", "CN").Add("O", "CA1").Add("CN", "CA1")
                                  .KeyUsage("critical,keyCertSign,cRLSign")
                                  .NotBefore("20190101000000Z").NotAfter("20210101000000Z").Der(),
                              {0xCA}, "ca");
    AddHolder("20200101000000Z", "20210101000000Z", {1});
    AddHolder("20300101000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_FALSE(CertThere(0xCA));
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(AllThere(4));
}

// The public keys live in the certificates only: each red certificate goes
// with its private key, in one run.
TEST_F(RemovalTokenContentsTest, TokenWithoutPublicKeyObjects)
{
    AddHolder("20200101000000Z", "20210101000000Z", {1}, kSigning);
    AddHolder("20200101000200Z", "20210101000000Z", {2}, kEncryption);
    AddHolder("20300101000000Z", "20400101000000Z", {4});
    for (unsigned char id : {1, 2, 4})
        Token().Destroy(CKO_PUBLIC_KEY, {id});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    for (unsigned char id : {1, 2})
        EXPECT_TRUE(!CertThere(id) && !PrivThere(id)) << int(id);
    EXPECT_TRUE(CertThere(4) && PrivThere(4));
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 4u);
}

// Another RSA pair under the expired certificate's ID, which the module
// hands out first: the certificate's own pair goes, the other stays.
TEST_F(RemovalTokenContentsTest, SecondKeyPairUnderTheIdIsNotTheCertificates)
{
    Sim().SetFindOrder(ETokenSimFindOrder::Label);
    const Bytes other = Token().GenerateKeyPair({5}, 1024, "a-waiting");
    AddHolder("20200101000000Z", "20210101000000Z", {5}, {}, "CA1", Token().GenerateKeyPair({5}, 1024, "b-own"));
    AddHolder("20300101000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_FALSE(CertThere(5));
    std::vector<std::string> keysLeft;
    for (const auto& object : Token().Objects()) {
        if (object.id == Bytes{5})
            keysLeft.push_back(object.label);
    }
    EXPECT_EQ(keysLeft, (std::vector<std::string>{"a-waiting", "a-waiting"}));
    EXPECT_TRUE(AllThere(4));
}

// Two EC private keys under the ID, neither telling its public key: which
// one is the certificate's cannot be known, so the whole record stays, and
// no later record is tried.
TEST_F(RemovalTokenContentsTest, KeysThatCannotBeToldApartLeaveTheRecordWhole)
{
    AddHolder("20200101000000Z", "20210101000000Z", {6}, {}, "CA1", Token().GenerateEcKeyPair({6}));
    Token().GenerateEcKeyPair({6});
    AddHolder("20200201000000Z", "20210101000000Z", {1});
    AddHolder("20300101000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kFindPrivKeyFailed}));
    EXPECT_TRUE(CertThere(6));
    EXPECT_EQ(Token().Count(CKO_PUBLIC_KEY, {6}), 2u);
    EXPECT_EQ(Token().Count(CKO_PRIVATE_KEY, {6}), 2u);
    EXPECT_TRUE(AllThere(1));
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
}

// People of one organisation, or namesakes of two countries, share a
// display name: only a renewal of the same subject makes a certificate red.
TEST_F(RemovalTokenContentsTest, SharedDisplayNameOfAnotherSubjectIsKept)
{
    using SField = std::pair<const char*, const char*>;
    struct SHolder {
        unsigned char id;
        std::vector<SField> subject;
        const char* notBefore;
    };
    const SHolder holders[] = {
        {1, {{"CN", "Dave"}, {"O", "QA Org"}}, "20300101000000Z"},
        {2, {{"CN", "Frank"}, {"O", "QA Org"}}, "20300201000000Z"},  // "QA Org ID" both
        {3, {{"C", "US"}, {"O", "Acme"}, {"CN", "Kim"}}, "20300101000100Z"},
        {4, {{"C", "CN"}, {"O", "Acme"}, {"CN", "Kim"}}, "20300201000100Z"},
        {5, {{"C", "CN"}, {"O", "Beta"}, {"CN", "Lee"}}, "20300101000200Z"},
        {6, {{"C", "CN"}, {"O", "Beta"}, {"OU", "Sales"}, {"CN", "Lee"}}, "20300201000200Z"},
        {7, {{"C", "CN"}, {"O", "Acme"}, {"CN", "Holder"}}, "20300101000300Z"},
        {8, {{"C", "CN"}, {"O", "Acme"}, {"CN", "Holder"}}, "20300201000300Z"},  // renews 7
    };
    for (const SHolder& h : holders) {
        CTestCertificate cert;
        for (const SField& field : h.subject)
            cert.Add(field.first, field.second);
        cert.IssuedBy("CA1").NotBefore(h.notBefore).NotAfter("20400101000000Z");
        Token().ImportCertificate(cert.PublicKey(Token().GenerateKeyPair({h.id})).Der(), {h.id}, "holder");
    }
    Start();
    ASSERT_EQ(Rows().size(), 8u);
    EXPECT_EQ(RedNames(), (std::vector<std::string>{"Holder's Acme ID"}));
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(7));
    for (unsigned char id : {1, 2, 3, 4, 5, 6, 8})
        EXPECT_TRUE(AllThere(id)) << int(id);
}
