#include "CMonitorTest.h"


#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

using MonitorTest = CMonitorTest;

TEST_F(MonitorTest, StartWithoutTokenThenInsertAndRemove)
{
    StartWithoutTheToken();
    InsertAndRemove();
    EXPECT_TRUE(m_prompts.Prompts().empty());
    EXPECT_TRUE(Dlg().Follower().IsRunning());
}

TEST_F(MonitorTest, TwentyCyclesEachReflected)
{
    AddCerts();
    m_monitorPause = std::chrono::milliseconds(20);  // the cycles, not the pauses, are under test
    Start();
    ASSERT_TRUE(ListFilled());
    for (int i = 0; i < 20; ++i) {
        Sim().Remove(Slot());
        ASSERT_TRUE(WaitUntil([&] { return ListEmpty(); })) << "cycle " << i;
        Sim().Insert(Slot());
        ASSERT_TRUE(WaitUntil([&] { return ListFilled(); })) << "cycle " << i;
    }
    EXPECT_TRUE(m_prompts.Prompts().empty());
}

TEST_F(MonitorTest, EventsBackToBackAreHandedOverWithoutPausing)
{
    AddCerts();
    Start();
    Trace().Truncate();
    // Both changes are made before the window's thread runs the first
    // hand-over, so the second is pending when the monitor polls again.
    Sim().Remove(Slot());
    Sim().Insert(Slot());
    // Both events polled: the token may already be back when the first one
    // is looked at, and that alone fills the list.
    auto waits = [&] {
        std::vector<std::string> rvs;
        for (const CTraceRecord& r : Trace().Records("C_WaitForSlotEvent"))
            rvs.push_back(r.Rv());
        return rvs;
    };
    ASSERT_TRUE(WaitUntil([&] {
        std::vector<std::string> rvs = waits();
        return std::count(rvs.begin(), rvs.end(), "CKR_OK") >= 2 && ListFilled();
    }));
    EXPECT_GE(Trace().Count("C_GetTokenInfo"), 1u);
    std::vector<std::string> rvs = waits();
    auto first = std::find(rvs.begin(), rvs.end(), "CKR_OK");
    ASSERT_NE(first, rvs.end());
    ASSERT_NE(first + 1, rvs.end());
    EXPECT_EQ(*(first + 1), "CKR_OK");  // polled again at once: no empty poll, no pause between
}

TEST_F(MonitorTest, IdleMonitorPollsWithPausesAndSendsNothing)
{
    AddCerts();
    Start();
    Trace().Truncate();
    QElapsedTimer timer;
    timer.start();
    // Three polls take at least the two pauses between them: not a busy loop.
    ASSERT_TRUE(WaitUntil([&] { return Trace().Count("C_WaitForSlotEvent") >= 3; }));
    EXPECT_GE(timer.elapsed(), 2 * 500 - 50);
    EXPECT_EQ(Trace().Count("C_FindObjectsInit"), 0u);
}

TEST_F(MonitorTest, TokenThatDoesNotAnswerLeavesTheList)
{
    AddCerts();
    Start();
    Sim().Remove(Slot());
    ASSERT_TRUE(WaitUntil([&] { return ListEmpty(); }));
    Sim().AddFault("C_GetTokenInfo:*:CKR_DEVICE_ERROR");
    const unsigned long handled = Dlg().TokenEventsHandled();
    const std::size_t listings = Trace().Count("C_GetSlotList");
    Sim().Insert(Slot());
    ASSERT_TRUE(WaitUntil([&] { return Dlg().TokenEventsHandled() > handled; }));
    EXPECT_FALSE(Dlg().Follower().RefreshWaiting());
    EXPECT_EQ(Trace().Count("C_GetSlotList"), listings);  // not read again
    EXPECT_TRUE(ListEmpty());
    EXPECT_TRUE(m_prompts.Prompts().empty());
    EXPECT_TRUE(Dlg().Follower().IsRunning());
}

TEST_F(MonitorTest, InsertionMadeWhileTheModuleWasFinalisedIsSeen)
{
    AddCerts();
    Start();
    Dlg().Follower().Stop();
    Sim().Remove(Slot());
    Dlg().RefreshList();  // no token: the module is finalised
    ASSERT_TRUE(ListEmpty());
    Sim().Insert(Slot());  // while finalised: no event after the next C_Initialize
    ASSERT_TRUE(Dlg().StartMonitor());
    EXPECT_TRUE(WaitUntil([&] { return ListFilled(); }));
}

TEST_F(MonitorTest, RemovalMadeWhileTheModuleWasClosedIsSeen)
{
    AddCerts();
    AddCert("Exp", "20200101000000Z", "20210101000000Z", {3});
    Start();
    // The removal closes the module on some paths and leaves the rows.
    Dlg().Token().Close();
    ASSERT_EQ(Rows().size(), 3u);
    ASSERT_EQ(Dlg().Token().SlotCount(), 0u);
    Sim().Remove(Slot());
    EXPECT_TRUE(WaitUntil([&] { return ListEmpty(); }));
    Sim().Insert(Slot());
    EXPECT_TRUE(WaitUntil([&] { return Rows().size() == 3; }));
}

TEST_F(MonitorTest, ClosingWhileEventsStreamInEndsPromptly)
{
    AddCerts();
    Start();
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
        for (bool in = false; !stop; in = !in) {
            in ? Sim().Insert(Slot()) : Sim().Remove(Slot());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    Pump(300);
    // The monitor is left waiting in a hand-over that this thread will not run.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    QElapsedTimer timer;
    timer.start();
    Close();
    qint64 elapsed = timer.elapsed();
    stop = true;
    toggler.join();
    EXPECT_LT(elapsed, 1000 * Slack());
}

TEST_F(MonitorTest, StopBeforeTheThreadRunsIsNotLost)
{
    AddCerts();
    Start();
    for (int i = 0; i < 20; ++i) {
        Dlg().Follower().Stop();
        EXPECT_FALSE(Dlg().Follower().IsRunning());
        ASSERT_TRUE(Dlg().StartMonitor());
    }
}
