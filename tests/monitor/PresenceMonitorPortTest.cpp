// The presence monitor against a port of the test's own: every answer the
// module could give, in the order the test gives it, most of it polled on
// the test's own thread.
#include "CFakePresencePort.h"
#include "CRecordingSink.h"
#include "token/CPresenceMonitor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
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

    // Until `done` holds, a state of the monitor's thread.
    static bool WaitUntil(const std::function<bool()>& done)
    {
        const auto deadline = std::chrono::steady_clock::now() + CRecordingSink::kPatience;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(1ms);
        }
        return true;
    }

    // Every report the polls on this thread find until one finds nothing.
    Reports Drain()
    {
        Reports reports;
        CK_SLOT_ID slot = 0;
        for (SlotEvent event; (event = m_pMonitor->PollSlotEvent(&slot)) != SLOT_EVENT_NONE;) {
            if (event == SLOT_EVENT_FAILED)
                break;
            reports.emplace_back(event, slot);
        }
        return reports;
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

// A stop asked for before the thread runs is not lost: the thread polls
// once and ends by itself. The stop is asked while Start is under way (it
// writes its log line before it starts the thread), which is all one to
// the thread. The stopped monitor reports nothing, and started again it
// reports what came meanwhile.
TEST_F(PresenceMonitorPortTest, StopRightAfterStartIsNotLost)
{
    bool bAsked = false;
    m_pPort->Recorded().OnDebug([&](const std::string& line) {
        if (line.rfind("started", 0) == 0 && !bAsked) {
            bAsked = true;
            m_pMonitor->Stop(0ms);  // the thread does not exist yet
        }
    });
    m_pMonitor->SetIdlePause(0ms);
    ASSERT_TRUE(m_pMonitor->Start({}));
    ASSERT_TRUE(bAsked);
    // A thread that lost the stop polls on and on.
    ASSERT_TRUE(WaitUntil([&] { return !m_pMonitor->IsRunning() || m_pPort->Polls() > 1; }));
    EXPECT_FALSE(m_pMonitor->IsRunning());
    EXPECT_EQ(m_pPort->Polls(), 1u);
    EXPECT_TRUE(m_pMonitor->Stop(CRecordingSink::kPatience));
    m_pPort->Recorded().OnDebug(nullptr);
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
    CK_RV slotList = CKR_OK;  // the slot list's answer
};

// A monitor that ends says why at warning level, once: the window no
// longer follows the token, and the user should know.
TEST_F(PresenceMonitorPortTest, AnEndingMonitorSaysWhyAtWarningLevel)
{
    const SEndCase cases[] = {
        {"no slot events, and no slot list", {Port::Module(CKR_FUNCTION_NOT_SUPPORTED)},
         {"C_GetSlotList", "CKR_DEVICE_ERROR"}, CKR_DEVICE_ERROR},
        {"an error whose value is also one of the port's", {Port::Module(CKR_CANCEL)},
         {"C_WaitForSlotEvent", "CKR_CANCEL"}},
        {"an event for a slot that is none", {Port::Event(999)}, {"C_GetSlotInfo", "slot 999", "CKR_SLOT_ID_INVALID"}},
    };
    for (const SEndCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_pPort = std::make_shared<Port>();
        m_pMonitor = CPresenceMonitor::Create(m_pPort, m_sink);
        m_pPort->Script(c.script);
        m_pPort->SetSlotListAnswer(c.slotList);
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
// few in a row, as it would events that came together, then pauses. A
// pause lasts its length at least, so the poll after each run of events
// comes that long after the poll before it, whatever the machine's load.
TEST_F(PresenceMonitorPortTest, AnEventOnEveryPollIsPolledWithPauses)
{
    constexpr unsigned kRun = CPresenceMonitor::kEventsInARow;
    constexpr unsigned kPolls = 3 * kRun + 1;
    constexpr auto kPause = 100ms;
    std::map<unsigned, std::chrono::steady_clock::time_point> polled;
    m_pPort->SetPresent(3, true);
    m_pPort->EventEveryPoll(3);
    m_pPort->OnPoll([&](unsigned poll) {
        polled[poll] = std::chrono::steady_clock::now();
        if (poll == kPolls)
            m_pMonitor->Stop(0ms);
    });
    m_pMonitor->SetIdlePause(kPause);
    EXPECT_EQ(m_pMonitor->Run(), 1u);
    EXPECT_EQ(m_sink.Events().size(), kPolls - 1);
    ASSERT_EQ(polled.size(), kPolls);
    for (unsigned poll = kRun + 1; poll <= kPolls; poll += kRun)
        EXPECT_GE(polled[poll] - polled[poll - 1], kPause) << "no pause before poll " << poll;
}

struct SCompareCase {
    const char* name;
    std::function<void(Port&)> change;  // made between two polls
    Reports reports;
    unsigned tokenReads;  // the tokens asked who they are
};

// A module without slot events (C_WaitForSlotEvent unsupported) has its
// tokens compared at every poll, and what changed is reported as events
// would be. Slot 3 holds a removable token, slot 5 a token in a fixed slot
// (a software token). Only what modules answer from the readers' state is
// asked while nothing changes: who a token is only when its slot changed.
TEST_F(PresenceMonitorPortTest, AModuleWithoutSlotEventsHasItsTokensCompared)
{
    const SCompareCase cases[] = {
        {"nothing changed", [](Port&) {}, {}, 0},
        {"a token pulled out", [](Port& p) { p.SetPresent(3, false); }, {{SLOT_EVENT_ABSENT, 3}}, 0},
        {"a token put in", [](Port& p) { p.SetPresent(7, true); }, {{SLOT_EVENT_PRESENT, 7}}, 1},
        {"another token put in its place between two polls", [](Port& p) { p.SwapToken(3, "other"); },
         {{SLOT_EVENT_ABSENT, 3}, {SLOT_EVENT_PRESENT, 3}}, 1},
        {"the same token pulled out and put back between two polls",
         [](Port& p) { p.EndWatch(3, Port::EWatch::Gone); }, {{SLOT_EVENT_ABSENT, 3}, {SLOT_EVENT_PRESENT, 3}}, 1},
        {"a fixed slot changed, with another token",
         [](Port& p) {
             p.SetSlotFlags(5, CKF_HW_SLOT);
             p.SwapToken(5, "other");
         },
         {{SLOT_EVENT_ABSENT, 5}, {SLOT_EVENT_PRESENT, 5}}, 1},
        {"a fixed slot changed, its token the same", [](Port& p) { p.SetSlotFlags(5, CKF_HW_SLOT); }, {}, 1},
        {"the module finalised and brought back, a token put in meanwhile",
         [](Port& p) {
             p.SetSlotListAnswer(CKR_CRYPTOKI_NOT_INITIALIZED);
             p.EndWatch(3, Port::EWatch::Lapsed);
             p.SetPresent(7, true);
         },
         {{SLOT_EVENT_PRESENT, 7}}, 2},
        {"the module cannot tell a watched token's fate", [](Port& p) { p.EndWatch(3, Port::EWatch::Unknown); },
         {}, 0},
    };
    for (const SCompareCase& c : cases) {
        SCOPED_TRACE(c.name);
        m_pPort = std::make_shared<Port>();
        m_pMonitor = CPresenceMonitor::Create(m_pPort, m_sink);
        m_pPort->SetPresent(3, true);
        m_pPort->SetPresent(5, true);
        m_pPort->SetSlotFlags(5, 0);
        m_pPort->Script({Port::Module(CKR_FUNCTION_NOT_SUPPORTED)});
        ASSERT_EQ(Drain(), (Reports{{SLOT_EVENT_PRESENT, 3}, {SLOT_EVENT_PRESENT, 5}}));
        EXPECT_EQ(m_pPort->Watched(), 1u);  // the removable token's alone
        const unsigned tokenReads = m_pPort->CallsOf("C_GetTokenInfo");

        c.change(*m_pPort);
        EXPECT_EQ(Drain(), c.reports);
        EXPECT_EQ(m_pPort->CallsOf("C_GetTokenInfo") - tokenReads, c.tokenReads);
        // Then quiet again, without a word to any token.
        EXPECT_EQ(Drain(), Reports{});
        EXPECT_EQ(m_pPort->CallsOf("C_GetTokenInfo") - tokenReads, c.tokenReads);
        EXPECT_EQ(m_pPort->Polls(), 1u);  // the one wait that was not supported
        EXPECT_TRUE(m_pPort->Recorded().Warnings().empty());
    }
}

// A module busy with another caller answers nothing of a token just put
// in: the comparison learns nothing of it, and tells it at the next poll.
TEST_F(PresenceMonitorPortTest, AnInsertionMetByABusyModuleIsToldAtTheNextPoll)
{
    m_pPort->SetPresent(3, true);
    m_pPort->Script({Port::Module(CKR_FUNCTION_NOT_SUPPORTED)});
    ASSERT_EQ(Drain(), (Reports{{SLOT_EVENT_PRESENT, 3}}));
    m_pPort->SetPresent(7, true);
    m_pPort->BusyOnce(7);
    EXPECT_EQ(Drain(), Reports{});
    EXPECT_EQ(Drain(), (Reports{{SLOT_EVENT_PRESENT, 7}}));
}

}  // namespace
