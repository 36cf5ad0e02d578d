#include "CMonitorTest.h"

#include "inventory/InventoryMessages.h"
#include "removal/RemovalMessages.h"
#include "res/resource.h"

#include "app/CCertPurgeApp.h"

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <string>

using MonitorModesTest = CMonitorTest;

// Modules without slot events: no-wait answers every C_WaitForSlotEvent
// with CKR_FUNCTION_NOT_SUPPORTED, as p11-kit's proxy does with
// p11-kit-trust registered, opencryptoki and tpm2-pkcs11; no-blocking-wait
// only one without CKF_DONT_BLOCK, as SoftHSM2. The window follows the
// token all the same, and while nothing changes its polls ask the token
// itself nothing.
TEST_F(MonitorModesTest, WithoutSlotEventsTheWindowFollowsTheTokenAllTheSame)
{
    AddCerts();
    for (ETokenSimMode mode : {ETokenSimMode::NoWait, ETokenSimMode::NoBlockingWait}) {
        SCOPED_TRACE(CTokenSimState::ModeName(mode));
        Sim().SetMode(mode);
        Sim().Remove(Slot());
        Start();
        EXPECT_TRUE(ListEmpty());
        InsertAndRemove();
        Sim().Insert(Slot());
        EXPECT_TRUE(WaitUntil([&] { return ListFilled(); }));

        Trace().Truncate();
        const char* poll = mode == ETokenSimMode::NoWait ? "C_GetSlotList" : "C_WaitForSlotEvent";
        EXPECT_TRUE(WaitUntil([&] { return Trace().Count(poll) >= 3; }));
        EXPECT_EQ(Trace().Count("C_GetTokenInfo"), 0u);
        EXPECT_EQ(Trace().Count("C_OpenSession"), 0u);
        EXPECT_TRUE(Dlg().Follower().IsRunning());
        EXPECT_TRUE(m_prompts.Prompts().empty());
        Close();
    }
}

TEST_F(MonitorModesTest, ModuleReportingPresentTokensAtInitialisation)
{
    Sim().SetMode(ETokenSimMode::EventsAtInit);
    StartWithoutTheToken();
    InsertAndRemove();
    Sim().Insert(Slot());
    EXPECT_TRUE(WaitUntil([&] { return ListFilled(); }));
    EXPECT_TRUE(m_prompts.Prompts().empty());
}

TEST_F(MonitorModesTest, SlowNonBlockingPoll)
{
    Sim().SetMode(ETokenSimMode::SlowPoll);
    StartWithoutTheToken();
    InsertAndRemove(std::chrono::seconds(15));
    EXPECT_TRUE(m_prompts.Prompts().empty());
}

TEST_F(MonitorModesTest, SlowPollHoldsTheWindowUpForOneCallAtMost)
{
    AddCerts();
    Sim().SetMode(ETokenSimMode::SlowPoll);
    // After a poll the monitor pauses far longer than a refresh takes, in
    // the slowest build: a refresh that saw two polls end waited for both.
    m_monitorPause = testsupport::Patience(CPresenceMonitor::kIdlePause);
    Start();
    // A refresh waits at most for the poll in progress, not for a series.
    for (int i = 0; i < 3; ++i) {
        const std::size_t polls = Trace().Count("C_WaitForSlotEvent");
        Dlg().RefreshList();
        EXPECT_LE(Trace().Count("C_WaitForSlotEvent"), polls + 1);
        EXPECT_TRUE(ListFilled());
    }
}

// A module that ignores CKF_DONT_BLOCK holds the monitor's thread, and with
// it the module, until the token changes.
class BlockingModuleTest : public CMonitorTest {
protected:
    void StartHeldInTheModule()
    {
        AddCerts();
        AddCert("Exp", "20200101000000Z", "20210101000000Z", {3});
        Sim().SetMode(ETokenSimMode::BlockingWait);
        Start();
        ASSERT_TRUE(WaitUntil([&] { return Trace().CountBlocking("C_WaitForSlotEvent") >= 1; }));
    }

    // Lets the thread out of the module, and waits until it has let the
    // module go: its last call is to finalise it, and the process must not
    // end under it. The module stays mapped to the end of the process.
    void ReleaseTheThread()
    {
        const std::size_t finalised = Trace().Count("C_Finalize");
        Sim().Remove(Slot());
        EXPECT_TRUE(WaitUntil([&] { return Trace().Count("C_Finalize") > finalised; }));
        EXPECT_TRUE(SimulatorMapped());
    }

    static bool SimulatorMapped()
    {
        std::ifstream maps("/proc/self/maps");
        std::string line;
        while (std::getline(maps, line)) {
            if (line.find("libtokensim.so") != std::string::npos)
                return true;
        }
        return false;
    }
};

TEST_F(BlockingModuleTest, ClosingLeavesTheThreadBehindAndEndsPromptly)
{
    StartHeldInTheModule();
    Trace().Truncate();
    EXPECT_FALSE(Dlg().Follower().Stop());
    EXPECT_TRUE(Dlg().Follower().LeftBehind());
    Close();
    // Closed with the thread still in its wait: nothing waited for it.
    EXPECT_EQ(Trace().Count("C_WaitForSlotEvent"), 0u);
    EXPECT_EQ(Trace().Count("C_Finalize"), 0u);  // the module stays loaded for the thread
    ReleaseTheThread();
}

// A monitor started again after one was left behind is stopped as any
// other; the program still knows that a thread was left behind.
TEST_F(BlockingModuleTest, AMonitorStartedAgainAfterOneLeftBehindIsStopped)
{
    StartHeldInTheModule();
    EXPECT_FALSE(Dlg().Follower().Stop());
    Sim().SetMode(ETokenSimMode::Normal);
    Sim().Remove(Slot());
    ASSERT_TRUE(WaitUntil([&] { return !Dlg().Follower().IsRunning(); }));

    ASSERT_TRUE(Dlg().StartMonitor());
    ASSERT_TRUE(Dlg().Follower().IsRunning());
    EXPECT_FALSE(Dlg().Follower().Stop());
    EXPECT_FALSE(Dlg().Follower().IsRunning());
    EXPECT_TRUE(Dlg().Follower().LeftBehind());
}

TEST_F(BlockingModuleTest, ButtonFailsWithItsMessageInsteadOfFreezing)
{
    StartHeldInTheModule();
    m_prompts.Forget();
    Dlg().OnDeleteExpired();
    EXPECT_EQ(m_prompts.Texts(), (std::vector<std::string>{Messages::kCommunicationFailed}));
    EXPECT_EQ(Trace().Count("C_OpenSession"), 1u);  // the start-up's alone
    EXPECT_EQ(Trace().Count("C_DestroyObject"), 0u);

    // Once the module answers again the window works as before.
    Sim().Remove(Slot());
    EXPECT_TRUE(WaitUntil([&] { return ListEmpty(); }));
    Sim().Insert(Slot());
    EXPECT_TRUE(WaitUntil([&] { return Rows().size() == 3; }));
    Close();
    ReleaseTheThread();
}

TEST_F(BlockingModuleTest, ApplicationEndsPromptlyAfterEscape)
{
    AddCerts();
    Sim().SetMode(ETokenSimMode::BlockingWait);
    CCertPurgeApp app;
    std::size_t waits = 0;
    QTimer escape;
    QObject::connect(&escape, &QTimer::timeout, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr || Trace().CountBlocking("C_WaitForSlotEvent") < 1)
            return;
        escape.stop();
        waits = Trace().Count("C_WaitForSlotEvent");
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    escape.start(10);
    EXPECT_FALSE(app.InitInstance());
    // Ended with the thread still in its wait: nothing waited for it.
    EXPECT_EQ(Trace().Count("C_WaitForSlotEvent"), waits);
    EXPECT_TRUE(app.ThreadLeftBehind());
    ReleaseTheThread();
}
