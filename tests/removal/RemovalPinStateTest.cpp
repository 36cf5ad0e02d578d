#include "CRemovalTest.h"

#include "removal/CKeypadNotice.h"
#include "token/TokenMessages.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// What the token says of its user PIN decides how it is asked for: a
// locked one not at all, a last try only after a warning, a keypad's on
// the keypad, while a notice stays up and the windows stay painted.
class RemovalPinStateTest : public CRemovalTest {
protected:
    // Presses the button; once the keypad login waits behind its notice,
    // `whileWaiting` runs (as the user, or the world meanwhile), then the
    // user types the PIN on the keypad. False when the login never waited.
    bool ClickAndUseTheKeypad(const std::function<void(QWidget& notice)>& whileWaiting)
    {
        bool bWaited = false;
        QTimer poll;
        poll.setInterval(5);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            // Runs on the window's thread: it is not held by the login.
            QWidget* notice = QApplication::activeModalWidget();
            if (notice == nullptr || notice->objectName() != CKeypadNotice::kObjectName || !notice->isVisible() ||
                Trace().CountBlocking("C_Login") != 1)
                return;
            poll.stop();
            bWaited = true;
            whileWaiting(*notice);
            Sim().EnterOnKeypad(testsupport::CSoftHsmToken::kUserPin);
        });
        poll.start();
        // Should the login hold this thread instead, the poll never runs:
        // a keypad entry from here lets the test fail instead of hanging.
        std::mutex mutex;
        std::condition_variable clicked;
        bool bClicked = false;
        std::thread rescue([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!clicked.wait_for(lock, testsupport::Patience(std::chrono::seconds(20)), [&] { return bClicked; }))
                Sim().EnterOnKeypad(testsupport::CSoftHsmToken::kUserPin);
        });
        Click();
        {
            std::lock_guard<std::mutex> lock(mutex);
            bClicked = true;
        }
        clicked.notify_all();
        rescue.join();
        return bWaited;
    }
};

TEST_F(RemovalPinStateTest, LockedPinIsToldAndNeverAskedFor)
{
    AddStandardCerts();
    Sim().SetTokenFlags(Slot(), CKF_USER_PIN_LOCKED);
    Start();
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, "USBKey密码已被锁定！"}));
    EXPECT_EQ(m_prompts.Prompts()[1].caption, "提示...");
    EXPECT_EQ(m_prompts.Prompts()[1].type, MB_ICONHAND);
    EXPECT_EQ(Trace().Count("C_Login"), 0u);
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    EXPECT_FALSE(ModuleClosed());
    EXPECT_GE(Trace().Count("C_GetSlotList"), 1u);  // the list is read anew
    EXPECT_EQ(Names().size(), 4u);
}

TEST_F(RemovalPinStateTest, LastTryIsSpentOnlyAfterAWarning)
{
    AddStandardCerts();
    Sim().SetTokenFlags(Slot(), CKF_USER_PIN_FINAL_TRY);
    Start();
    m_prompts.Answer(Messages::kPinFinalTry, IDCANCEL);
    Click();
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, Messages::kPinFinalTry}));
    EXPECT_EQ(m_prompts.Prompts()[1].caption, "提示...");
    EXPECT_EQ(m_prompts.Prompts()[1].type, MB_OKCANCEL | MB_ICONEXCLAMATION);
    EXPECT_EQ(Trace().Count("C_Login"), 0u);
    EXPECT_TRUE(ModuleClosed());  // as when the confirmation is declined
    for (unsigned char id : {1, 2, 3, 4})
        EXPECT_TRUE(AllThere(id));
    EXPECT_EQ(Names().size(), 4u);

    m_prompts.Answer(Messages::kPinFinalTry, IDOK);
    Click();
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, Messages::kPinFinalTry, kPin,
                                                 Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(NoneThere(2));
    EXPECT_TRUE(AllThere(3));
}

TEST_F(RemovalPinStateTest, KeypadLoginWaitsBehindANoticeThatStaysUp)
{
    AddStandardCerts();
    Sim().SetTokenFlags(Slot(), CKF_PROTECTED_AUTHENTICATION_PATH);
    Start();
    bool bStayedUp = false;
    ASSERT_TRUE(ClickAndUseTheKeypad([&](QWidget& notice) {
        QTest::keyClick(&notice, Qt::Key_Escape);
        notice.close();
        bStayedUp = notice.isVisible();
    }));
    EXPECT_TRUE(bStayedUp);
    ASSERT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, Messages::kEnterPinOnKeypad,
                                                 Messages::kDeleted}));
    EXPECT_EQ(m_prompts.Prompts()[1].caption, Messages::kKeypadCaption);
    std::vector<CTraceRecord> logins = Trace().Records("C_Login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_EQ(logins[0].Field("pin"), "null");
    EXPECT_EQ(logins[0].Field("pinlen"), "0");
    EXPECT_EQ(logins[0].Rv(), "CKR_OK");
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(NoneThere(2));
    EXPECT_TRUE(AllThere(3));
    EXPECT_TRUE(AllThere(4));
}

// The monitor's events reach the window while the keypad login holds the
// module: they are not acted on then (the module is busy), but they make
// the scan's handles suspect, so nothing is deleted.
TEST_F(RemovalPinStateTest, TokenEventDuringTheKeypadLoginAbandonsTheRun)
{
    AddStandardCerts();
    Sim().SetTokenFlags(Slot(), CKF_PROTECTED_AUTHENTICATION_PATH);
    Start();
    std::size_t rowsWhileWaiting = 0;
    ASSERT_TRUE(ClickAndUseTheKeypad([&](QWidget&) {
        Dlg().Follower().OnMessage(WM_TOKEN_REMOVED, Slot());
        rowsWhileWaiting = Rows().size();
    }));
    EXPECT_EQ(rowsWhileWaiting, 4u);
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, Messages::kEnterPinOnKeypad,
                                                 Messages::kCommunicationFailed}));
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);
    EXPECT_TRUE(Trace().InOrder({"C_Login", "C_Logout"}));
    for (unsigned char id : {1, 2, 3, 4})
        EXPECT_TRUE(AllThere(id));
    EXPECT_EQ(Rows().size(), 4u);
}

// A token event just before the press leaves a refresh waiting; the
// removal's own scan is newer and answers it, so it never falls due in the
// keypad wait, where it would find the module held by the login.
TEST_F(RemovalPinStateTest, RefreshLeftWaitingIsAnsweredByTheRemovalsScan)
{
    AddStandardCerts();
    Sim().SetTokenFlags(Slot(), CKF_PROTECTED_AUTHENTICATION_PATH);
    Start();
    const auto frozen = CRefreshPacing::Clock::now();
    Dlg().Follower().SetPacingClock([frozen] { return frozen; });
    Dlg().RefreshList();
    Dlg().Follower().OnMessage(WM_TOKEN_INSERTED, Slot());
    ASSERT_TRUE(Dlg().Follower().RefreshWaiting());
    bool bWaiting = true;
    ASSERT_TRUE(ClickAndUseTheKeypad([&](QWidget&) { bWaiting = Dlg().Follower().RefreshWaiting(); }));
    EXPECT_FALSE(bWaiting);
    EXPECT_EQ(Texts(), (std::vector<std::string>{Messages::kConfirmDelete, Messages::kEnterPinOnKeypad,
                                                 Messages::kDeleted}));
    EXPECT_TRUE(NoneThere(1));
    EXPECT_TRUE(AllThere(3));
}
