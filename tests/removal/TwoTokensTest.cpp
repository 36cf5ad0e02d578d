#include "CRemovalTest.h"

#include <QCoreApplication>

#include <string>
#include <vector>

namespace {

// Two tokens with the same PIN behind the simulator: "certpurge-test" and
// "second-token", each with an expired certificate (CKA_ID 1) and a valid
// one (CKA_ID 2) named after its token.
class TwoTokensTest : public CRemovalTest {
protected:
    TwoTokensTest()
    {
        m_slots = {Slot(), Token().AddToken("second-token")};
        for (std::size_t t = 0; t < 2; ++t) {
            Token().UseToken(m_slots[t]);
            AddCert(kNames[t], "20200101000000Z", "20210101000000Z", {1});
            AddCert(kNames[t], "20300101000000Z", "20400101000000Z", {2});
        }
    }

    // The objects of one token.
    std::size_t Count(std::size_t token, CK_OBJECT_CLASS cls, unsigned char id)
    {
        Token().UseToken(m_slots[token]);
        return Token().Count(cls, {id});
    }
    // Which token the rows are of.
    std::size_t TokenShown() const { return Names().front() == std::string(kNames[0]) + "'s Acme ID" ? 0 : 1; }

    static constexpr const char* kNames[] = {"First", "Second"};
    static constexpr const char* kLabels[] = {"certpurge-test", "second-token"};
    std::vector<CK_SLOT_ID> m_slots;
};

}  // namespace

// A software token listed before the user's USB token: the window shows
// the token that can be pulled out, as certpurge-list lists it.
TEST_F(TwoTokensTest, ARemovableTokenComesBeforeOneListedFirstInAFixedSlot)
{
    Sim().SetSlotFlags(CSlotSelector::Index(0), 0);
    Start();
    const std::vector<CK_SLOT_ID> present = Dlg().Token().SlotList();
    ASSERT_EQ(present.size(), 2u);
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(m_slots[TokenShown()], present[1]);
    EXPECT_EQ(Dlg().windowTitle().toStdString().rfind(kLabels[TokenShown()], 0), 0u);
}

// The list shows the token that was there first; another put in beside it
// does not take its place; the removal logs in on the shown token alone,
// and nothing of the other is touched.
TEST_F(TwoTokensTest, TheTokenShownStaysAndIsTheOnlyOneWorkedOn)
{
    m_bMonitor = true;
    Sim().Remove(CSlotSelector::Index(0));
    Start();
    ASSERT_EQ(Rows().size(), 2u);
    const std::size_t shown = TokenShown();
    const std::string title = std::string(kLabels[shown]) + " (" + Dlg().Token().ListedToken()->strSerial + ") \u2014 " +
                              QCoreApplication::applicationName().toStdString();
    EXPECT_EQ(Dlg().windowTitle().toStdString(), title);

    const std::size_t searches = Trace().Count("C_FindObjectsInit");
    Sim().Insert(CSlotSelector::Index(0));
    ASSERT_TRUE(WaitUntil([&] { return Trace().Count("C_FindObjectsInit") > searches; }));  // refreshed
    EXPECT_EQ(TokenShown(), shown);
    EXPECT_EQ(Dlg().windowTitle().toStdString(), title);

    Dlg().Follower().Stop();
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, kPin, Messages::kDeleted}));
    for (CK_OBJECT_CLASS cls : {CKO_CERTIFICATE, CKO_PUBLIC_KEY, CKO_PRIVATE_KEY}) {
        EXPECT_EQ(Count(shown, cls, 1), 0u) << cls;
        EXPECT_EQ(Count(shown, cls, 2), 1u) << cls;
        EXPECT_EQ(Count(1 - shown, cls, 1), 1u) << cls;
        EXPECT_EQ(Count(1 - shown, cls, 2), 1u) << cls;
    }
    // The session logged in on is one opened on the shown token's slot.
    const auto logins = Trace().Records("C_Login");
    ASSERT_EQ(logins.size(), 1u);
    bool bOnShownSlot = false;
    for (const CTraceRecord& open : Trace().Records("C_OpenSession"))
        bOnShownSlot |= open.Field("session") == logins[0].Field("session") &&
                        open.Field("slot") == std::to_string(m_slots[shown]);
    EXPECT_TRUE(bOnShownSlot);

    // Pulled out, the token is no longer named.
    Sim().Remove(m_slots[shown]);
    Dlg().OnTokenRemoved(m_slots[shown], 0);
    EXPECT_EQ(Dlg().windowTitle(), "");
}
