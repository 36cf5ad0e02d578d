#include "CMonitorTest.h"

#include "res/Messages.h"
#include "res/resource.h"

#include <QElapsedTimer>

using MonitorModesTest = CMonitorTest;

TEST_F(MonitorModesTest, WaitNotSupportedEndsTheMonitorSilently)
{
    AddCerts();
    AddCert("Exp", "20200101000000Z", "20210101000000Z", {3});
    Sim().SetMode(ETokenSimMode::NoWait);
    Start();
    ASSERT_TRUE(WaitUntil([&] { return !Dlg().MonitorRunning(); }));
    EXPECT_EQ(Trace().Count("C_WaitForSlotEvent"), 1u);
    EXPECT_TRUE(m_prompts.Prompts().empty());

    // The window goes on working without it.
    Dlg().RefreshList();
    EXPECT_EQ(Rows().size(), 3u);
    m_prompts.Answer(Messages::kConfirmDelete, IDCANCEL);
    Dlg().OnDeleteExpired();
    EXPECT_EQ(m_prompts.Texts(), (std::vector<std::string>{Messages::kConfirmDelete}));
}


TEST_F(MonitorModesTest, ModuleReportingPresentTokensAtInitialisation)
{
    AddCerts();
    Sim().SetMode(ETokenSimMode::EventsAtInit);
    Sim().Remove(Slot());
    Start();
    EXPECT_TRUE(ListEmpty());
    Sim().Insert(Slot());
    EXPECT_TRUE(WaitUntil([&] { return ListFilled(); }));
    Sim().Remove(Slot());
    EXPECT_TRUE(WaitUntil([&] { return ListEmpty(); }));
    Sim().Insert(Slot());
    EXPECT_TRUE(WaitUntil([&] { return ListFilled(); }));
    EXPECT_TRUE(m_prompts.Prompts().empty());
}

TEST_F(MonitorModesTest, SlowNonBlockingPoll)
{
    AddCerts();
    Sim().SetMode(ETokenSimMode::SlowPoll);
    Sim().Remove(Slot());
    Start();
    Sim().Insert(Slot());
    EXPECT_TRUE(WaitUntil([&] { return ListFilled(); }, 15000));
    Sim().Remove(Slot());
    EXPECT_TRUE(WaitUntil([&] { return ListEmpty(); }, 15000));
    EXPECT_TRUE(m_prompts.Prompts().empty());
}

TEST_F(MonitorModesTest, SlowPollHoldsTheWindowUpForOneCallAtMost)
{
    AddCerts();
    Sim().SetMode(ETokenSimMode::SlowPoll);
    Start();
    // A refresh waits at most for the poll in progress, not for a series.
    for (int i = 0; i < 3; ++i) {
        QElapsedTimer timer;
        timer.start();
        Dlg().RefreshList();
        EXPECT_LT(timer.elapsed(), 2000 * Slack());
        EXPECT_TRUE(ListFilled());
    }
}
