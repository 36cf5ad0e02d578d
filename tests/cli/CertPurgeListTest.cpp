#include "CListProgramTest.h"
#include "CSimulatedToken.h"

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
    LinkDefault("/lib/x86_64-linux-gnu/libm.so.6");
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
