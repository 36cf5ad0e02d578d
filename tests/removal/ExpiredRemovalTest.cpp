// The removal on its own: a host that records what it is asked, prompts
// that answer themselves, and a SoftHSM2 token behind the token simulator.
#include "CScriptedPrompts.h"
#include "CSimulatedToken.h"
#include "CTestCertificate.h"
#include "inventory/InventoryMessages.h"
#include "inventory/ScanToken.h"
#include "platform/CFixedClock.h"
#include "removal/CExpiredRemoval.h"
#include "removal/RemovalMessages.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::CTestCertificate;

class CRecordingHost : public IRemovalHost {
public:
    virtual ~CRecordingHost() = default;
    void ShowTable(const CertTable& table) override
    {
        std::vector<int> marks;
        for (CK_ULONG i = 0; i < table.nCount; ++i)
            marks.push_back(table.records[i].nMark);
        m_shownMarks.push_back(marks);
    }
    void RefreshList() override { ++m_nRefreshes; }
    unsigned long TokenEventsHandled() const override { return m_ulTokenEvents; }
    QWidget* PromptOwner() override { return nullptr; }
    void HoldTokenEvents(bool) override {}

    std::vector<std::vector<int>> m_shownMarks;
    int m_nRefreshes = 0;
    unsigned long m_ulTokenEvents = 0;
};

class ExpiredRemovalTest : public ::testing::Test {
protected:
    static constexpr std::time_t kNow = 1907755200;  // 2030-06-15 12:00:00 UTC
    static constexpr const char* kPin = "123456";

    // id 1 expired, id 2 valid.
    void AddCerts()
    {
        Add("Exp", "20200101000000Z", "20210101000000Z", 1);
        Add("Val", "20300301000000Z", "20400101000000Z", 2);
    }

    void Add(const std::string& cn, const std::string& notBefore, const std::string& notAfter, unsigned char id)
    {
        // The certificate carries its own key pair's public key, as a real one does.
        testsupport::Bytes publicKey = m_sim.SoftHsm().GenerateKeyPair({id});
        m_sim.SoftHsm().ImportCertificate(CTestCertificate()
                                              .Add("C", "CN")
                                              .Add("O", "Acme")
                                              .Add("CN", cn)
                                              .NotBefore(notBefore)
                                              .NotAfter(notAfter)
                                              .PublicKey(publicKey)
                                              .Der(),
                                          {id}, cn);
    }

    // The window's state before the button: the module loaded and the token listed.
    void Run()
    {
        CertTable table;
        ASSERT_EQ(ScanToken(m_module, testsupport::CSimulatedToken::ModulePath(), table, m_clock), ScanResult::Scanned);
        m_prompts.Forget();
        CExpiredRemoval(m_module, m_prompts, m_clock, m_host).Run();
    }

    bool AllThere(unsigned char id) { return Count(CKO_CERTIFICATE, id) && Count(CKO_PUBLIC_KEY, id) && Count(CKO_PRIVATE_KEY, id); }
    bool NoneThere(unsigned char id) { return !Count(CKO_CERTIFICATE, id) && !Count(CKO_PUBLIC_KEY, id) && !Count(CKO_PRIVATE_KEY, id); }
    bool Count(CK_OBJECT_CLASS cls, unsigned char id) { return m_sim.SoftHsm().Count(cls, {id}) > 0; }

    testsupport::CSimulatedToken m_sim;
    CScriptedPrompts m_prompts;
    CFixedClock m_clock{kNow};
    CTokenModule m_module;
    CRecordingHost m_host;
};

TEST_F(ExpiredRemovalTest, NothingMarkedSaysSoAndRefreshes)
{
    Add("Val", "20300301000000Z", "20400101000000Z", 2);
    Run();
    EXPECT_EQ(m_prompts.Texts(), (std::vector<std::string>{Messages::kNothingExpired}));
    EXPECT_TRUE(m_host.m_shownMarks.empty());
    EXPECT_EQ(m_host.m_nRefreshes, 1);
    EXPECT_GE(m_sim.Trace().Count("C_Finalize"), 1u);
    EXPECT_TRUE(AllThere(2));
}

TEST_F(ExpiredRemovalTest, DeclinedShowsTheTableAndDeletesNothing)
{
    AddCerts();
    m_prompts.Answer(Messages::kConfirmDelete, IDCANCEL);
    Run();
    EXPECT_EQ(m_prompts.Texts(), (std::vector<std::string>{Messages::kConfirmDelete}));
    EXPECT_EQ(m_host.m_shownMarks, (std::vector<std::vector<int>>{{1, 0}}));
    EXPECT_EQ(m_host.m_nRefreshes, 1);
    EXPECT_TRUE(AllThere(1));
    EXPECT_TRUE(AllThere(2));
}

TEST_F(ExpiredRemovalTest, PinCancelledDeletesNothing)
{
    AddCerts();
    m_prompts.CancelPin();
    Run();
    ASSERT_EQ(m_prompts.Texts().size(), 2u);  // the confirmation and the PIN dialog
    EXPECT_EQ(m_prompts.Texts()[0], Messages::kConfirmDelete);
    EXPECT_EQ(m_host.m_nRefreshes, 1);
    EXPECT_EQ(m_sim.Trace().Count("C_Login"), 0u);
    EXPECT_TRUE(AllThere(1));
}

TEST_F(ExpiredRemovalTest, WrongPinIsToldAndDeletesNothing)
{
    AddCerts();
    m_prompts.SetPin("000000");
    Run();
    ASSERT_EQ(m_prompts.Texts().size(), 3u);
    EXPECT_EQ(m_prompts.Texts()[2], Messages::kPinIncorrect);
    EXPECT_EQ(m_host.m_nRefreshes, 1);
    EXPECT_TRUE(AllThere(1));
}

TEST_F(ExpiredRemovalTest, RefusedKeyStopsWithItsMessage)
{
    AddCerts();
    m_prompts.SetPin(kPin);
    m_sim.Control().AddFault("C_DestroyObject:1:CKR_ACTION_PROHIBITED");
    Run();
    ASSERT_EQ(m_prompts.Texts().size(), 3u);
    EXPECT_EQ(m_prompts.Texts()[2], Messages::kDeletePubKeyFailed);
    EXPECT_EQ(m_host.m_nRefreshes, 1);
    EXPECT_TRUE(AllThere(1));
    EXPECT_TRUE(AllThere(2));
}

TEST_F(ExpiredRemovalTest, AllMarkedDeletedWithTheirKeys)
{
    AddCerts();
    m_prompts.SetPin(kPin);
    Run();
    EXPECT_EQ(m_prompts.Texts().back(), Messages::kDeleted);
    EXPECT_EQ(m_host.m_nRefreshes, 1);
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(AllThere(2));
}

TEST_F(ExpiredRemovalTest, TokenEventWhileAskedAbandonsTheRun)
{
    AddCerts();
    m_prompts.SetPin(kPin);
    m_prompts.OnPrompt([&](const SPrompt& p, CPinDlg*) -> std::optional<int> {
        if (p.text == Messages::kConfirmDelete)
            ++m_host.m_ulTokenEvents;  // the monitor handled a token change meanwhile
        return std::nullopt;
    });
    Run();
    EXPECT_EQ(m_prompts.Texts(), (std::vector<std::string>{Messages::kConfirmDelete, Messages::kCommunicationFailed}));
    EXPECT_EQ(m_sim.Trace().Count("C_DestroyObject"), 0u);
    EXPECT_EQ(m_host.m_nRefreshes, 1);
    EXPECT_TRUE(AllThere(1));
}

}  // namespace
