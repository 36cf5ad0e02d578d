#include "CDialogTest.h"

#include "app/CAppCommandLine.h"
#include "platform/CLibrary.h"
#include "P11KitProxy.h"

#include <gmock/gmock.h>

#include <cstdlib>
#include <filesystem>

using testing::ElementsAre;

namespace {

std::string ModuleFileOf(const QStringList& arguments)
{
    CAppCommandLine commandLine;
    EXPECT_EQ(commandLine.Parse(arguments), CAppCommandLine::EAction::Run);
    return commandLine.ModuleFile();
}

}  // namespace

using ModuleChoiceTest = CDialogTest;

TEST(AppCommandLineTest, OptionBeatsVariableBeatsDefault)
{
    unsetenv("CERTPURGE_MODULE");
    EXPECT_EQ(ModuleFileOf({"certpurge"}), "qemva_11.dll");
    setenv("CERTPURGE_MODULE", "", 1);
    EXPECT_EQ(ModuleFileOf({"certpurge"}), "qemva_11.dll");
    setenv("CERTPURGE_MODULE", "/from/variable.so", 1);
    EXPECT_EQ(ModuleFileOf({"certpurge"}), "/from/variable.so");
    EXPECT_EQ(ModuleFileOf({"certpurge", "--module", "/from/option.so"}), "/from/option.so");
    EXPECT_EQ(ModuleFileOf({"certpurge", "--module=/from/option.so"}), "/from/option.so");
}

TEST(AppCommandLineTest, HelpVersionAndUsageErrors)
{
    CAppCommandLine help;
    EXPECT_EQ(help.Parse({"certpurge", "--help"}), CAppCommandLine::EAction::Help);
    EXPECT_THAT(help.HelpText().toStdString(), testing::HasSubstr("--module <PATH>"));
    EXPECT_EQ(CAppCommandLine().Parse({"certpurge", "-h"}), CAppCommandLine::EAction::Help);
    EXPECT_EQ(CAppCommandLine().Parse({"certpurge", "--version"}), CAppCommandLine::EAction::Version);
    for (const QStringList& args : {QStringList{"certpurge", "--bogus"}, QStringList{"certpurge", "file"},
                                    QStringList{"certpurge", "--module"}, QStringList{"certpurge", "--module="},
                                    QStringList{"certpurge", "-platform", "offscreen"}}) {
        CAppCommandLine commandLine;
        EXPECT_EQ(commandLine.Parse(args), CAppCommandLine::EAction::Usage) << args.join(' ').toStdString();
        EXPECT_FALSE(commandLine.Problem().isEmpty());
    }
}

// No "qemva_11.dll" beside this program: the dialog reaches the token only
// through the module it is given.
TEST_F(ModuleChoiceTest, TheDialogLoadsTheModuleItIsGiven)
{
    ASSERT_FALSE(std::filesystem::exists(CLibrary::ExecutableFolder() + "/qemva_11.dll"));
    AddCert("a", "20300101000000Z", "20400101000000Z", {1});
    m_strModuleFile = testsupport::CSimulatedToken::ModulePath();
    m_bMonitor = true;
    Start();
    EXPECT_TRUE(m_prompts.Prompts().empty());
    EXPECT_THAT(Rows(), ElementsAre(SRow{"20300101", "20400101", "a's Acme ID", false}));

    // The monitor follows the token through it.
    Sim().Remove(Slot());
    EXPECT_TRUE(WaitUntil([&] { return Dlg().List().GetItemCount() == 0; }));
}

// The window's message is unchanged; standard error has the reason.
TEST_F(ModuleChoiceTest, ALibraryThatIsNoModuleIsReportedOnStandardError)
{
    m_strModuleFile = CERTPURGE_NOT_A_MODULE;
    testing::internal::CaptureStderr();
    Start();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_THAT(err, testing::HasSubstr("certpurge: no C_GetFunctionList in " CERTPURGE_NOT_A_MODULE "\n"));
    ASSERT_EQ(m_prompts.Prompts().size(), 1u);
    EXPECT_EQ(m_prompts.Prompts()[0].text, "加载Ulda动态库失败");
}

// Through p11-kit's proxy the window lists the token of SoftHSM2 as Debian
// registers it, refreshes read it afresh, and the presence monitor runs
// without error. (Whether the proxy passes a token's comings and goings on
// is not shown here: SoftHSM2's tokens never leave, and p11-kit ignores a
// user's module registrations for root, so the simulator cannot be put
// behind the proxy.)
TEST_F(ModuleChoiceTest, P11KitProxyListsAndRefreshesTheRegisteredSoftHsm)
{
    if (!testsupport::P11KitProxyReachesSoftHsm())
        GTEST_SKIP() << "p11-kit's proxy or SoftHSM2's registration is missing";
    AddCert("a", "20300101000000Z", "20400101000000Z", {1});
    m_strModuleFile = testsupport::kP11KitProxy;
    m_bMonitor = true;
    Start();
    EXPECT_TRUE(m_prompts.Prompts().empty());
    EXPECT_THAT(Rows(), ElementsAre(SRow{"20300101", "20400101", "a's Acme ID", false}));
    EXPECT_TRUE(Dlg().Follower().IsRunning());

    AddCert("b", "20200101000000Z", "20210101000000Z", {2});
    Dlg().RefreshList();
    EXPECT_THAT(Rows(), ElementsAre(SRow{"20200101", "20210101", "b's Acme ID", true},
                                    SRow{"20300101", "20400101", "a's Acme ID", false}));
    EXPECT_TRUE(m_prompts.Prompts().empty());
}
