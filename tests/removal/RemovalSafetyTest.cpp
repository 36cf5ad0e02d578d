#include "CRemovalTest.h"

#include "removal/CPinDlg.h"

#include <algorithm>

using testsupport::Bytes;
using testsupport::CTestCertificate;

using RemovalSafetyTest = CRemovalTest;

TEST_F(RemovalSafetyTest, WhatIsDeletedIsWhatTheListShowsWhenAsked)
{
    AddStandardCerts();
    AddCert("Soon", "20300401000000Z", "20300616000000Z", {5});  // expires a day after the start
    Start();
    ASSERT_EQ(RedNames(), (std::vector<std::string>{"Exp's Acme ID", "Dup's Acme ID"}));

    m_clock.Set(kNow + 2 * 86400);
    std::vector<std::string> redWhenAsked;
    m_prompts.OnPrompt([&](const SPrompt& p, CPinDlg*) {
        if (p.text == Messages::kConfirmDelete)
            redWhenAsked = RedNames();
        return std::optional<int>();
    });
    Click();
    EXPECT_EQ(redWhenAsked, (std::vector<std::string>{"Exp's Acme ID", "Dup's Acme ID", "Soon's Acme ID"}));
    for (unsigned char id : {1, 2, 5})
        EXPECT_TRUE(NoneThere(id)) << int(id);
    EXPECT_TRUE(AllThere(3));
    EXPECT_TRUE(AllThere(4));
}

TEST_F(RemovalSafetyTest, RenewalKeepingItsKeyPairKeepsTheKeys)
{
    // The superseded certificate and its successor share CKA_ID 7.
    AddCert("Ren", "20300101000000Z", "20400101000000Z", {7});
    AddCert("Ren", "20300201000000Z", "20400101000000Z", {7}, false);
    AddCert("Exp", "20200101000000Z", "20210101000000Z", {1});
    Start();
    ASSERT_EQ(RedNames(), (std::vector<std::string>{"Exp's Acme ID", "Ren's Acme ID"}));
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_EQ(Token().Count(CKO_CERTIFICATE, {7}), 1u);  // the successor stays
    EXPECT_TRUE(PubThere(7));
    EXPECT_TRUE(PrivThere(7));
    EXPECT_TRUE(NoneThere(1));
    EXPECT_EQ(Rows(), (std::vector<SRow>{{"20300201", "20400101", "Ren's Acme ID", false}}));
}

TEST_F(RemovalSafetyTest, TwoMarkedRecordsSharingAKeyPair)
{
    AddCert("Old", "20200101000000Z", "20210101000000Z", {8});
    AddCert("Old", "20200201000000Z", "20210101000000Z", {8}, false);
    AddCert("Val", "20300301000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(8));
    EXPECT_TRUE(AllThere(4));
}

TEST_F(RemovalSafetyTest, TokenPulledOutWhileConfirming)
{
    m_bMonitor = true;
    AddStandardCerts();
    Start();
    m_prompts.OnPrompt([&](const SPrompt& p, CPinDlg*) -> std::optional<int> {
        if (p.text != Messages::kConfirmDelete)
            return std::nullopt;
        Sim().Remove(Slot());
        EXPECT_TRUE(WaitUntil([&] { return Rows().empty(); }));  // the monitor has seen it
        return IDOK;
    });
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, Messages::kCommunicationFailed}));
    EXPECT_EQ(m_prompts.Prompts()[1].caption, "提示...");
    EXPECT_EQ(Trace().Count("C_Login"), 0u);
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    EXPECT_TRUE(Rows().empty());
    Sim().Insert(Slot());
    for (unsigned char id : {1, 2, 3, 4})
        EXPECT_TRUE(AllThere(id));
}

TEST_F(RemovalSafetyTest, TokenSwappedWhileThePinIsAsked)
{
    m_bMonitor = true;
    AddStandardCerts();
    Start();
    m_prompts.OnPrompt([&](const SPrompt&, CPinDlg* dlg) -> std::optional<int> {
        if (dlg == nullptr)
            return std::nullopt;
        Sim().Remove(Slot());
        EXPECT_TRUE(WaitUntil([&] { return Rows().empty(); }));
        Sim().Insert(Slot());
        EXPECT_TRUE(WaitUntil([&] { return Rows().size() == 4; }));  // refreshed on a new session 0
        dlg->m_strPin = "123456";
        return IDOK;
    });
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kCommunicationFailed}));
    EXPECT_EQ(Trace().Count("C_Login"), 0u);
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    for (unsigned char id : {1, 2, 3, 4})
        EXPECT_TRUE(AllThere(id));
    EXPECT_EQ(Rows().size(), 4u);
}

TEST_F(RemovalSafetyTest, TokenPulledOutUnnoticedFailsTheLogin)
{
    AddStandardCerts();
    Start();  // no monitor: the removal goes unnoticed
    m_prompts.OnPrompt([&](const SPrompt&, CPinDlg* dlg) -> std::optional<int> {
        if (dlg != nullptr)
            Sim().Remove(Slot());
        return std::nullopt;
    });
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kCommunicationFailed}));
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    EXPECT_TRUE(Rows().empty());
}

// The PIN goes only to the token whose certificates were shown: one that
// no longer tells who it is, and what state its PIN is in, is not asked for one.
TEST_F(RemovalSafetyTest, PinGoesOnlyToTheTokenScanned)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_GetTokenInfo:2:CKR_DEVICE_ERROR");  // the second read: after the confirmation
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, Messages::kCommunicationFailed}));
    EXPECT_EQ(Trace().Count("C_Login"), 0u);
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
}

TEST_F(RemovalSafetyTest, PinIsWipedRightAfterTheLogin)
{
    AddStandardCerts();
    Start();
    // What a failed login is told with comes after the PIN is gone: wiped,
    // or with its dialog.
    for (const char* fault : {"", "C_Login:*:CKR_PIN_LOCKED"}) {
        if (*fault != '\0')
            Sim().AddFault(fault);
        CPinDlg* pinDlg = nullptr;
        bool bShown = false;
        std::vector<std::string> pinsSeenLater;
        m_prompts.OnPrompt([&](const SPrompt&, CPinDlg* dlg) -> std::optional<int> {
            if (dlg != nullptr) {
                pinDlg = dlg;
                bShown = true;
                QObject::connect(dlg, &QObject::destroyed, [&] { pinDlg = nullptr; });
                dlg->m_strPin = "000000";
                return IDOK;
            }
            if (bShown)
                pinsSeenLater.push_back(pinDlg != nullptr ? pinDlg->m_strPin : std::string());
            return std::nullopt;
        });
        Click();
        m_prompts.OnPrompt(nullptr);
        ASSERT_EQ(pinsSeenLater.size(), 1u) << fault;  // the wrong or the locked PIN
        EXPECT_EQ(pinsSeenLater[0], "");
        EXPECT_EQ(Trace().Count("C_Login"), 1u);
    }
}

TEST_F(RemovalSafetyTest, EmptyIdentifierNamesNoKey)
{
    // Keys with an empty CKA_ID could belong to anything: only the certificate goes.
    AddCert("NoId", "20200101000000Z", "20210101000000Z", {});
    AddCert("Val", "20300301000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_EQ(Token().Count(CKO_CERTIFICATE, {}), 0u);
    EXPECT_EQ(Token().Count(CKO_PUBLIC_KEY, {}), 1u);
    EXPECT_EQ(Token().Count(CKO_PRIVATE_KEY, {}), 1u);
    EXPECT_TRUE(AllThere(4));
}

TEST_F(RemovalSafetyTest, IdsWithZeroBytesNameTheirOwnKeysOnly)
{
    const Bytes inner = {0x11, 0x00, 0x22};
    const Bytes leading = {0x00, 0x07};
    AddCert("Inner", "20200101000000Z", "20210101000000Z", inner);
    AddCert("Leading", "20200201000000Z", "20210101000000Z", leading);
    Token().GenerateKeyPair({0x11});  // belongs to no certificate here
    AddCert("Val", "20300301000000Z", "20400101000000Z", {4});
    Start();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    for (const Bytes& id : {inner, leading}) {
        EXPECT_EQ(Token().Count(CKO_CERTIFICATE, id), 0u);
        EXPECT_EQ(Token().Count(CKO_PUBLIC_KEY, id), 0u);
        EXPECT_EQ(Token().Count(CKO_PRIVATE_KEY, id), 0u);
    }
    EXPECT_EQ(Token().Count(CKO_PUBLIC_KEY, {0x11}), 1u);
    EXPECT_EQ(Token().Count(CKO_PRIVATE_KEY, {0x11}), 1u);
    EXPECT_TRUE(AllThere(4));
}

TEST_F(RemovalSafetyTest, UnreadableValidityIsNeverDeleted)
{
    // Its expiry would read as 00000000000000: red, if it were listed at all.
    Bytes der = CTestCertificate().Add("C", "CN").Add("O", "Acme").Add("CN", "Bad")
                    .NotBefore("20200101000000Z").NotAfter("20301201000000Z").Der();
    const std::string good = "301201000000Z";
    auto at = std::search(der.begin(), der.end(), good.begin(), good.end());
    ASSERT_NE(at, der.end());
    at[2] = '3';
    Token().ImportCertificate(der, {9}, "Bad");
    Token().GenerateKeyPair({9});
    AddCert("Exp", "20200101000000Z", "20210101000000Z", {1});
    Start();
    for (const SRow& row : Rows())
        EXPECT_NE(row.name, "Bad's Acme ID");
    Click();
    EXPECT_TRUE(AllThere(9));
}

TEST_F(RemovalSafetyTest, CertificateRefusedAfterAnEarlierDeletionTheListShowsWhatIsLeft)
{
    AddStandardCerts();
    Start();
    // Record 1 goes with its keys; record 2's keys go, its certificate is refused.
    Sim().AddFault("C_DestroyObject:6:CKR_ACTION_PROHIBITED");
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, "删除Ulda过期证书失败!"}));
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(CertThere(2));
    EXPECT_FALSE(PubThere(2));
    EXPECT_FALSE(PrivThere(2));
    EXPECT_EQ(Rows(), (std::vector<SRow>{{"20300101", "20400101", "Dup's Acme ID", true},
                                         {"20300201", "20400101", "Dup's Acme ID", false},
                                         {"20300301", "20400101", "Val's Acme ID", false}}));
    // The button works again at once.
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(2));
    EXPECT_TRUE(AllThere(3));
}

// A renewal that kept its predecessor's key pair keeps it, even one the
// removal's own scan could not read: the keys stay while any certificate on
// the token that the run does not delete carries their ID, whatever the
// table holds.
TEST_F(RemovalSafetyTest, RenewalTheScanCouldNotReadKeepsTheSharedKeyPair)
{
    // Searches hand certificates out by label: the expired one, then its renewal.
    Sim().SetFindOrder(ETokenSimFindOrder::Label);
    const Bytes pair = Token().GenerateKeyPair({7});
    auto ren = [&pair](const std::string& notBefore, const std::string& notAfter) {
        return CTestCertificate().Add("C", "CN").Add("O", "Acme").Add("CN", "Ren").NotBefore(notBefore)
            .NotAfter(notAfter).PublicKey(pair).Der();
    };
    Token().ImportCertificate(ren("20200101000000Z", "20210101000000Z"), {7}, "A-expired");
    Token().ImportCertificate(ren("20300101000000Z", "20400101000000Z"), {7}, "B-renewal");
    Start();
    ASSERT_EQ(Rows().size(), 2u);
    // Three reads a certificate: the fourth is the renewal's size query in
    // the removal's scan, which then holds the expired certificate alone.
    Sim().AddFault("C_GetAttributeValue:4:CKR_DEVICE_ERROR");
    std::vector<std::string> asked;
    m_prompts.OnPrompt([&](const SPrompt& p, CPinDlg*) {
        if (p.text == Messages::kConfirmDelete)
            asked = Names();
        return std::optional<int>();
    });
    Click();
    ASSERT_EQ(asked, std::vector<std::string>{"Ren's Acme ID"});
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_EQ(Token().Count(CKO_CERTIFICATE, {7}), 1u);  // the renewal
    EXPECT_TRUE(PubThere(7));
    EXPECT_TRUE(PrivThere(7));
    EXPECT_EQ(Rows(), (std::vector<SRow>{{"20300101", "20400101", "Ren's Acme ID", false}}));
}

// Sessions that never end in the module (their C_CloseSession fails) keep
// no login for the next run: each run logs out when it is done, so the
// next one's PIN is checked by the token.
TEST_F(RemovalSafetyTest, EveryRunLogsOutSoTheNextPinIsChecked)
{
    AddStandardCerts();
    Start();
    Sim().AddFault("C_CloseSession:*:CKR_DEVICE_ERROR");
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    EXPECT_TRUE(Trace().InOrder({"C_Login", "C_DestroyObject", "C_Logout", "C_GetSlotList"}));

    AddCert("Late", "20200101000000Z", "20210101000000Z", {5});
    Dlg().RefreshList();
    m_prompts.SetPin("000000");
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kPinIncorrect}));
    EXPECT_TRUE(AllThere(5));

    // A refused certificate ends the run too: logged out before the module is closed.
    m_prompts.SetPin(testsupport::CSoftHsmToken::kUserPin);
    Sim().AddFault("C_DestroyObject:3:CKR_ACTION_PROHIBITED");
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleteCertFailed}));
    EXPECT_TRUE(Trace().InOrder({"C_Login", "C_DestroyObject", "C_Logout", "C_Finalize"}));
}
