#include "CSimulatedToken.h"
#include "CSoftHsmToken.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

using testsupport::CSoftHsmToken;
using testsupport::CTestCertificate;

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// certpurge-list copied into a folder of its own, with or without a
// "qemva_11.dll" beside it.
class CertPurgeListTest : public ::testing::Test {
protected:
    CertPurgeListTest() : m_strBin(m_token.Folder().File("bin"))
    {
        std::filesystem::create_directory(m_strBin);
        std::filesystem::copy_file(CERTPURGE_LIST_BINARY, m_strBin + "/certpurge-list");
        std::filesystem::permissions(m_strBin + "/certpurge-list", std::filesystem::perms::owner_exec,
                                     std::filesystem::perm_options::add);
    }

    void LinkModule(const std::string& target)
    {
        std::filesystem::create_symlink(target, m_strBin + "/qemva_11.dll");
    }

    int Run()
    {
        std::string cmd = "cd / && '" + m_strBin + "/certpurge-list' >'" + m_strBin + "/out' 2>'" + m_strBin + "/err'";
        int status = std::system(cmd.c_str());
        m_strOut = ReadFile(m_strBin + "/out");
        m_strErr = ReadFile(m_strBin + "/err");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    CSoftHsmToken m_token;
    std::string m_strBin;
    std::string m_strOut;
    std::string m_strErr;
};

}  // namespace

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
    LinkModule(m_token.ModulePath());
    EXPECT_EQ(Run(), 0) << m_strErr;
    EXPECT_EQ(m_strErr, "");
    EXPECT_EQ(m_strOut,
              "20100101000000\t20110101000000\t1\tOld's \n"
              "20200101000000\t20990101000000\t1\t张三's 某公司 ID\n"
              "20300102030405\t20990101000000\t0\t张三's 某公司 ID\n");
}

TEST_F(CertPurgeListTest, OneLinePerRecordWhateverTheName)
{
    m_token.ImportCertificate(CTestCertificate().Add("C", "CN").Add("CN", "two\nlines\tand\\").NotAfter("20990101000000Z").Der(), {1});
    LinkModule(m_token.ModulePath());
    EXPECT_EQ(Run(), 0) << m_strErr;
    EXPECT_NE(m_strOut.find("\t\"two\\nlines\\tand\\\\\"'s \n"), std::string::npos) << m_strOut;
    EXPECT_EQ(std::count(m_strOut.begin(), m_strOut.end(), '\n'), 1);
}

TEST_F(CertPurgeListTest, ControlBytesNeverReachTheTerminal)
{
    // A subject rewriting the screen: clear it, ring, and a DEL.
    m_token.ImportCertificate(
        CTestCertificate().Add("C", "CN").Add("CN", "a\x1b[2Jb\x07" "c\x7f" "\x01" "d").NotAfter("20990101000000Z").Der(), {1});
    LinkModule(m_token.ModulePath());
    EXPECT_EQ(Run(), 0) << m_strErr;
    EXPECT_NE(m_strOut.find("\ta\\x1B[2Jb\\x07c\\x7F\\x01d's \n"), std::string::npos) << m_strOut;
    for (char c : m_strOut)
        EXPECT_TRUE(c == '\t' || c == '\n' || (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)) << int(c);
}

TEST_F(CertPurgeListTest, EmptyTokenPrintsNothing)
{
    LinkModule(m_token.ModulePath());
    EXPECT_EQ(Run(), 0) << m_strErr;
    EXPECT_EQ(m_strOut, "");
    EXPECT_EQ(m_strErr, "");
}

TEST_F(CertPurgeListTest, NoTokenPrintsNothing)
{
    testsupport::CSimulatedToken sim;
    sim.SoftHsm().ImportCertificate(CTestCertificate().Add("CN", "x").Der(), {1});
    sim.Control().Remove(sim.Slot());
    LinkModule(testsupport::CSimulatedToken::ModulePath());
    EXPECT_EQ(Run(), 3) << m_strErr;  // no token present
    EXPECT_EQ(m_strOut, "");
    EXPECT_EQ(m_strErr, "");

    sim.Control().Insert(sim.Slot());
    sim.Control().AddFault("C_OpenSession:*:CKR_DEVICE_ERROR");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(m_strErr, "与Ulda通信失败!\n");
}

TEST_F(CertPurgeListTest, MissingModuleIsReportedWithTheWindowsText)
{
    EXPECT_NE(Run(), 0);
    EXPECT_EQ(m_strOut, "");
    EXPECT_EQ(m_strErr.rfind("加载Ulda动态库失败\n", 0), 0u) << m_strErr;
}

TEST_F(CertPurgeListTest, ModuleThatIsNoPkcs11LibraryIsReported)
{
    LinkModule("/lib/x86_64-linux-gnu/libm.so.6");
    EXPECT_NE(Run(), 0);
    EXPECT_EQ(m_strErr.rfind("加载Ulda动态库失败\n", 0), 0u) << m_strErr;
}
