#include "CListProgramTest.h"
#include "CSimulatedToken.h"

#include <nlohmann/json.hpp>

using testsupport::CSoftHsmToken;
using testsupport::CTestCertificate;

using CertPurgeListTest = CListProgramTest;

TEST_F(CertPurgeListTest, PrintsTheTableInOrder)
{
    m_token.ImportCertificate(CTestCertificate()
                                  .Add("C", "CN")
                                  .Add("O", "某公司")
                                  .Add("CN", "张三")
                                  .NotBefore("20300102030405Z")
                                  .NotAfter("20990101000000Z")
                                  .Der(),
                              {2});
    m_token.ImportCertificate(CTestCertificate()
                                  .Add("C", "CN")
                                  .Add("O", "某公司")
                                  .Add("CN", "张三")
                                  .NotBefore("20200101000000Z")
                                  .NotAfter("20990101000000Z")
                                  .Der(),
                              {1});
    m_token.ImportCertificate(CTestCertificate()
                                  .Add("C", "CN")
                                  .Add("CN", "Old")
                                  .NotBefore("20100101000000Z")
                                  .NotAfter("20110101000000Z")
                                  .Der(),
                              {3});
    LinkDefault(m_token.ModulePath());
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Err(), "");
    EXPECT_EQ(m_run.Out(),
              "20100101000000\t20110101000000\t1\tOld's \n"
              "20200101000000\t20990101000000\t1\t张三's 某公司 ID\n"
              "20300102030405\t20990101000000\t0\t张三's 某公司 ID\n");
}

TEST_F(CertPurgeListTest, OneLinePerRecordWhateverTheName)
{
    m_token.ImportCertificate(CTestCertificate().Add("C", "CN").Add("CN", "two\nlines\tand\\").NotAfter("20990101000000Z").Der(), {1});
    LinkDefault(m_token.ModulePath());
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_NE(m_run.Out().find("\t\"two\\nlines\\tand\\\\\"'s \n"), std::string::npos) << m_run.Out();
    EXPECT_EQ(std::count(m_run.Out().begin(), m_run.Out().end(), '\n'), 1);
}

TEST_F(CertPurgeListTest, ControlBytesNeverReachTheTerminal)
{
    // A subject rewriting the screen: clear it, ring, and a DEL; a C1 CSI
    // (U+009B) and a right-to-left override (U+202E) turning "exe.jpg" round.
    m_token.ImportCertificate(CTestCertificate()
                                  .Add("C", "CN")
                                  .Add("CN", "a\x1b[2Jb\x07" "c\x7f" "\x01" "d\xC2\x9B" "31m\xE2\x80\xAE" "gpj.exe")
                                  .NotAfter("20990101000000Z")
                                  .Der(),
                              {1});
    LinkDefault(m_token.ModulePath());
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_NE(m_run.Out().find("\ta\\x1B[2Jb\\x07c\\x7F\\x01d\\u009B31m\\u202Egpj.exe's \n"), std::string::npos)
        << m_run.Out();
    for (char c : m_run.Out())
        EXPECT_TRUE(c == '\t' || c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)) << int(c);

    EXPECT_EQ(Run({"--format", "json"}), 0) << m_run.Err();
    EXPECT_NE(m_run.Out().find("d\\u009b31m\\u202egpj.exe's "), std::string::npos) << m_run.Out();
}

TEST_F(CertPurgeListTest, EmptyTokenPrintsNothing)
{
    LinkDefault(m_token.ModulePath());
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), "");
    EXPECT_EQ(m_run.Err(), "");
}

TEST_F(CertPurgeListTest, NoTokenPrintsNothing)
{
    testsupport::CSimulatedToken sim;
    sim.SoftHsm().ImportCertificate(CTestCertificate().Add("CN", "x").Der(), {1});
    sim.Control().Remove(sim.Slot());
    LinkDefault(testsupport::CSimulatedToken::ModulePath());
    EXPECT_EQ(Run(), 3) << m_run.Err();  // no token present
    EXPECT_EQ(m_run.Out(), "");
    EXPECT_EQ(m_run.Err(), "");

    sim.Control().Insert(sim.Slot());
    sim.Control().AddFault("C_OpenSession:*:CKR_DEVICE_ERROR");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(m_run.Err(), "与Ulda通信失败!\n");
}

TEST_F(CertPurgeListTest, ModuleThatIsNoPkcs11LibraryIsReported)
{
    LinkDefault(CERTPURGE_NOT_A_MODULE);
    EXPECT_NE(Run(), 0);
    EXPECT_EQ(m_run.Err().rfind("加载Ulda动态库失败\n", 0), 0u) << m_run.Err();
}

// A script sees a locked PIN, a last try and a keypad before anyone spends
// a PIN on the token.
TEST_F(CertPurgeListTest, TokensShowTheirPinState)
{
    testsupport::CSimulatedToken sim;
    LinkDefault(testsupport::CSimulatedToken::ModulePath());
    ASSERT_EQ(Run({"--list-tokens"}), 0) << m_run.Err();
    EXPECT_NE(m_run.Out().find("\tinitialised\t-\t"), std::string::npos) << m_run.Out();

    sim.Control().SetTokenFlags(sim.Slot(), CKF_USER_PIN_LOCKED | CKF_PROTECTED_AUTHENTICATION_PATH);
    ASSERT_EQ(Run({"--list-tokens"}), 0) << m_run.Err();
    EXPECT_NE(m_run.Out().find("\tinitialised\tpin-locked,keypad\t"), std::string::npos) << m_run.Out();
    sim.Control().SetTokenFlags(sim.Slot(), CKF_USER_PIN_FINAL_TRY);
    ASSERT_EQ(Run({"--list-tokens", "--format", "json"}), 0) << m_run.Err();
    EXPECT_NE(m_run.Out().find("\"pin_state\": [\n      \"pin-final-try\"\n    ]"), std::string::npos) << m_run.Out();
}

// What a removal would delete, read without a PIN: an expired certificate
// with its pair, one without ID, an expired encryption certificate, and a
// renewal that kept its predecessor's pair; the valid ones are not listed.
TEST_F(CertPurgeListTest, PlanTellsWhatGoesWithEachRedCertificate)
{
    auto cert = [](const std::string& cn, const std::string& issued, const std::string& expires,
                   const std::string& usage) {
        CTestCertificate c;
        c.Add("C", "CN").Add("O", "Acme").Add("CN", cn).NotBefore(issued).NotAfter(expires);
        if (!usage.empty())
            c.KeyUsage(usage);
        return c;
    };
    m_token.AddCertificateWithKeys(cert("Exp", "20200101000000Z", "20210101000000Z", "digitalSignature"), {1});
    m_token.ImportCertificate(cert("NoId", "20200201000000Z", "20210101000000Z", "").Der(), {});
    m_token.AddCertificateWithKeys(cert("Enc", "20200301000000Z", "20210101000000Z", "keyEncipherment"), {4});
    const testsupport::Bytes shared = m_token.GenerateKeyPair({2});
    for (const char* issued : {"20220101000000Z", "20220201000000Z"}) {
        CTestCertificate renewal = cert("Dup", issued, "20990101000000Z", "digitalSignature");
        m_token.ImportCertificate(renewal.PublicKey(shared).Der(), {2});
    }
    m_token.AddCertificateWithKeys(cert("Val", "20220301000000Z", "20990101000000Z", "keyEncipherment"), {5});
    LinkDefault(m_token.ModulePath());

    ASSERT_EQ(Run({"--plan"}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Err(), "");
    const std::string pair = "its key pair (found by ID; matched after the PIN); its public key is on the token";
    EXPECT_EQ(m_run.Out(),
              "20200101000000\t20210101000000\texpired\tgoes\tfalse\tExp's Acme ID\t" + pair + "\n" +
                  "20200201000000\t20210101000000\texpired\tnone\ttrue\tNoId's Acme ID\tno ID: keys kept\n" +
                  "20200301000000\t20210101000000\texpired\tgoes\ttrue\tEnc's Acme ID\t" + pair + "\n" +
                  "20220101000000\t20990101000000\tsuperseded\tkept\tfalse\tDup's Acme ID\tkeys kept: Dup's Acme ID "
                  "(issued 2022-02-01 00:00:00 UTC, expires 2099-01-01 00:00:00 UTC) uses them\n");

    ASSERT_EQ(Run({"--plan", "--format", "json"}), 0) << m_run.Err();
    const nlohmann::json plan = nlohmann::json::parse(m_run.Out());
    ASSERT_EQ(plan.size(), 4u) << m_run.Out();
    EXPECT_EQ(plan[0], nlohmann::json({{"issued", "2020-01-01T00:00:00Z"}, {"expires", "2021-01-01T00:00:00Z"},
                                       {"name", "Exp's Acme ID"}, {"id", "01"}, {"expired", true},
                                       {"superseded_by", nullptr}, {"keys", "goes"}, {"keys_reason", nullptr},
                                       {"kept_by", nullptr}, {"public_key", "seen"}, {"decrypts", false}}));
    EXPECT_EQ(plan[1]["keys"], "none");
    EXPECT_EQ(plan[1]["keys_reason"], "no ID: keys kept");
    EXPECT_EQ(plan[1]["id"], "");
    EXPECT_EQ(plan[2]["keys"], "goes");
    EXPECT_EQ(plan[2]["decrypts"], true);
    EXPECT_EQ(plan[3]["keys"], "kept");
    EXPECT_EQ(plan[3]["superseded_by"], "2022-02-01T00:00:00Z");
    EXPECT_EQ(plan[3]["kept_by"], nlohmann::json({{"name", "Dup's Acme ID"},
                                                  {"issued", "2022-02-01T00:00:00Z"},
                                                  {"expires", "2099-01-01T00:00:00Z"}}));
    EXPECT_EQ(plan[3]["public_key"], nullptr);
}

// A plan the token would not complete is no plan: a script must not read
// the rows before the refusal as all that would go.
TEST_F(CertPurgeListTest, PlanRefusedHalfwayPrintsNothing)
{
    testsupport::CSimulatedToken sim;
    for (unsigned char id : {1, 2}) {
        CTestCertificate old;
        old.Add("C", "CN").Add("CN", "Old").NotBefore("201" + std::to_string(id) + "0101000000Z");
        sim.SoftHsm().AddCertificateWithKeys(old.NotAfter("20210101000000Z"), {id});
    }
    LinkDefault(testsupport::CSimulatedToken::ModulePath());
    // The 1st search finds the certificates, the 2nd and 3rd look under the
    // first red one's ID, the 4th under the second's.
    sim.Control().AddFault("C_FindObjectsInit:4:CKR_DEVICE_ERROR");
    EXPECT_EQ(Run({"--plan"}), 1);
    EXPECT_EQ(m_run.Out(), "");
    EXPECT_EQ(m_run.Err(), "certpurge.removal: the plan: the search for certificates with id 02 refused: "
                           "CKR_DEVICE_ERROR\n查找Ulda证书失败!\n");
}

// Every certificate of a write-protected token is listed, read on a session
// that only reads, past the first ten a search hands out; a renewal handed
// out twelfth marks the one it renews.
TEST_F(CertPurgeListTest, EveryCertificateOfAWriteProtectedTokenIsListed)
{
    testsupport::CSimulatedToken sim;
    sim.Control().SetFindOrder(ETokenSimFindOrder::Label);
    sim.Control().SetTokenFlags(sim.Slot(), CKF_WRITE_PROTECTED);
    auto cert = [](const std::string& cn, const std::string& notBefore) {
        return CTestCertificate().Add("C", "CN").Add("O", "Acme").Add("CN", cn).NotBefore(notBefore)
            .NotAfter("20990101000000Z").Der();
    };
    sim.SoftHsm().ImportCertificate(cert("Ann", "20300101000000Z"), {1}, "A");
    for (unsigned char i = 0; i < 10; ++i)
        sim.SoftHsm().ImportCertificate(cert("N" + std::to_string(i), "2030020" + std::to_string(i % 9 + 1) + "000000Z"),
                                        {static_cast<unsigned char>(i + 2)}, "N" + std::to_string(i));
    sim.SoftHsm().ImportCertificate(cert("Ann", "20300301000000Z"), {12}, "Z");
    LinkDefault(testsupport::CSimulatedToken::ModulePath());
    ASSERT_EQ(Run(), 0) << m_run.Err();
    const std::string& out = m_run.Out();
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 12) << out;
    EXPECT_EQ(out.rfind("20300101000000\t20990101000000\t1\tAnn's Acme ID\n", 0), 0u) << out;
    EXPECT_NE(out.find("\n20300301000000\t20990101000000\t0\tAnn's Acme ID\n"), std::string::npos) << out;
    std::size_t marked = 0;
    for (std::size_t at = out.find("\t1\t"); at != std::string::npos; at = out.find("\t1\t", at + 1))
        ++marked;
    EXPECT_EQ(marked, 1u) << out;
    for (const CTraceRecord& open : sim.Trace().Records("C_OpenSession"))
        EXPECT_EQ(open.Field("flags"), "0x4");

    // Nothing on it would go, red or not.
    for (const char* format : {"tsv", "json"}) {
        ASSERT_EQ(Run({"--plan", "--format", format}), 0) << m_run.Err();
        EXPECT_EQ(m_run.Out(), std::string(format) == "json" ? "[]\n" : "") << format;
        EXPECT_EQ(m_run.Err(), "certpurge-list: the token is write-protected: a removal deletes nothing from it\n");
    }
}
