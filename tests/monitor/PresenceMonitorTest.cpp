// The presence monitor on its own, against the token simulator: no window,
// a sink that records what it is told.
#include "CRecordingSink.h"
#include "CSimulatedToken.h"
#include "WaitUntil.h"
#include "token/CPresenceMonitor.h"
#include "token/CTokenModule.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::Patience;
using testsupport::WaitUntil;

class PresenceMonitorTest : public ::testing::Test {
protected:
    ~PresenceMonitorTest() override
    {
        if (m_pMonitor)
            m_pMonitor->Stop(Patience(2s));
    }

    // Loads the simulator and starts the monitor, knowing the slots now holding a token.
    void StartMonitor()
    {
        ASSERT_TRUE(m_pModule->Load(testsupport::CSimulatedToken::ModulePath()).Loaded());
        ASSERT_EQ(m_pModule->GetSlotList(), CKR_OK);
        ASSERT_TRUE(m_pMonitor->Start(m_pModule->SlotList()));
    }

    CK_SLOT_ID Slot() const { return m_sim.Slot(); }
    CTokenSimControl& Sim() { return m_sim.Control(); }

    testsupport::CSimulatedToken m_sim;
    CRecordingSink m_sink;
    std::shared_ptr<CTokenModule> m_pModule = std::make_shared<CTokenModule>();
    std::shared_ptr<CPresenceMonitor> m_pMonitor = CPresenceMonitor::Create(m_pModule, m_sink);
};

TEST_F(PresenceMonitorTest, RemovalAndInsertionAreReportedInOrder)
{
    StartMonitor();
    Sim().Remove(Slot());
    ASSERT_TRUE(m_sink.WaitForEvents(1));
    Sim().Insert(Slot());
    ASSERT_TRUE(m_sink.WaitForEvents(2));
    EXPECT_EQ(m_sink.Events(), (std::vector<CRecordingSink::Event>{{SLOT_EVENT_ABSENT, Slot()}, {SLOT_EVENT_PRESENT, Slot()}}));
    EXPECT_TRUE(m_pMonitor->Stop(Patience(2s)));
    EXPECT_FALSE(m_pMonitor->IsRunning());
}

// Whatever the module's error, also one whose value equals one of the
// wrapper's own (CKR_CANCEL is 1, CKR_HOST_MEMORY 2): no empty poll.
TEST_F(PresenceMonitorTest, ModuleFailureEndsTheThreadWithoutReport)
{
    for (const char* rv : {"CKR_DEVICE_ERROR", "CKR_CANCEL", "CKR_HOST_MEMORY"}) {
        Sim().ClearFaults();
        Sim().AddFault(std::string("C_WaitForSlotEvent:*:") + rv);
        m_sim.Trace().Truncate();
        auto module = std::make_shared<CTokenModule>();
        auto monitor = CPresenceMonitor::Create(module, m_sink);
        ASSERT_TRUE(module->Load(testsupport::CSimulatedToken::ModulePath()).Loaded());
        ASSERT_TRUE(monitor->Start({}));
        EXPECT_TRUE(WaitUntil([&] { return !monitor->IsRunning(); })) << rv;
        EXPECT_EQ(m_sim.Trace().Count("C_WaitForSlotEvent"), 1u) << rv;
        monitor->Stop(Patience(2s));
    }
    EXPECT_TRUE(m_sink.Events().empty());
}

struct SComparedChange {
    const char* name;
    std::function<void()> change;  // made between two polls
    std::vector<CRecordingSink::Event> reports;
};

// A module without slot events (the simulator's no-wait mode) has its
// tokens compared, polled here on the test's thread between changes.
TEST_F(PresenceMonitorTest, WithoutSlotEventsWhatChangedBetweenTwoPollsIsReported)
{
    Sim().SetMode(ETokenSimMode::NoWait);
    ASSERT_TRUE(m_pModule->Load(testsupport::CSimulatedToken::ModulePath()).Loaded());
    const CK_SLOT_ID slot = Slot();
    // The window reads the token, then finalises the module for a scan
    // that finds no token.
    auto scanAndFinalise = [this] {
        ASSERT_TRUE(m_pModule->Load(testsupport::CSimulatedToken::ModulePath()).Loaded());
        ASSERT_EQ(m_pModule->GetSlotList(), CKR_OK);
        ASSERT_EQ(m_pModule->OpenSession(0), CKR_OK);
        ASSERT_EQ(m_pModule->Close(), CKR_OK);
    };
    const SComparedChange changes[] = {
        {"the first poll finds the token", [] {}, {{SLOT_EVENT_PRESENT, slot}}},
        {"nothing changed", [] {}, {}},
        {"pulled out", [&] { Sim().Remove(slot); }, {{SLOT_EVENT_ABSENT, slot}}},
        {"put back", [&] { Sim().Insert(slot); }, {{SLOT_EVENT_PRESENT, slot}}},
        {"pulled out and put back",
         [&] {
             Sim().Remove(slot);
             Sim().Insert(slot);
         },
         {{SLOT_EVENT_ABSENT, slot}, {SLOT_EVENT_PRESENT, slot}}},
        {"the module finalised meanwhile", scanAndFinalise, {}},
        {"pulled out while the module was finalised",
         [&] {
             scanAndFinalise();
             Sim().Remove(slot);
         },
         {{SLOT_EVENT_ABSENT, slot}}},
    };
    for (const SComparedChange& c : changes) {
        SCOPED_TRACE(c.name);
        c.change();
        m_sim.Trace().Truncate();
        std::vector<CRecordingSink::Event> reports;
        CK_SLOT_ID reported = 0;
        for (SlotEvent event; (event = m_pMonitor->PollSlotEvent(&reported)) != SLOT_EVENT_NONE;) {
            ASSERT_NE(event, SLOT_EVENT_FAILED);
            reports.emplace_back(event, reported);
        }
        EXPECT_EQ(reports, c.reports);
        // Unchanged, the token itself is asked nothing.
        if (c.reports.empty() && m_sim.Trace().Count("C_Initialize") == 0) {
            EXPECT_EQ(m_sim.Trace().Count("C_GetTokenInfo"), 0u);
            EXPECT_EQ(m_sim.Trace().Count("C_OpenSession"), 0u);
            EXPECT_EQ(m_sim.Trace().Count("C_GetSessionInfo"), 1u);
        }
    }
}

TEST_F(PresenceMonitorTest, FinalisedModuleIsRevivedAndChangesMeanwhileReported)
{
    StartMonitor();
    m_pModule->Close();  // finalised, as the window does when it finds no token
    Sim().Remove(Slot());
    ASSERT_TRUE(m_sink.WaitForEvents(1));
    EXPECT_EQ(m_sink.Events().front(), (CRecordingSink::Event{SLOT_EVENT_ABSENT, Slot()}));
    EXPECT_TRUE(m_pModule->HasFunctionList());
    Sim().Insert(Slot());
    ASSERT_TRUE(m_sink.WaitForEvents(2));
    EXPECT_EQ(m_sink.Events().back(), (CRecordingSink::Event{SLOT_EVENT_PRESENT, Slot()}));
}

TEST_F(PresenceMonitorTest, StopGivesUpOnAThreadHeldInTheModuleWithinItsTimeout)
{
    Sim().SetMode(ETokenSimMode::BlockingWait);
    StartMonitor();
    ASSERT_TRUE(WaitUntil([&] { return m_sim.Trace().CountBlocking("C_WaitForSlotEvent") >= 1; }));

    constexpr auto kTimeout = 300ms;
    auto stopping = std::async(std::launch::async, [&] {
        const auto started = std::chrono::steady_clock::now();
        const bool bStopped = m_pMonitor->Stop(kTimeout);
        return std::make_pair(bStopped, std::chrono::steady_clock::now() - started);
    });
    // It gives up: back while the thread is still held.
    const bool bReturned = stopping.wait_for(Patience()) == std::future_status::ready;
    const bool bHeld = m_pMonitor->IsRunning();

    // Let out, the thread ends without reporting: it was told to stop.
    Sim().Remove(Slot());
    ASSERT_TRUE(bReturned);
    EXPECT_TRUE(bHeld);
    const auto [bStopped, waited] = stopping.get();
    EXPECT_FALSE(bStopped);
    EXPECT_GE(waited, kTimeout);
    EXPECT_TRUE(WaitUntil([&] { return !m_pMonitor->IsRunning(); }));
    EXPECT_TRUE(m_sink.Events().empty());
}

}  // namespace
