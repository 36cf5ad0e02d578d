#include "CSimulatorTest.h"
#include "WaitUntil.h"

#include <cstdio>
#include <cstdlib>

#include <thread>

#include <sys/wait.h>
#include <unistd.h>

using testsupport::CSimulatedToken;

namespace {

struct SResult {
    int status;
    std::string output;
};

// Runs a shell command line with the test's environment; stderr goes with stdout.
SResult RunShell(const std::string& commandLine)
{
    SResult result{-1, ""};
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (pipe == nullptr)
        return result;
    char buf[512];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0)
        result.output.append(buf, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Quoted(const std::string& s)
{
    return "'" + s + "'";
}

class TokenSimCommand : public CSimulatorTest {
protected:
    SResult Tokensim(const std::string& args) const
    {
        return RunShell(Quoted(CSimulatedToken::CommandPath()) + " --state " + Quoted(token.StatePath()) + " " + args);
    }
};

using TokenSimPkcs11Tool = CSimulatorTest;

std::size_t CountOf(const std::string& text, const std::string& word)
{
    std::size_t n = 0;
    for (size_t pos = text.find(word); pos != std::string::npos; pos = text.find(word, pos + 1))
        ++n;
    return n;
}

}  // namespace

TEST_F(TokenSimCommand, ChangesWhatTheModuleShows)
{
    ASSERT_EQ(Tokensim("remove '#0'").status, 0);
    EXPECT_TRUE(module.Slots(true).empty());
    ASSERT_EQ(Tokensim("insert " + std::to_string(token.Slot())).status, 0);
    EXPECT_EQ(module.Slots(true).size(), 1u);
    ASSERT_EQ(Tokensim("remove all").status, 0);
    EXPECT_TRUE(module.Slots(true).empty());
    EXPECT_EQ(module.DrainEvents(), std::vector<CK_SLOT_ID>(3, token.Slot()));

    ASSERT_EQ(Tokensim("insert all").status, 0);
    ASSERT_EQ(Tokensim("fault C_OpenSession:*:CKR_SESSION_COUNT").status, 0);
    CK_SESSION_HANDLE session = CK_INVALID_HANDLE;
    EXPECT_EQ(module->C_OpenSession(token.Slot(), CKF_SERIAL_SESSION, nullptr, nullptr, &session), CKR_SESSION_COUNT);
}

TEST_F(TokenSimCommand, EditsAndPrintsTheState)
{
    ASSERT_EQ(Tokensim("fault C_Login:*:CKR_PIN_LOCKED C_DestroyObject:2:0x1b").status, 0);
    ASSERT_EQ(Tokensim("mode slow-poll").status, 0);
    ASSERT_EQ(Tokensim("remove '#0'").status, 0);
    SResult status = Tokensim("status");
    ASSERT_EQ(status.status, 0);
    EXPECT_NE(status.output.find("mode: slow-poll"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("all present, #0 absent"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("C_Login:*:CKR_PIN_LOCKED"), std::string::npos) << status.output;
    EXPECT_NE(status.output.find("C_DestroyObject:2:CKR_ACTION_PROHIBITED"), std::string::npos) << status.output;

    ASSERT_EQ(Tokensim("clear faults").status, 0);
    CTokenSimState state = token.Control().State();
    EXPECT_TRUE(state.Rules().empty());
    EXPECT_EQ(state.Mode(), ETokenSimMode::SlowPoll);
    EXPECT_FALSE(state.IsPresent(token.Slot(), 0));

    ASSERT_EQ(Tokensim("clear").status, 0);
    state = token.Control().State();
    EXPECT_EQ(state.Mode(), ETokenSimMode::Normal);
    EXPECT_TRUE(state.IsPresent(token.Slot(), 0));
}

TEST_F(TokenSimCommand, SetsShowsAndClearsTheFindOrder)
{
    ASSERT_EQ(Tokensim("order label").status, 0);
    EXPECT_EQ(token.Control().State().FindOrder(), ETokenSimFindOrder::Label);
    SResult status = Tokensim("status");
    ASSERT_EQ(status.status, 0);
    EXPECT_NE(status.output.find("order: label"), std::string::npos) << status.output;

    ASSERT_EQ(Tokensim("order module").status, 0);
    EXPECT_EQ(token.Control().State().FindOrder(), ETokenSimFindOrder::Module);
    status = Tokensim("status");
    EXPECT_NE(status.output.find("order: module"), std::string::npos) << status.output;

    ASSERT_EQ(Tokensim("order label").status, 0);
    ASSERT_EQ(Tokensim("clear faults").status, 0);
    EXPECT_EQ(token.Control().State().FindOrder(), ETokenSimFindOrder::Label);
    ASSERT_EQ(Tokensim("clear").status, 0);
    EXPECT_EQ(token.Control().State().FindOrder(), ETokenSimFindOrder::Module);
}

TEST_F(TokenSimCommand, SetsTheWaitModes)
{
    for (ETokenSimMode mode : {ETokenSimMode::BlockingWait, ETokenSimMode::NoBlockingWait}) {
        const std::string name = CTokenSimState::ModeName(mode);
        ASSERT_EQ(Tokensim("mode " + name).status, 0) << name;
        EXPECT_EQ(token.Control().State().Mode(), mode);
        SResult status = Tokensim("status");
        EXPECT_NE(status.output.find("mode: " + name), std::string::npos) << status.output;
    }
}

TEST_F(TokenSimCommand, SetsShowsAndClearsTheSlotKind)
{
    const CK_FLAGS kinds = CTokenSimState::kSlotKindFlags;
    ASSERT_EQ(Tokensim("slot '#0' none").status, 0);
    EXPECT_EQ(SlotFlags(token.Slot()) & kinds, 0u);
    SResult status = Tokensim("status");
    EXPECT_NE(status.output.find("slot flags: #0 none"), std::string::npos) << status.output;

    ASSERT_EQ(Tokensim("slot all removable,hardware").status, 0);
    EXPECT_EQ(SlotFlags(token.Slot()) & kinds, kinds);
    ASSERT_EQ(Tokensim("slot " + std::to_string(token.Slot()) + " hardware").status, 0);
    EXPECT_EQ(SlotFlags(token.Slot()) & kinds, CKF_HW_SLOT);
    ASSERT_EQ(Tokensim("clear").status, 0);
    EXPECT_EQ(SlotFlags(token.Slot()) & kinds, CKF_REMOVABLE_DEVICE);
}

TEST_F(TokenSimCommand, HelpNamesEveryModeAndOrder)
{
    SResult help = RunShell(Quoted(CSimulatedToken::CommandPath()) + " --help");
    ASSERT_EQ(help.status, 0);
    for (const char* word : {"normal", "no-wait", "no-blocking-wait", "events-at-init", "slow-poll", "blocking-wait",
                             "event-every-poll", "order ORDER", "module | label", "slot SLOT FLAGS",
                             "removable,hardware"})
        EXPECT_NE(help.output.find(word), std::string::npos) << word << "\n" << help.output;
}

TEST_F(TokenSimCommand, RejectsBadArgumentsWithoutChangingTheState)
{
    const std::string before = token.Control().State().Serialize();
    for (const char* args : {"", "fault C_Nothing:1:CKR_OK", "fault C_Login:0:CKR_OK", "fault C_Login:1:len=4",
                             "remove", "remove slot", "mode fast", "clear everything", "status now", "eject 1",
                             "order", "order name", "order label module", "order Label", "slot", "slot #0",
                             "slot #0 fixed", "slot x removable", "slot #0 removable hardware"})
        EXPECT_EQ(Tokensim(args).status, 2) << args;
    EXPECT_EQ(token.Control().State().Serialize(), before);
}

TEST_F(TokenSimCommand, TakesTheStateFileFromTheEnvironment)
{
    // TOKENSIM_STATE is the fixture's state file.
    ASSERT_EQ(RunShell(Quoted(CSimulatedToken::CommandPath()) + " remove '#0'").status, 0);
    EXPECT_TRUE(module.Slots(true).empty());
    unsetenv("TOKENSIM_STATE");
    EXPECT_EQ(RunShell(Quoted(CSimulatedToken::CommandPath()) + " status").status, 2);
}

TEST_F(TokenSimPkcs11Tool, ListsTheSimulatorsSlot)
{
#ifdef CERTPURGE_SANITIZED
    GTEST_SKIP() << "pkcs11-tool cannot load a module built with sanitizers";
#endif
    if (RunShell("command -v pkcs11-tool").status != 0)
        GTEST_SKIP() << "pkcs11-tool is not installed";
    const std::string listSlots = "pkcs11-tool --module " + Quoted(CSimulatedToken::ModulePath()) + " --list-slots";

    SResult listed = RunShell(listSlots);
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_EQ(CountOf(listed.output, "Slot "), 1u) << listed.output;
    EXPECT_NE(listed.output.find(testsupport::CSoftHsmToken::kLabel), std::string::npos) << listed.output;
    EXPECT_GE(token.Trace().Count("C_GetSlotList"), 1u);

    token.Control().Remove(token.Slot());
    listed = RunShell(listSlots);
    ASSERT_EQ(listed.status, 0) << listed.output;
    EXPECT_EQ(CountOf(listed.output, "Slot "), 1u) << listed.output;
    EXPECT_EQ(listed.output.find(testsupport::CSoftHsmToken::kLabel), std::string::npos) << listed.output;
}

// Token flags reach C_GetTokenInfo, and a login without a PIN on a keypad
// token waits, noted in the trace, until a PIN is typed on the keypad.
TEST_F(TokenSimCommand, TokenFlagsAndTheKeypad)
{
    for (const char* bad : {"flags '#0' locked", "flags '#0'", "flags slot none", "keypad"})
        EXPECT_EQ(Tokensim(bad).status, 2) << bad;
    ASSERT_EQ(Tokensim("flags '#0' user-pin-final-try,protected-authentication-path").status, 0);
    EXPECT_NE(Tokensim("status").output.find("token flags: #0 user-pin-final-try,protected-authentication-path"),
              std::string::npos);
    CK_TOKEN_INFO info{};
    ASSERT_EQ(module->C_GetTokenInfo(token.Slot(), &info), CKR_OK);
    EXPECT_EQ(info.flags & (CKF_USER_PIN_FINAL_TRY | CKF_PROTECTED_AUTHENTICATION_PATH | CKF_USER_PIN_LOCKED),
              CKF_USER_PIN_FINAL_TRY | CKF_PROTECTED_AUTHENTICATION_PATH);

    CK_SESSION_HANDLE session = module.OpenSession(token.Slot());
    CK_RV rv = CKR_GENERAL_ERROR;
    std::thread login([&] { rv = module->C_Login(session, CKU_USER, nullptr, 0); });
    testsupport::WaitUntil([&] { return token.Trace().CountBlocking("C_Login") > 0; });
    EXPECT_EQ(token.Trace().CountBlocking("C_Login"), 1u);
    ASSERT_EQ(Tokensim("keypad " + std::string(testsupport::CSoftHsmToken::kUserPin)).status, 0);
    login.join();
    EXPECT_EQ(rv, CKR_OK);
    EXPECT_EQ(token.Trace().Records("C_Login").back().Field("pin"), "null");

    ASSERT_EQ(Tokensim("flags all none").status, 0);
    ASSERT_EQ(module->C_GetTokenInfo(token.Slot(), &info), CKR_OK);
    EXPECT_EQ(info.flags & CKF_PROTECTED_AUTHENTICATION_PATH, 0u);
}
