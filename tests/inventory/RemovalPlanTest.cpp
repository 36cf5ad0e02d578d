// The plan of a removal, read on SoftHSM2 without a login: what goes with
// each red certificate, as the confirmation's details tell it.
#include "CSoftHsmToken.h"
#include "inventory/CRemovalPlan.h"
#include "inventory/ScanToken.h"
#include "platform/CFixedClock.h"

#include <gtest/gtest.h>

using testsupport::Bytes;
using testsupport::CSoftHsmToken;
using testsupport::CTestCertificate;

namespace {

// 2030-06-15 12:00:00 UTC
constexpr std::time_t kPlanNow = 1907755200;

class RemovalPlanTest : public ::testing::Test {
protected:
    static CTestCertificate Cert(const std::string& cn, const std::string& issued, const std::string& expires,
                                 const std::string& usage = "digitalSignature")
    {
        CTestCertificate cert;
        cert.Add("C", "CN").Add("O", "Acme").Add("CN", cn).NotBefore(issued).NotAfter(expires);
        if (!usage.empty())
            cert.KeyUsage(usage);
        return cert;
    }

    void Scan()
    {
        ASSERT_EQ(ScanToken(m_module, m_token.ModulePath().c_str(), m_table, m_clock), ScanResult::Scanned);
        ASSERT_EQ(m_plan.Read(m_module, m_table), CKR_OK);
    }

    CSoftHsmToken m_token;
    CTokenModule m_module;
    CertTable m_table;
    CFixedClock m_clock{kPlanNow};
    CRemovalPlan m_plan;
};

}  // namespace

// An expired certificate with its pair, one without ID, an expired
// encryption certificate, one whose pair is not there, and a renewal that
// kept its predecessor's pair; the valid certificates are not in the plan.
TEST_F(RemovalPlanTest, TellsWhatGoesWithEachRedCertificateInTableOrder)
{
    m_token.AddCertificateWithKeys(Cert("Exp", "20200101000000Z", "20210101000000Z"), {1});
    m_token.ImportCertificate(Cert("NoId", "20200201000000Z", "20210101000000Z", "").Der(), {});
    m_token.ImportCertificate(Cert("Bare", "20200301000000Z", "20210101000000Z").Der(), {6});
    m_token.AddCertificateWithKeys(Cert("Enc", "20200401000000Z", "20210101000000Z", "keyEncipherment"), {4});
    Bytes shared = m_token.GenerateKeyPair({2});
    m_token.ImportCertificate(Cert("Dup", "20300101000000Z", "20400101000000Z").PublicKey(shared).Der(), {2});
    m_token.ImportCertificate(Cert("Dup", "20300201000000Z", "20400101000000Z").PublicKey(shared).Der(), {2});
    m_token.AddCertificateWithKeys(Cert("Val", "20300301000000Z", "20400101000000Z", "keyEncipherment"), {5});
    Scan();

    EXPECT_EQ(m_plan.Details(),
              "To be deleted, in the list's order, as the token shows it before the PIN:\n"
              "\n"
              "1. Exp's Acme ID\n"
              "   issued 2020-01-01 00:00:00 UTC, expires 2021-01-01 00:00:00 UTC\n"
              "   red: expired\n"
              "   goes with it: its key pair (found by ID; matched after the PIN); its public key is on the token\n"
              "\n"
              "2. NoId's Acme ID\n"
              "   issued 2020-02-01 00:00:00 UTC, expires 2021-01-01 00:00:00 UTC\n"
              "   red: expired\n"
              "   no ID: keys kept\n"
              "\n"
              "3. Bare's Acme ID\n"
              "   issued 2020-03-01 00:00:00 UTC, expires 2021-01-01 00:00:00 UTC\n"
              "   red: expired\n"
              "   goes with it: its key pair (found by ID; matched after the PIN); no public key of it seen before "
              "the PIN\n"
              "\n"
              "4. Enc's Acme ID\n"
              "   issued 2020-04-01 00:00:00 UTC, expires 2021-01-01 00:00:00 UTC\n"
              "   red: expired\n"
              "   goes with it: its key pair (found by ID; matched after the PIN); its public key is on the token\n"
              "   decrypts: once its private key is deleted, files and mail encrypted to it can no longer be "
              "decrypted\n"
              "\n"
              "5. Dup's Acme ID\n"
              "   issued 2030-01-01 00:00:00 UTC, expires 2040-01-01 00:00:00 UTC\n"
              "   red: superseded by the certificate issued on 2030-02-01 00:00:00 UTC\n"
              "   keys kept: Dup's Acme ID (issued 2030-02-01 00:00:00 UTC, expires 2040-01-01 00:00:00 UTC) uses "
              "them\n");
    EXPECT_TRUE(m_plan.AnyDecryptionKeyGoes());
    // The certificate without ID could decrypt, but its keys stay.
    ASSERT_EQ(m_plan.Items().size(), 5u);
    EXPECT_TRUE(m_plan.Items()[1].bCanDecrypt);
    EXPECT_FALSE(m_plan.Items()[1].DecryptionKeyGoes());
}

// Without a certificate that decrypts and loses its key, no warning is due:
// a signing certificate's pair goes, a renewed encryption certificate's stays.
TEST_F(RemovalPlanTest, NoWarningWhenNoDecryptionKeyGoes)
{
    m_token.AddCertificateWithKeys(Cert("Sig", "20200101000000Z", "20210101000000Z"), {1});
    Bytes shared = m_token.GenerateKeyPair({2});
    for (const char* issued : {"20300101000000Z", "20300201000000Z"})
        m_token.ImportCertificate(Cert("Enc", issued, "20400101000000Z", "keyEncipherment").PublicKey(shared).Der(), {2});
    Scan();
    ASSERT_EQ(m_plan.Items().size(), 2u);
    EXPECT_EQ(m_plan.Items()[0].eKeys, CRemovalPlan::EKeys::Goes);
    EXPECT_EQ(m_plan.Items()[1].eKeys, CRemovalPlan::EKeys::Kept);
    EXPECT_TRUE(m_plan.Items()[1].bCanDecrypt);
    EXPECT_FALSE(m_plan.AnyDecryptionKeyGoes());
}
