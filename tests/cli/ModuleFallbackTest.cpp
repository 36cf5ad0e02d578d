#include "CListProgramTest.h"
#include "CSimulatedToken.h"
#include "CTestCertificate.h"
#include "platform/CLibrary.h"
#include "token/CLoadFailure.h"
#include "token/CModuleChoice.h"
#include "token/CTokenModule.h"
#include "tools/tokensim/control/CTokenSimControl.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <unistd.h>

namespace {

constexpr const char* kLoadFailed = "加载Ulda动态库失败";

// No qemva_11.dll anywhere, and p11-kit configured by this user alone, as
// XDG_CONFIG_HOME/pkcs11 tells it: what the proxy reaches is only what the
// test registers there. p11-kit reads no user's configuration in a program
// run as root, so there the program runs as another user of its own user
// namespace (keeping root's access to the files).
class ModuleFallbackTest : public CListProgramTest {
protected:
    void SetUp() override
    {
        if (geteuid() == 0 && m_run.Run("/usr/bin/unshare", {"--user", "--map-user=1000", "true"}) != 0)
            GTEST_SKIP() << "root cannot run the program as another user here: " << m_run.Err();
    }

    int Run(const std::vector<std::string>& args = {})
    {
        if (geteuid() != 0)
            return CListProgramTest::Run(args);
        std::vector<std::string> command{"--user", "--map-user=1000", Program()};
        command.insert(command.end(), args.begin(), args.end());
        return m_run.Run("/usr/bin/unshare", command);
    }

    ModuleFallbackTest() : m_strConfig(m_token.Folder().File("config"))
    {
        std::filesystem::create_directories(m_strConfig + "/pkcs11/modules");
        Write("pkcs11/pkcs11.conf", "user-config: only\n");
        m_run.Set("XDG_CONFIG_HOME", m_strConfig);
        m_token.ImportCertificate(testsupport::CTestCertificate()
                                      .Add("C", "CN").Add("CN", "a").NotBefore("20200101000000Z").NotAfter("20990101000000Z").Der(),
                                  {1});
    }

    void Register(const std::string& name, const std::string& text) { Write("pkcs11/modules/" + name + ".module", text); }

    void Write(const std::string& file, const std::string& text) const
    {
        std::ofstream(m_strConfig + "/" + file) << text;
    }

    std::string m_strConfig;
};

}  // namespace

// The module registered with p11-kit is reached through its proxy, and
// --verbose says so; a qemva_11.dll that is there but broken is reported,
// not passed over.
TEST_F(ModuleFallbackTest, AMissingDefaultGivesWayToTheModulesRegisteredWithP11Kit)
{
    Register("softhsm", "module: " + m_token.ModulePath() + "\n");
    ASSERT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), "20200101000000\t20990101000000\t0\ta's \n");

    ASSERT_EQ(Run({"--verbose"}), 0) << m_run.Err();
    EXPECT_NE(m_run.Err().find("certpurge.token: qemva_11.dll not found; using p11-kit's proxy " CERTPURGE_P11KIT_PROXY
                               ", which loads the modules registered with p11-kit\n"),
              std::string::npos)
        << m_run.Err();

    LinkDefault(CERTPURGE_NOT_A_MODULE);
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(m_run.Err(), std::string(kLoadFailed) + "\ncertpurge-list: no C_GetFunctionList in " + m_strBin +
                               "/qemva_11.dll\n" + kChooseHintLine);
}

// Through the proxy taken in place of the missing default, whatever is
// registered with p11-kit is reached, software and TPM tokens among it:
// only tokens of removable slots are taken, a URI naming any other. Behind
// the simulator, the slot listed first is made fixed, as a software
// token's is; the token of the removable slot after it is listed.
TEST_F(ModuleFallbackTest, ThroughTheProxyOnlyRemovableTokensAreTaken)
{
    const CK_SLOT_ID second = m_token.AddToken("second-token");
    m_token.UseToken(second);
    m_token.ImportCertificate(testsupport::CTestCertificate()
                                  .Add("C", "CN").Add("CN", "b").NotBefore("20200101000000Z").NotAfter("20990101000000Z").Der(),
                              {1});
    const std::string state = m_token.Folder().File("sim.state");
    CTokenSimControl sim(state);
    sim.SetSlotFlags(CSlotSelector::Index(0), 0);
    m_run.Set("TOKENSIM_STATE", state);
    Register("tokensim", "module: " + std::string(testsupport::CSimulatedToken::ModulePath()) + "\n");

    ASSERT_EQ(Run({"--list-tokens"}), 0) << m_run.Err();
    std::vector<std::vector<std::string>> tokens;  // label, slot kind
    std::istringstream lines(m_run.Out());
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, '\t');)
            fields.push_back(cell);
        ASSERT_EQ(fields.size(), 10u) << line;
        tokens.push_back({fields[1], fields[7]});
    }
    ASSERT_EQ(tokens.size(), 2u) << m_run.Out();
    EXPECT_EQ(tokens[0][1], "fixed");
    EXPECT_EQ(tokens[1][1], "removable");
    const std::string fixedRow = tokens[0][0] == "second-token" ? "b" : "a";
    const std::string removableRow = fixedRow == "a" ? "b" : "a";
    auto row = [](const std::string& cn) { return "20200101000000\t20990101000000\t0\t" + cn + "'s \n"; };

    ASSERT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), row(removableRow));
    EXPECT_EQ(m_run.Err(), "");  // one token taken: nothing to choose from

    sim.SetSlotFlags(CSlotSelector::All(), CKF_HW_SLOT);
    EXPECT_EQ(Run({"--verbose"}), 3) << m_run.Err();
    EXPECT_EQ(m_run.Out(), "");
    EXPECT_NE(m_run.Err().find("passed over: not removable"), std::string::npos) << m_run.Err();
    ASSERT_EQ(Run({"--token", "pkcs11:token=" + tokens[0][0]}), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), row(fixedRow));
}

// When the proxy fails too, each file is named with the loader's reason,
// then what to do; the status stays 1.
TEST_F(ModuleFallbackTest, WhenNothingLoadsEachFileTriedIsNamedWithItsReason)
{
    Register("broken", "module: /nonexistent/module.so\ncritical: yes\n");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(m_run.Out(), "");
    const std::string err = m_run.Err();
    EXPECT_EQ(err.rfind(std::string(kLoadFailed) + "\ncertpurge-list: qemva_11.dll: cannot open shared object file: "
                                                    "No such file or directory\ncertpurge-list: " CERTPURGE_P11KIT_PROXY
                                                    ": C_",
                        0),
              0u)
        << err;
    EXPECT_EQ(m_run.LastErrLine() + "\n", kChooseHintLine);
}

// The box's details, built without a window: every file tried with the
// loader's own reason, then how to choose a module. Whether a default
// name was found is read from the loader's message.
TEST(LoadFailureDetailsTest, NameEachFileWithTheLoadersReasonThenTheHint)
{
    const std::string missing = "/nonexistent/qemva_11.dll";
    CTokenModule module;
    CModuleChoice choice;
    ASSERT_FALSE(choice.Load(module, missing));
    ASSERT_EQ(choice.Attempts().size(), 1u);  // a path is never passed over
    EXPECT_EQ(CLoadFailure::Details(choice.Attempts()),
              "Tried:\n  " + missing + ": cannot open shared object file: No such file or directory\n\n" +
                  CLoadFailure::kHint);
    ASSERT_FALSE(choice.Load(module, CERTPURGE_NOT_A_MODULE));
    EXPECT_EQ(CLoadFailure::Details(choice.Attempts()),
              std::string("Tried:\n  no C_GetFunctionList in " CERTPURGE_NOT_A_MODULE "\n\n") + CLoadFailure::kHint);

    const std::vector<CModuleChoice::SAttempt> both{
        {"qemva_11.dll", "qemva_11.dll: cannot open shared object file: No such file or directory"},
        {"/p11-kit-proxy.so", "C_Initialize returned CKR_GENERAL_ERROR"}};
    EXPECT_EQ(CLoadFailure::Details(both),
              std::string("Tried:\n  qemva_11.dll: cannot open shared object file: No such file or directory\n"
                          "  /p11-kit-proxy.so: C_Initialize returned CKR_GENERAL_ERROR\n\n") +
                  CLoadFailure::kHint);
    for (const std::string hint : {"--module", "CERTPURGE_MODULE", "p11-kit", ".module", "~/.config/pkcs11/modules"})
        EXPECT_NE(std::string(CLoadFailure::kHint).find(hint), std::string::npos) << hint;

    // The one module tried was found but did not start: choosing another is no remedy.
    testsupport::CSimulatedToken sim;
    sim.Control().AddFault("C_Initialize:*:CKR_GENERAL_ERROR");
    const std::string simulator = testsupport::CSimulatedToken::ModulePath();
    ASSERT_FALSE(choice.Load(module, simulator));
    EXPECT_EQ(CLoadFailure::Details(choice.Attempts()),
              "Tried:\n  " + simulator + ": C_Initialize returned CKR_GENERAL_ERROR\n\nThe module was found but did "
                                          "not start (CKR_GENERAL_ERROR): check that the service or device it relies on "
                                          "is running.");

    // Found but unusable, or missing a library of its own: not "not found".
    CLibrary library;
    ASSERT_NE(library.Load("qemva_11.dll"), 0);
    EXPECT_TRUE(CModuleChoice::IsNotFound("qemva_11.dll", library.LastError())) << library.LastError();
    EXPECT_FALSE(CModuleChoice::IsNotFound("qemva_11.dll", "/usr/lib/qemva_11.dll: invalid ELF header"));
    EXPECT_FALSE(CModuleChoice::IsNotFound("qemva_11.dll", "libulda.so: cannot open shared object file: No such file"));
    EXPECT_FALSE(CModuleChoice::IsNotFound("/opt/qemva_11.dll", "/opt/qemva_11.dll: cannot open shared object file"));
}
