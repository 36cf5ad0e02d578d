// Token events name their slot: the window follows the token it shows, not
// every token the module reports.
#include "CMonitorTest.h"

#include <string>

namespace {

// Two tokens behind the simulator, "certpurge-test" (listed first) and
// "second-token", each with one valid certificate named after it.
class TokenEventsTest : public CMonitorTest {
protected:
    TokenEventsTest()
    {
        m_slots[0] = Slot();
        m_slots[1] = Token().AddToken("second-token");
        for (std::size_t t = 0; t < 2; ++t) {
            Token().UseToken(m_slots[t]);
            AddCert(kHolders[t], "20300101000000Z", "20400101000000Z", {1}, false);
        }
    }

    // Starts on one token, its row and title shown; returns which.
    std::size_t StartOnOneToken()
    {
        Start();
        EXPECT_EQ(Rows().size(), 1u);
        EXPECT_FALSE(Dlg().windowTitle().isEmpty());
        return Rows().front().name == std::string(kHolders[0]) + "'s Acme ID" ? 0 : 1;
    }
    // Makes one presence change and waits until the window has handled its event.
    void Change(std::size_t token, bool bPresent)
    {
        const unsigned long handled = Dlg().TokenEventsHandled();
        bPresent ? Sim().Insert(m_slots[token]) : Sim().Remove(m_slots[token]);
        ASSERT_TRUE(WaitUntil([&] { return Dlg().TokenEventsHandled() > handled; }));
    }

    static constexpr const char* kHolders[] = {"First", "Second"};
    CK_SLOT_ID m_slots[2] = {};
};

TEST_F(TokenEventsTest, PullingOutTheOtherTokenLeavesListAndTitle)
{
    const std::size_t shown = StartOnOneToken();
    const std::vector<SRow> rows = Rows();
    const QString title = Dlg().windowTitle();
    Change(1 - shown, false);
    EXPECT_EQ(Rows(), rows);
    EXPECT_EQ(Dlg().windowTitle(), title);

    Change(shown, false);
    EXPECT_TRUE(ListEmpty());
    EXPECT_TRUE(Dlg().windowTitle().isEmpty());
}

// A token the choice does not take is no reason to read the token again.
TEST_F(TokenEventsTest, InsertingATokenTheChoiceRefusesRefreshesNothing)
{
    const std::size_t shown = StartOnOneToken();
    std::string problem;
    std::optional<CTokenChoice> choice =
        CTokenChoice::Parse(std::string("pkcs11:token=") + (shown == 0 ? "certpurge-test" : "second-token"), problem);
    ASSERT_TRUE(choice) << problem;
    Dlg().SetTokenChoice(*choice);
    Change(1 - shown, false);
    const std::size_t searches = Trace().Count("C_FindObjectsInit");
    Change(1 - shown, true);
    EXPECT_EQ(Trace().Count("C_FindObjectsInit"), searches);
    EXPECT_EQ(Rows().size(), 1u);
}

}  // namespace
