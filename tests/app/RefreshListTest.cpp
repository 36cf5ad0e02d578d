#include "CDialogTest.h"

#include "platform/CMessageBox.h"

#include <QApplication>

using testsupport::Bytes;

namespace {

constexpr UINT kNotice = MB_OK | MB_ICONINFORMATION;

}  // namespace

using RefreshListTest = CDialogTest;

TEST_F(RefreshListTest, RowsInIssueOrderWithOutOfDateOnesRed)
{
    AddCert("Ann", "20300301000000Z", "20400101000000Z", {1}, false);
    AddCert("Bob", "20200101000000Z", "20210101000000Z", {2}, false);  // expired
    AddCert("Ann", "20300101000000Z", "20400101000000Z", {3}, false);  // superseded
    Start();
    EXPECT_TRUE(m_prompts.Prompts().empty());
    EXPECT_EQ(Rows(), (std::vector<SRow>{
                          {"20200101", "20210101", "Bob's Acme ID", true},
                          {"20300101", "20400101", "Ann's Acme ID", true},
                          {"20300301", "20400101", "Ann's Acme ID", false},
                      }));
}

TEST_F(RefreshListTest, NoTokenEmptiesTheListSilently)
{
    AddCert("Ann", "20300101000000Z", "20400101000000Z", {1}, false);
    Start();
    ASSERT_EQ(Rows().size(), 1u);
    Sim().Remove(Slot());
    Dlg().RefreshList();
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(m_prompts.Prompts().empty());
    EXPECT_EQ(Dlg().Token().SlotCount(), 0u);
}

TEST_F(RefreshListTest, TokenWithoutCertificatesEmptiesTheListSilently)
{
    Start();
    EXPECT_TRUE(Rows().empty());
    EXPECT_TRUE(m_prompts.Prompts().empty());
}

TEST_F(RefreshListTest, EachFailingStepShowsItsOneMessageAndAnEmptyList)
{
    struct Case {
        const char* fault;
        const char* text;
        const char* caption;
        UINT type;
    };
    const Case cases[] = {
        {"C_GetSlotList:*:CKR_DEVICE_ERROR", "请插入Ulda!", "提示...", kNotice},
        {"C_OpenSession:*:CKR_SESSION_COUNT", "与Ulda通信失败!", "提示...", kNotice},
        {"C_FindObjectsInit:*:CKR_DEVICE_ERROR", "查找Ulda证书失败!", "提示...", kNotice},
    };
    AddCert("Ann", "20300101000000Z", "20400101000000Z", {1}, false);
    for (const Case& c : cases) {
        Start();
        ASSERT_EQ(Rows().size(), 1u) << c.fault;
        Sim().AddFault(c.fault);
        m_prompts.Forget();
        Dlg().RefreshList();
        EXPECT_TRUE(Rows().empty()) << c.fault;
        ASSERT_EQ(m_prompts.Prompts().size(), 1u) << c.fault;
        EXPECT_EQ(m_prompts.Prompts()[0].text, c.text);
        EXPECT_EQ(m_prompts.Prompts()[0].caption, c.caption);
        EXPECT_EQ(m_prompts.Prompts()[0].type, c.type);
        Close();
        Sim().ClearFaults();
    }
}

TEST_F(RefreshListTest, ModuleThatCannotBeBroughtBackIsReported)
{
    AddCert("Ann", "20300101000000Z", "20400101000000Z", {1}, false);
    Start();
    // Without a token the module is finalised; bringing it back then fails.
    Sim().Remove(Slot());
    Dlg().RefreshList();
    ASSERT_TRUE(m_prompts.Prompts().empty());
    Sim().AddFault("C_Initialize:*:CKR_DEVICE_ERROR");
    Sim().Insert(Slot());
    Dlg().RefreshList();
    EXPECT_TRUE(Rows().empty());
    ASSERT_EQ(m_prompts.Prompts().size(), 1u);
    EXPECT_EQ(m_prompts.Prompts()[0].text, "加载动态库失败!");
    EXPECT_EQ(m_prompts.Prompts()[0].caption, "certpurge");
    EXPECT_EQ(m_prompts.Prompts()[0].type, MB_OK);
    EXPECT_FALSE(Dlg().Token().HasFunctionList());  // unloaded
}

TEST_F(RefreshListTest, ScanStopShowsTheCertificatesBeforeIt)
{
    AddCert("Ann", "20300101000000Z", "20400101000000Z", {1}, false);
    AddCert("Bob", "20300102000000Z", "20400101000000Z", {2}, false);
    AddCert("Cid", "20300103000000Z", "20400101000000Z", {3}, false);
    Start();
    ASSERT_EQ(Rows().size(), 3u);
    // Reading a certificate takes three calls (a size query, then a fetch
    // that asks the sizes again): the fourth is the second one's size query.
    Sim().AddFault("C_GetAttributeValue:4:CKR_DEVICE_ERROR");
    Dlg().RefreshList();
    EXPECT_EQ(Rows().size(), 1u);
    EXPECT_TRUE(m_prompts.Prompts().empty());
}

// Every certificate is listed and judged, past the first ten a search
// hands out: the renewal handed out twelfth marks the one it renews.
TEST_F(RefreshListTest, TwelveCertificatesAreListedAndARenewalPastTheTenthCounts)
{
    Sim().SetFindOrder(ETokenSimFindOrder::Label);
    AddCert("Ann", "20300101000000Z", "20400101000000Z", {1}, false);
    for (int i = 0; i < 10; ++i)
        AddCert("N" + std::to_string(i), "2030020" + std::to_string(i % 9 + 1) + "000000Z", "20400101000000Z",
                {Bytes::value_type(i + 2)}, false);
    // Labelled to come last.
    Token().ImportCertificate(testsupport::CTestCertificate()
                                  .Add("C", "CN")
                                  .Add("O", "Acme")
                                  .Add("CN", "Ann")
                                  .NotBefore("20300301000000Z")
                                  .NotAfter("20400101000000Z")
                                  .Der(),
                              {12}, "Z-renewal");
    Start();
    std::vector<SRow> rows = Rows();
    ASSERT_EQ(rows.size(), 12u);
    for (std::size_t i = 1; i < rows.size(); ++i)
        EXPECT_LE(rows[i - 1].issue, rows[i].issue);
    EXPECT_EQ(rows.front(), (SRow{"20300101", "20400101", "Ann's Acme ID", true}));
    EXPECT_EQ(rows.back(), (SRow{"20300301", "20400101", "Ann's Acme ID", false}));
    EXPECT_EQ(RedNames(), std::vector<std::string>{"Ann's Acme ID"});
}

TEST_F(RefreshListTest, ColoursOfAnEarlierRefreshNeverColourThisOnesRows)
{
    // First refresh: rows 0 and 1 red, row 2 black.
    AddCert("Old", "20200101000000Z", "20210101000000Z", {1}, false);
    AddCert("Gone", "20200201000000Z", "20210101000000Z", {2}, false);
    AddCert("Kept", "20300101000000Z", "20400101000000Z", {3}, false);
    Start();
    EXPECT_EQ(RedNames(), (std::vector<std::string>{"Old's Acme ID", "Gone's Acme ID"}));

    // Second refresh: row 0 red again, so it makes no reset of its own
    // before its entries; row 1 is now the valid certificate.
    Token().Destroy(CKO_CERTIFICATE, {2});
    Dlg().RefreshList();
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(RedNames(), (std::vector<std::string>{"Old's Acme ID"}));

    // And the other way round: nothing marked after everything was.
    Token().Destroy(CKO_CERTIFICATE, {1});
    Dlg().RefreshList();
    EXPECT_EQ(Rows(), (std::vector<SRow>{{"20300101", "20400101", "Kept's Acme ID", false}}));
}

TEST_F(RefreshListTest, MessagesAreNotShownUnderTheBusyCursor)
{
    AddCert("Ann", "20300101000000Z", "20400101000000Z", {1}, false);
    Start();
    Sim().AddFault("C_OpenSession:*:CKR_SESSION_COUNT");
    bool busy = true;
    m_prompts.OnPrompt([&](const SPrompt&, CPinDlg*) {
        busy = QApplication::overrideCursor() != nullptr;
        return std::optional<int>();
    });
    Dlg().RefreshList();
    ASSERT_EQ(m_prompts.Prompts().size(), 1u);
    EXPECT_FALSE(busy);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}
