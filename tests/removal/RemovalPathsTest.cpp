#include "CRemovalTest.h"

#include <cctype>
#include <ostream>

using RemovalPathsTest = CRemovalTest;

namespace {

const std::vector<std::string> kAllNames = {"Exp's Acme ID", "Dup's Acme ID", "Dup's Acme ID", "Val's Acme ID"};

constexpr const char* kNotice = "提示...";
constexpr const char* kAppName = "certpurge";

// A module refusing one step of a removal, and how the run ends. What is
// left of record 1 is told as its certificate, public and private key; the
// later records are never tried, so they stay whole. A refusal midway ends
// the run with its box alone: the removal did not complete.
struct SRefusedStep {
    const char* pszFault;
    std::vector<std::string> texts;
    std::size_t nTold;  // the box telling the failure
    const char* pszCaption;
    UINT type;
    bool bClosed;
    bool bCert1, bPub1, bPriv1;
    const char* pszDetails = nullptr;  // what the box unfolds names this
};

const SRefusedStep kRefusedSteps[] = {
    {"C_OpenSession:*:CKR_DEVICE_ERROR", {Messages::kCommunicationFailed}, 0, kNotice, MB_ICONINFORMATION, false,
     true, true, true},
    {"C_FindObjectsInit:*:CKR_DEVICE_ERROR", {Messages::kFindCertificatesFailed}, 0, kNotice, MB_ICONINFORMATION,
     false, true, true, true},
    {"C_Login:*:CKR_PIN_LOCKED", {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, "USBKey密码已被锁定！"}, 2, kNotice,
     MB_ICONHAND, false, true, true, true},
    // Some modules answer the try that locks the PIN as any wrong one.
    {"C_Login:1:lie=incorrect-then-locked",
     {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, "USBKey密码已被锁定！"}, 2, kNotice, MB_ICONHAND, false,
     true, true, true},
    {"C_Login:*:CKR_PIN_LEN_RANGE",
     {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, "USBKey密码不正确，请重新输入！"}, 2, kNotice,
     MB_ICONINFORMATION, false, true, true, true},
    // Any other refusal of the login is told, the module's answer in the details.
    {"C_Login:*:CKR_GENERAL_ERROR", {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, "Ulda拒绝了登录!"}, 2,
     kNotice, MB_ICONINFORMATION, false, true, true, true, "CKR_GENERAL_ERROR"},
    {"C_Login:*:CKR_DEVICE_REMOVED",
     {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, Messages::kCommunicationFailed}, 2, kNotice,
     MB_ICONINFORMATION, false, true, true, true},
    // Before the confirmation, the plan asks the token of each red record
    // who else carries its ID and whether its public key is there (searches
    // 2 to 5 of the run): a refusal ends the run with nothing asked.
    {"C_FindObjectsInit:2:CKR_DEVICE_ERROR", {Messages::kFindCertificatesFailed}, 0, kNotice, MB_ICONINFORMATION,
     true, true, true, true, "CKR_DEVICE_ERROR"},
    // The searches of a record come before anything of it is destroyed: the
    // seventh search of the run (public keys, after the scan, the plan's
    // four and the holders of the ID) or the eighth (private keys) refused
    // leaves the record whole.
    {"C_FindObjectsInit:7:CKR_DEVICE_ERROR",
     {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, "查找Ulda过期证书公钥失败!"}, 2, kAppName, MB_OK, true,
     true, true, true},
    {"C_FindObjectsInit:8:CKR_DEVICE_ERROR",
     {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, "查找Ulda过期证书私钥失败!"}, 2, kAppName, MB_OK, true,
     true, true, true},
    // Then the public key, the private key and the certificate, in turn.
    {"C_DestroyObject:1:CKR_ACTION_PROHIBITED",
     {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, "删除Ulda过期证书公钥失败!"}, 2, kAppName, MB_OK, true,
     true, true, true},
    {"C_DestroyObject:2:CKR_ACTION_PROHIBITED",
     {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, "删除Ulda过期证书私钥失败!"}, 2, kAppName, MB_OK, true,
     true, false, true},
    {"C_DestroyObject:3:CKR_ACTION_PROHIBITED", {Messages::kConfirmDelete, CScriptedPrompts::kPinDialogText, "删除Ulda过期证书失败!"},
     2, kAppName, MB_OK, true, true, false, false},
};

void PrintTo(const SRefusedStep& step, std::ostream* out)
{
    *out << step.pszFault;
}

}  // namespace

TEST_F(RemovalPathsTest, NoSlotDoesNothingAtAll)
{
    AddStandardCerts();
    Sim().Remove(Slot());
    Start();  // no monitor: the trace holds the button's calls alone
    Click();
    EXPECT_TRUE(Texts().empty());
    EXPECT_TRUE(Trace().Lines().empty());
}

TEST_F(RemovalPathsTest, NoCertificateOnTheToken)
{
    Start();
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{"您的Ulda中没有证书!"}));
    EXPECT_EQ(m_prompts.Prompts()[0].caption, "certpurge");
    EXPECT_EQ(m_prompts.Prompts()[0].type, MB_OK);
    EXPECT_FALSE(ModuleClosed());
}

TEST_F(RemovalPathsTest, NothingMarked)
{
    AddCert("Val", "20300301000000Z", "20400101000000Z", {4});
    Start();
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{"您的Ulda中没有过期证书需要删除"}));
    EXPECT_EQ(m_prompts.Prompts()[0].caption, "提示...");
    EXPECT_EQ(m_prompts.Prompts()[0].type, MB_OK);
    EXPECT_TRUE(ModuleClosed());
    EXPECT_EQ(Names(), (std::vector<std::string>{"Val's Acme ID"}));
    EXPECT_TRUE(AllThere(4));
}

// A write-protected token is listed, read on sessions that only read; the
// button then says it cannot delete, once the scan has found something
// red, and asks nothing, logs in nowhere, destroys nothing. Whether the
// token says so in its flags, or only refuses a session that would write.
TEST_F(RemovalPathsTest, WriteProtectedTokenIsListedAndNothingIsAttempted)
{
    AddStandardCerts();
    for (bool bFlagged : {true, false}) {
        Sim().SetTokenFlags(Slot(), bFlagged ? CKF_WRITE_PROTECTED : 0);
        Start();
        EXPECT_TRUE(m_prompts.Prompts().empty()) << bFlagged;
        EXPECT_EQ(RedNames(), (std::vector<std::string>{"Exp's Acme ID", "Dup's Acme ID"})) << bFlagged;
        if (!bFlagged)
            Sim().AddFault("C_OpenSession:1:CKR_TOKEN_WRITE_PROTECTED");
        Click();
        ASSERT_EQ(Texts(), std::vector<std::string>{Messages::kWriteProtected}) << bFlagged;
        EXPECT_EQ(m_prompts.Prompts()[0].caption, "提示...");
        EXPECT_EQ(m_prompts.Prompts()[0].type, MB_ICONINFORMATION);
        EXPECT_EQ(Trace().Count("C_Login"), 0u);
        EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
        EXPECT_EQ(Names(), kAllNames) << bFlagged;
        for (const CTraceRecord& open : Trace().Records("C_OpenSession")) {
            if (open.Rv() == "CKR_OK") {
                EXPECT_EQ(open.Field("flags"), "0x4") << bFlagged;
            }
        }
        Close();
        Sim().ClearFaults();
        m_prompts.Forget();
    }
    for (unsigned char id : {1, 2, 3, 4})
        EXPECT_TRUE(AllThere(id)) << int(id);
}

TEST_F(RemovalPathsTest, ConfirmationDeclined)
{
    AddStandardCerts();
    Start();
    m_prompts.Answer(Messages::kConfirmDelete, IDCANCEL);
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete}));
    EXPECT_EQ(m_prompts.Prompts()[0].caption, "删除证书");
    EXPECT_EQ(m_prompts.Prompts()[0].type, MB_OKCANCEL);
    EXPECT_TRUE(ModuleClosed());
    EXPECT_EQ(Trace().Count("C_Login"), 0u);
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    EXPECT_EQ(Names(), kAllNames);
}

TEST_F(RemovalPathsTest, PinDialogCancelled)
{
    AddStandardCerts();
    Start();
    m_prompts.CancelPin();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin}));
    EXPECT_TRUE(ModuleClosed());
    EXPECT_EQ(Trace().Count("C_Login"), 0u);
    for (unsigned char id : {1, 2, 3, 4})
        EXPECT_TRUE(AllThere(id));
    EXPECT_EQ(Names(), kAllNames);
}

TEST_F(RemovalPathsTest, WrongPin)
{
    AddStandardCerts();
    Start();
    m_prompts.SetPin("000000");
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, "USBKey密码不正确，请重新输入！"}));
    EXPECT_EQ(m_prompts.Prompts()[2].caption, "提示...");
    EXPECT_EQ(m_prompts.Prompts()[2].type, MB_ICONINFORMATION);
    EXPECT_FALSE(ModuleClosed());
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    EXPECT_EQ(Names(), kAllNames);

    // The next press asks for the confirmation again before the PIN.
    m_prompts.SetPin("123456");
    m_prompts.Answer(Messages::kConfirmDelete, IDCANCEL);
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete}));
}

TEST_F(RemovalPathsTest, ThreeMarkedRecordsDeleted)
{
    AddStandardCerts();
    AddCert("Older", "20190101000000Z", "20200101000000Z", {5});
    Start();
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_EQ(m_prompts.Prompts()[2].caption, "提示...");
    EXPECT_EQ(m_prompts.Prompts()[2].type, MB_OK);
    for (unsigned char id : {1, 2, 5})
        EXPECT_TRUE(NoneThere(id)) << int(id);
    EXPECT_TRUE(AllThere(3));
    EXPECT_TRUE(AllThere(4));
    EXPECT_FALSE(ModuleClosed());
    EXPECT_EQ(Rows(), (std::vector<SRow>{{"20300201", "20400101", "Dup's Acme ID", false},
                                         {"20300301", "20400101", "Val's Acme ID", false}}));
}

class RemovalRefusedStepTest : public CRemovalTest, public ::testing::WithParamInterface<SRefusedStep> {};

// Each refused step shows its one message and ends the run there; the
// list shows what is left, and the button, pressed again, finishes the
// removal.
TEST_P(RemovalRefusedStepTest, EndsWithItsMessageAndTheNextPressFinishes)
{
    const SRefusedStep& c = GetParam();
    AddStandardCerts();
    Start();
    Sim().AddFault(c.pszFault);
    Click();
    ASSERT_EQ(Texts(), c.texts);
    const SPrompt& told = m_prompts.Prompts()[c.nTold];
    EXPECT_EQ(told.caption, c.pszCaption);
    EXPECT_EQ(told.type, c.type);
    if (c.pszDetails != nullptr)
        EXPECT_NE(told.details.find(c.pszDetails), std::string::npos) << told.details;
    else
        EXPECT_EQ(told.details, "");
    EXPECT_EQ(ModuleClosed(), c.bClosed);
    EXPECT_EQ(CertThere(1), c.bCert1);
    EXPECT_EQ(PubThere(1), c.bPub1);
    EXPECT_EQ(PrivThere(1), c.bPriv1);
    for (unsigned char id : {2, 3, 4})
        EXPECT_TRUE(AllThere(id)) << int(id);
    EXPECT_EQ(Names(), kAllNames);

    Sim().ClearFaults();
    ASSERT_GE(Dlg().Token().SlotCount(), 1u);
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(NoneThere(2));
}

INSTANTIATE_TEST_SUITE_P(RemovalPaths, RemovalRefusedStepTest, ::testing::ValuesIn(kRefusedSteps),
                         [](const ::testing::TestParamInfo<SRefusedStep>& param) {
                             std::string name;
                             for (const char* p = param.param.pszFault; *p != '\0'; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });
