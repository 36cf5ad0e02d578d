#include "CMonitorTest.h"

#include "app/CQtTokenLog.h"

#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QtGlobal>

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

namespace {

// The hand-overs the monitor has begun, as its log tells them (from its thread).
std::atomic<unsigned long>& HandOversBegun()
{
    static std::atomic<unsigned long> count{0};
    return count;
}

void CountHandOvers(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (message.endsWith(QStringLiteral(", handed to the window")))
        ++HandOversBegun();
}

}  // namespace

TEST_F(MonitorTest, ClosingWhileEventsStreamInEndsPromptly)
{
    AddCerts();
    CQtTokenLog::EnableDebug();
    HandOversBegun() = 0;
    const QtMessageHandler previous = qInstallMessageHandler(CountHandOvers);
    Start();
    std::atomic<bool> stop{false};
    std::thread toggler([&] {
        for (bool in = false; !stop; in = !in) {
            in ? Sim().Insert(Slot()) : Sim().Remove(Slot());
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    EXPECT_TRUE(WaitUntil([&] { return Dlg().TokenEventsHandled() >= 2; }));
    // The monitor is left waiting in a hand-over that this thread, running
    // no events now, will not run: one begun and not handled.
    EXPECT_TRUE(testsupport::WaitUntil([&] { return HandOversBegun() > Dlg().TokenEventsHandled(); }));
    // Closing gives it up, and the thread ends: none is left behind.
    EXPECT_TRUE(Dlg().Follower().Stop());
    Close();
    stop = true;
    toggler.join();
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
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
