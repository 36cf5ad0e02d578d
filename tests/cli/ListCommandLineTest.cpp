#include "CListProgramTest.h"
#include "CSimulatedToken.h"
#include "CSoftHsmToken.h"
#include "P11KitProxy.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <set>
#include <tuple>

using testsupport::Bytes;
using testsupport::CSoftHsmToken;
using testsupport::CTestCertificate;

namespace {

constexpr const char* kNotAModule = CERTPURGE_NOT_A_MODULE;

class ListCommandLineTest : public CListProgramTest {
protected:
    void AddCert(const std::string& cn, const std::string& from, const std::string& to, const Bytes& id)
    {
        m_token.ImportCertificate(
            CTestCertificate().Add("C", "CN").Add("O", "某公司").Add("CN", cn).NotBefore(from).NotAfter(to).Der(), id);
    }
};

}  // namespace

TEST_F(ListCommandLineTest, HelpAndVersion)
{
    EXPECT_EQ(Run({"--help"}), 0);
    EXPECT_EQ(m_run.Out().rfind("usage: certpurge-list [--module PATH] [--token URI] [--list-tokens | --plan] [--format tsv|json] [--verbose]\n", 0), 0u) << m_run.Out();
    EXPECT_NE(m_run.Out().find("3 no token present"), std::string::npos);
    EXPECT_EQ(m_run.Err(), "");

    EXPECT_EQ(Run({"--version"}), 0);
    EXPECT_EQ(m_run.Out(), "certpurge-list " CERTPURGE_VERSION "\n");
    EXPECT_EQ(m_run.Err(), "");
}

// Nothing is listed, not even with a token there: status 2 and the usage line.
TEST_F(ListCommandLineTest, UsageErrorsExitWithTwo)
{
    AddCert("a", "20200101000000Z", "20990101000000Z", {1});
    LinkDefault(m_token.ModulePath());
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--bogus"}, {"extra"}, {"-x"}, {"--format", "xml"}, {"--format"},
                                               {"--module"}, {"--module="}, {"--"}, {"--help", "--bogus"},
                                               {"--plan", "--list-tokens"}}) {
        SCOPED_TRACE(args.front() + (args.size() > 1 ? " " + args[1] : ""));
        EXPECT_EQ(Run(args), 2);
        EXPECT_EQ(m_run.Out(), "");
        EXPECT_EQ(m_run.LastErrLine(), "usage: certpurge-list [--module PATH] [--token URI] [--list-tokens | --plan] [--format tsv|json] [--verbose]");
        EXPECT_EQ(m_run.Err().rfind("certpurge-list: ", 0), 0u) << m_run.Err();
    }
}

// The option wins over the variable, the variable over the file beside the
// program; an empty variable counts as unset.
TEST_F(ListCommandLineTest, ModuleChoiceOrder)
{
    AddCert("a", "20200101000000Z", "20990101000000Z", {1});
    const std::string row = "20200101000000\t20990101000000\t0\ta's 某公司 ID\n";

    EXPECT_EQ(Run({"--module", m_token.ModulePath()}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), row);
    EXPECT_EQ(Run({"--module=" + m_token.ModulePath()}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), row);

    LinkDefault(kNotAModule);
    m_run.Set("CERTPURGE_MODULE", m_token.ModulePath());
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), row);

    m_run.Set("CERTPURGE_MODULE", kNotAModule);
    EXPECT_EQ(Run({"--module", m_token.ModulePath()}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), row);

    m_run.Set("CERTPURGE_MODULE", "");
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(m_run.Err().find("qemva_11.dll"), std::string::npos) << m_run.Err();
}

TEST_F(ListCommandLineTest, LoadFailuresGiveTheReason)
{
    const std::string missing = m_token.Folder().File("no-such-module.so");
    EXPECT_EQ(Run({"--module", missing}), 1);
    EXPECT_EQ(m_run.Err(), "加载Ulda动态库失败\ncertpurge-list: " + missing +
                               ": cannot open shared object file: No such file or directory\n" + kChooseHintLine);

    EXPECT_EQ(Run({"--module", kNotAModule}), 1);
    EXPECT_EQ(m_run.Err(), std::string("加载Ulda动态库失败\ncertpurge-list: no C_GetFunctionList in ") + kNotAModule +
                               "\n" + kChooseHintLine);

    // A bare name is looked for beside the program first; the reason names the file found.
    LinkDefault(kNotAModule);
    EXPECT_EQ(Run(), 1);
    EXPECT_NE(m_run.Err().find("\ncertpurge-list: no C_GetFunctionList in " + m_strBin + "/qemva_11.dll\n"),
              std::string::npos) << m_run.Err();

    EXPECT_EQ(Run({"--module", CERTPURGE_REFUSING_MODULE}), 1);
    EXPECT_EQ(m_run.Err(), std::string("加载Ulda动态库失败\ncertpurge-list: C_GetFunctionList returned CKR_HOST_MEMORY\n") +
                               kChooseHintLine);
}

// Also for the module's answers whose values equal results of the
// program's own: CKR_CANCEL is 1, CKR_HOST_MEMORY 2. The module was found:
// no other is to be chosen.
TEST_F(ListCommandLineTest, RefusedInitialisationGivesTheReason)
{
    testsupport::CSimulatedToken sim;
    for (const std::string rv : {"CKR_DEVICE_ERROR", "CKR_CANCEL", "CKR_HOST_MEMORY"}) {
        sim.Control().ClearFaults();
        sim.Control().AddFault("C_Initialize:*:" + rv);
        EXPECT_EQ(Run({"--module", testsupport::CSimulatedToken::ModulePath()}), 1);
        EXPECT_EQ(m_run.Err(), "加载Ulda动态库失败\ncertpurge-list: C_Initialize returned " + rv +
                                   "\ncertpurge-list: The module was found but did not start (" + rv +
                                   "): check that the service or device it relies on is running.\n");
    }
}

// Quiet by default; --verbose says which call failed with which code, and
// what the list holds.
TEST_F(ListCommandLineTest, VerboseSaysWhichCallFailed)
{
    testsupport::CSimulatedToken sim;
    sim.SoftHsm().ImportCertificate(
        CTestCertificate().Add("C", "CN").Add("CN", "a").NotBefore("20200101000000Z").NotAfter("20990101000000Z").Der(), {1});
    sim.Control().AddFault("C_OpenSession:*:CKR_TOKEN_NOT_RECOGNIZED");
    const std::string module = testsupport::CSimulatedToken::ModulePath();
    EXPECT_EQ(Run({"--module", module}), 1);
    EXPECT_EQ(m_run.Err(), "与Ulda通信失败!\n");
    EXPECT_EQ(Run({"--module", module, "--verbose"}), 1);
    const std::string failed = "certpurge.token: OpenSession: C_OpenSession on slot " + std::to_string(sim.Slot()) +
                               " failed: CKR_TOKEN_NOT_RECOGNIZED\n";
    EXPECT_NE(m_run.Err().find(failed), std::string::npos) << m_run.Err();
    EXPECT_EQ(m_run.LastErrLine(), "与Ulda通信失败!");

    sim.Control().ClearFaults();
    EXPECT_EQ(Run({"--module", module, "--verbose"}), 0);
    EXPECT_EQ(m_run.Out(), "20200101000000\t20990101000000\t0\ta's \n");
    EXPECT_NE(m_run.Err().find("certpurge.list: id 01 'a's ' issued 20200101000000 expires 20990101000000, general, "
                               "issuer 'C=CN, CN=a'\n"),
              std::string::npos)
        << m_run.Err();
}

TEST_F(ListCommandLineTest, NoTokenExitsWithThreeInEitherFormat)
{
    testsupport::CSimulatedToken sim;
    sim.SoftHsm().ImportCertificate(CTestCertificate().Add("CN", "x").Der(), {1});
    sim.Control().Remove(sim.Slot());
    for (const char* format : {"tsv", "json"}) {
        EXPECT_EQ(Run({"--module", testsupport::CSimulatedToken::ModulePath(), "--format", format}), 3) << format;
        EXPECT_EQ(m_run.Out(), "");
        EXPECT_EQ(m_run.Err(), "");
    }
}

TEST_F(ListCommandLineTest, JsonCarriesEveryFieldAndParsesBack)
{
    AddCert("张三", "20200101000000Z", "20990101000000Z", {0x00, 0xAB});  // superseded by the next
    AddCert("张三", "20300102030405Z", "20990101000000Z", {0x02});
    AddCert("Old", "20100101000000Z", "20110101000000Z", {0x0F, 0x10});  // expired
    AddCert("tab\there\x1b[2J", "20250101000000Z", "20990101000000Z", {});
    ASSERT_EQ(Run({"--module", m_token.ModulePath(), "--format", "json"}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Err(), "");

    nlohmann::json list = nlohmann::json::parse(m_run.Out());
    ASSERT_TRUE(list.is_array());
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0], nlohmann::json({{"issued", "2010-01-01T00:00:00Z"}, {"expires", "2011-01-01T00:00:00Z"},
                                       {"marked", true}, {"reason", "expired"}, {"name", "Old's 某公司 ID"},
                                       {"id", "0f10"}, {"key", "ec"},  // the test maker's own P-256 key
                                       {"use", "general"}, {"issuer", "C=CN, O=某公司, CN=Old"}}));
    EXPECT_EQ(list[1]["reason"], "superseded");
    EXPECT_EQ(list[1]["marked"], true);
    EXPECT_EQ(list[1]["id"], "00ab");
    EXPECT_EQ(list[1]["name"], "张三's 某公司 ID");
    EXPECT_EQ(list[2]["name"], "tab\there\x1b[2J's 某公司 ID");  // the name itself, escaped by JSON only
    EXPECT_EQ(list[2]["id"], "");
    EXPECT_EQ(list[2]["reason"], nullptr);
    EXPECT_EQ(list[3]["issued"], "2030-01-02T03:04:05Z");
    EXPECT_EQ(list[3]["marked"], false);
    EXPECT_EQ(list[3]["reason"], nullptr);
    // Control bytes never reach the terminal as they are.
    EXPECT_EQ(m_run.Out().find('\x1b'), std::string::npos);
}

TEST_F(ListCommandLineTest, JsonNamesEachCertificatesKeyUseAndIssuer)
{
    m_token.ImportCertificate(CTestCertificate().Add("CN", "ec").PublicKey(m_token.GenerateEcKeyPair({1}, "secp384r1"))
                                  .KeyUsage("critical,digitalSignature").IssuedBy("某CA").Der(), {1});
    m_token.ImportCertificate(CTestCertificate().Add("CN", "ed").PublicKey(m_token.GenerateEdKeyPair({2}))
                                  .KeyUsage("keyAgreement").IssuedBy("CA2").Der(), {2});
    m_token.ImportCertificate(CTestCertificate().Add("CN", "rsa").PublicKey(m_token.GenerateKeyPair({3}))
                                  .KeyUsage("nonRepudiation,dataEncipherment").Der(), {3});
    ASSERT_EQ(Run({"--module", m_token.ModulePath(), "--format", "json"}), 0) << m_run.Err();
    std::set<std::tuple<std::string, std::string, std::string>> records;
    for (const auto& record : nlohmann::json::parse(m_run.Out()))
        records.emplace(record["key"], record["use"], record["issuer"]);
    EXPECT_EQ(records, (std::set<std::tuple<std::string, std::string, std::string>>{
                           {"ec", "signing", "C=CN, O=某CA, CN=某CA"},
                           {"ed25519", "encryption", "C=CN, O=CA2, CN=CA2"},
                           {"rsa", "general", "CN=rsa"}}));
}

TEST_F(ListCommandLineTest, JsonOfAnEmptyTokenIsAnEmptyArray)
{
    EXPECT_EQ(Run({"--format=json", "--module", m_token.ModulePath()}), 0) << m_run.Err();
    EXPECT_EQ(nlohmann::json::parse(m_run.Out()), nlohmann::json::array());
}

// p11-kit's proxy reaches SoftHSM2 as Debian registers it, and SoftHSM2
// follows SOFTHSM2_CONF to this test's token.
TEST_F(ListCommandLineTest, P11KitProxyReachesTheRegisteredSoftHsm)
{
    if (!testsupport::P11KitProxyReachesSoftHsm())
        GTEST_SKIP() << "p11-kit's proxy or SoftHSM2's registration is missing";
    AddCert("a", "20200101000000Z", "20990101000000Z", {1});
    EXPECT_EQ(Run({"--module", testsupport::kP11KitProxy}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), "20200101000000\t20990101000000\t0\ta's 某公司 ID\n");
}
