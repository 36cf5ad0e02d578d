// The presence monitor against a port of the test's own: every answer the
// module could give, in the order the test gives it, most of it polled on
// the test's own thread.
#include "CFakePresencePort.h"
#include "CRecordingSink.h"
#include "token/CPresenceMonitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Port = CFakePresencePort;
using Reports = std::vector<CRecordingSink::Event>;

class PresenceMonitorPortTest : public ::testing::Test {
protected:
    ~PresenceMonitorPortTest() override { m_pMonitor->Stop(CRecordingSink::kPatience); }

    // Polls on this thread until the monitor ends, stopping it once the
    // script is spent.
    void RunToTheEnd()
    {
        m_pMonitor->SetIdlePause(0ms);
        m_pPort->OnPoll([this](unsigned) {
            if (m_pPort->ScriptSpent())
                m_pMonitor->Stop(0ms);
        });
        EXPECT_EQ(m_pMonitor->Run(), 1u);
    }

    std::shared_ptr<Port> m_pPort = std::make_shared<Port>();
    CRecordingSink m_sink;
    std::shared_ptr<CPresenceMonitor> m_pMonitor = CPresenceMonitor::Create(m_pPort, m_sink);
};

struct SPortCase {
    const char* name;
    std::vector<Port::SAnswer> script;
    Reports reports;
};

// Slot 3 holds a token, slot 5 none.
TEST_F(PresenceMonitorPortTest, EachAnswerOfThePollGivesItsReport)
{
    const SPortCase cases[] = {
        {"events back to back, each with its slot", {Port::Event(3), Port::Event(5)},
         {{SLOT_EVENT_PRESENT, 3}, {SLOT_EVENT_ABSENT, 5}}},
        {"nothing pending", {Port::Module(CKR_NO_EVENT)}, {}},
        {"the port busy: polled again", {Port::Busy(), Port::Event(3)}, {{SLOT_EVENT_PRESENT, 3}}},
    };
    for (const SPortCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_pPort = std::make_shared<Port>();
        CRecordingSink sink;
        m_pMonitor = CPresenceMonitor::Create(m_pPort, sink);
        m_pPort->SetPresent(3, true);
        m_pPort->SetPresent(5, false);
        m_pPort->Script(c.script);
        RunToTheEnd();
        EXPECT_EQ(sink.Events(), c.reports);
        EXPECT_TRUE(m_pPort->Recorded().Warnings().empty());
    }
}

// Changes made while the module was finalised are found by comparing.
TEST_F(PresenceMonitorPortTest, ARevivedModuleIsComparedWithTheSlotsKnown)
{
    m_pPort->Script({Port::Module(CKR_CRYPTOKI_NOT_INITIALIZED)});
    m_pPort->SetPresentAfterRevival({7});
    m_pMonitor->SetIdlePause(0ms);
    ASSERT_TRUE(m_pMonitor->Start({5}));
    ASSERT_TRUE(m_sink.WaitForEvents(2));
    EXPECT_TRUE(m_pMonitor->Stop(CRecordingSink::kPatience));
    EXPECT_EQ(m_sink.Events(), (Reports{{SLOT_EVENT_ABSENT, 5}, {SLOT_EVENT_PRESENT, 7}}));
}

TEST_F(PresenceMonitorPortTest, StartWhileRunningIsRefused)
{
    ASSERT_TRUE(m_pMonitor->Start({}));
    EXPECT_FALSE(m_pMonitor->Start({}));
    EXPECT_TRUE(m_pMonitor->IsRunning());
}

// A stop asked for before the thread first polls is not lost; the stopped
// monitor reports nothing, and started again it reports what came meanwhile.
TEST_F(PresenceMonitorPortTest, StopRightAfterStartIsNotLost)
{
    ASSERT_TRUE(m_pMonitor->Start({}));
    EXPECT_TRUE(m_pMonitor->Stop(CRecordingSink::kPatience));
    EXPECT_FALSE(m_pMonitor->IsRunning());
    const unsigned polls = m_pPort->Polls();

    m_pPort->SetPresent(3, true);
    m_pPort->Script({Port::Event(3)});
    ASSERT_TRUE(m_pMonitor->Start({}));
    ASSERT_TRUE(m_sink.WaitForEvents(1));
    EXPECT_TRUE(m_pMonitor->Stop(CRecordingSink::kPatience));
    EXPECT_EQ(m_sink.Events(), (Reports{{SLOT_EVENT_PRESENT, 3}}));
    EXPECT_GT(m_pPort->Polls(), polls);
}

// The window may be held in a refresh when it closes: the stop waits for
// the report under way no longer than it was told to.
TEST_F(PresenceMonitorPortTest, StopWaitsForAReportUnderWayNoLongerThanItsTimeout)
{
    m_pPort->SetPresent(3, true);
    m_pPort->Script({Port::Event(3)});
    m_sink.Hold();
    ASSERT_TRUE(m_pMonitor->Start({}));
    ASSERT_TRUE(m_sink.WaitInReport());

    auto stopped = std::async(std::launch::async, [this] { return m_pMonitor->Stop(50ms); });
    const bool bReturned = stopped.wait_for(CRecordingSink::kPatience) == std::future_status::ready;
    m_sink.Release();
    ASSERT_TRUE(bReturned);
    EXPECT_FALSE(stopped.get());
}

struct SEndCase {
    const char* name;
    std::vector<Port::SAnswer> script;
    // What the one warning names.
    std::vector<std::string> named;
};

// A monitor that ends says why at warning level, once: the window no
// longer follows the token, and the user should know.
TEST_F(PresenceMonitorPortTest, AnEndingMonitorSaysWhyAtWarningLevel)
{
    const SEndCase cases[] = {
        {"no slot events", {Port::Module(CKR_FUNCTION_NOT_SUPPORTED)},
         {"C_WaitForSlotEvent", "CKR_FUNCTION_NOT_SUPPORTED"}},
        {"an error whose value is also one of the port's", {Port::Module(CKR_CANCEL)},
         {"C_WaitForSlotEvent", "CKR_CANCEL"}},
        {"an event for a slot that is none", {Port::Event(999)}, {"C_GetSlotInfo", "slot 999", "CKR_SLOT_ID_INVALID"}},
    };
    for (const SEndCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_pPort = std::make_shared<Port>();
        m_pMonitor = CPresenceMonitor::Create(m_pPort, m_sink);
        m_pPort->Script(c.script);
        m_pMonitor->SetIdlePause(0ms);
        EXPECT_EQ(m_pMonitor->Run(), 1u);
        EXPECT_EQ(m_pPort->Polls(), c.script.size());
        std::vector<std::string> warnings = m_pPort->Recorded().Warnings();
        ASSERT_EQ(warnings.size(), 1u);
        for (const std::string& part : c.named)
            EXPECT_NE(warnings[0].find(part), std::string::npos) << warnings[0];
    }
    EXPECT_TRUE(m_sink.Events().empty());
}

// A module that reports an event on every poll: the monitor hands over a
// few in a row, as it would events that came together, then pauses.
TEST_F(PresenceMonitorPortTest, AnEventOnEveryPollIsPolledWithPauses)
{
    constexpr unsigned kPolls = 3 * CPresenceMonitor::kEventsInARow + 1;
    m_pPort->SetPresent(3, true);
    m_pPort->EventEveryPoll(3);
    m_pPort->OnPoll([this](unsigned poll) {
        if (poll == kPolls)
            m_pMonitor->Stop(0ms);
    });
    m_pMonitor->SetIdlePause(0ms);
    EXPECT_EQ(m_pMonitor->Run(), 1u);
    EXPECT_EQ(m_sink.Events().size(), kPolls - 1);
    EXPECT_EQ(m_pPort->Recorded().DebugLinesWith("in a row: pausing"), 3u);
}

}  // namespace
