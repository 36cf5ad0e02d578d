#include "CRemovalTest.h"

using RemovalPathsTest = CRemovalTest;

namespace {

const std::vector<std::string> kAllNames = {"Exp's Acme ID", "Dup's Acme ID", "Dup's Acme ID", "Val's Acme ID"};

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

TEST_F(RemovalPathsTest, SessionNotOpened)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_OpenSession:*:CKR_DEVICE_ERROR");
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kCommunicationFailed}));
    EXPECT_EQ(m_prompts.Prompts()[0].caption, "提示...");
    EXPECT_EQ(m_prompts.Prompts()[0].type, MB_ICONINFORMATION);
    EXPECT_FALSE(ModuleClosed());
    EXPECT_EQ(Names(), kAllNames);
}

TEST_F(RemovalPathsTest, CertificateSearchFailed)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_FindObjectsInit:*:CKR_DEVICE_ERROR");
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kFindCertificatesFailed}));
    EXPECT_EQ(m_prompts.Prompts()[0].type, MB_ICONINFORMATION);
    EXPECT_FALSE(ModuleClosed());
    EXPECT_EQ(Names(), kAllNames);
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

TEST_F(RemovalPathsTest, LockedPin)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_Login:*:CKR_PIN_LOCKED");
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, "USBKey密码已被锁定！"}));
    EXPECT_EQ(m_prompts.Prompts()[2].caption, "提示...");
    EXPECT_EQ(m_prompts.Prompts()[2].type, MB_ICONHAND);
    EXPECT_FALSE(ModuleClosed());
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
}

TEST_F(RemovalPathsTest, OtherLoginFailureIsSilent)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_Login:*:CKR_DEVICE_ERROR");
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin}));
    EXPECT_FALSE(ModuleClosed());
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    EXPECT_EQ(Names(), kAllNames);
}

TEST_F(RemovalPathsTest, CertificateNotDestroyed)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_DestroyObject:1:CKR_ACTION_PROHIBITED");
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, "删除Ulda过期证书失败!"}));
    EXPECT_EQ(m_prompts.Prompts()[2].caption, "certpurge");
    EXPECT_EQ(m_prompts.Prompts()[2].type, MB_OK);
    EXPECT_TRUE(ModuleClosed());
    for (unsigned char id : {1, 2, 3, 4})
        EXPECT_TRUE(AllThere(id));
    // Rebuilt from the token, so the button works again.
    EXPECT_EQ(Names(), kAllNames);
    EXPECT_GE(Dlg().Token().m_ulSlotCount, 1u);
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
}

// The searches of a record come before anything of it is destroyed: the
// third search of the run (certificates, holders of the ID, public keys)
// refused leaves the record whole.
TEST_F(RemovalPathsTest, PublicKeySearchRefused)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_FindObjectsInit:3:CKR_DEVICE_ERROR");
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, "查找Ulda过期证书公钥失败!",
                                                 Messages::kDeleted}));
    EXPECT_EQ(m_prompts.Prompts()[2].caption, "certpurge");
    EXPECT_TRUE(AllThere(1));
    EXPECT_TRUE(AllThere(2));  // the later marked record is not tried
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    EXPECT_EQ(Names(), kAllNames);
}

TEST_F(RemovalPathsTest, PublicKeyNotDestroyed)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_DestroyObject:2:CKR_ACTION_PROHIBITED");
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, "删除Ulda过期证书公钥失败!",
                                                 Messages::kDeleted}));
    EXPECT_FALSE(CertThere(1));
    EXPECT_TRUE(PubThere(1));
    EXPECT_TRUE(PrivThere(1));
    EXPECT_TRUE(AllThere(2));
    EXPECT_FALSE(ModuleClosed());
}

TEST_F(RemovalPathsTest, PrivateKeySearchRefused)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_FindObjectsInit:4:CKR_DEVICE_ERROR");
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, "查找Ulda过期证书私钥失败!",
                                                 Messages::kDeleted}));
    EXPECT_TRUE(AllThere(1));
    EXPECT_TRUE(AllThere(2));
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
}

TEST_F(RemovalPathsTest, PrivateKeyNotDestroyed)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_DestroyObject:3:CKR_ACTION_PROHIBITED");
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, "删除Ulda过期证书私钥失败!",
                                                 Messages::kDeleted}));
    EXPECT_FALSE(CertThere(1));
    EXPECT_FALSE(PubThere(1));
    EXPECT_TRUE(PrivThere(1));
    EXPECT_TRUE(AllThere(2));
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
