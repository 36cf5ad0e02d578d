#include "CSimulatorTest.h"
#include "WaitUntil.h"

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

using namespace std::chrono_literals;
using testsupport::Patience;
using testsupport::CSimulatedToken;
using testsupport::CTokenSimModule;

namespace {

using TokenSimEvents = CSimulatorTest;

using TokenSimEventsTwoSlots = CAllSlotsSimulatorTest;

CK_RV Poll(const CTokenSimModule& module, CK_SLOT_ID* slot)
{
    return module->C_WaitForSlotEvent(CKF_DONT_BLOCK, slot, nullptr);
}

// A wait in another thread; a blocking one unless `flags` say otherwise.
std::future<std::pair<CK_RV, CK_SLOT_ID>> WaitInThread(const CTokenSimModule& module, CK_FLAGS flags = 0)
{
    return std::async(std::launch::async, [&module, flags] {
        CK_SLOT_ID slot = 0;
        CK_RV rv = module->C_WaitForSlotEvent(flags, &slot, nullptr);
        return std::make_pair(rv, slot);
    });
}

// Waits until the trace holds `count` notes of waits about to block.
bool AwaitBlockingNotes(const CTokenSimTrace& trace, std::size_t count)
{
    return testsupport::WaitUntil([&] { return trace.CountBlocking("C_WaitForSlotEvent") >= count; });
}

std::vector<std::string> WaitLines(const CTokenSimTrace& trace)
{
    std::vector<std::string> lines = trace.Lines();
    std::erase_if(lines, [](const std::string& l) { return !l.starts_with("C_WaitForSlotEvent "); });
    return lines;
}

}  // namespace

TEST(TokenSimInit, AnswersNotInitializedOutsideInitializeAndFinalize)
{
    CSimulatedToken token;
    CTokenSimModule module(CSimulatedToken::ModulePath());
    CK_SLOT_ID slot = 0;
    CK_ULONG count = 0;
    EXPECT_EQ(Poll(module, &slot), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(module->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(module->C_Finalize(nullptr), CKR_CRYPTOKI_NOT_INITIALIZED);

    ASSERT_EQ(module->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(module->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
    EXPECT_EQ(Poll(module, &slot), CKR_NO_EVENT);
    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);

    EXPECT_EQ(Poll(module, &slot), CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(module->C_GetSlotList(CK_TRUE, nullptr, &count), CKR_CRYPTOKI_NOT_INITIALIZED);
    CK_INFO info{};
    EXPECT_EQ(module->C_GetInfo(&info), CKR_CRYPTOKI_NOT_INITIALIZED);
}

TEST_F(TokenSimEvents, ReportsEachChangeOnceThenNoEvent)
{
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(Poll(module, &slot), CKR_NO_EVENT);

    token.Control().Remove(token.Slot());
    ASSERT_EQ(Poll(module, &slot), CKR_OK);
    EXPECT_EQ(slot, token.Slot());
    EXPECT_EQ(Poll(module, &slot), CKR_NO_EVENT);

    // Seen first by another call, still reported once.
    token.Control().Insert(token.Slot());
    EXPECT_EQ(module.Slots(true).size(), 1u);
    EXPECT_EQ(module.DrainEvents(), std::vector<CK_SLOT_ID>{token.Slot()});

    // Inserting a token that is in changes nothing.
    token.Control().Insert(token.Slot());
    EXPECT_TRUE(module.DrainEvents().empty());
}

TEST_F(TokenSimEvents, ReportsChangesMadeBetweenTwoCalls)
{
    token.Control().Remove(token.Slot());
    token.Control().Insert(token.Slot());
    token.Control().Remove(token.Slot());
    EXPECT_EQ(module.DrainEvents(), std::vector<CK_SLOT_ID>(3, token.Slot()));
    EXPECT_TRUE(module.Slots(true).empty());
}

TEST_F(TokenSimEventsTwoSlots, ReportsChangesInTheOrderMade)
{
    std::vector<CK_SLOT_ID> slots = module.Slots(false);
    ASSERT_EQ(slots.size(), 2u);
    token.Control().Remove(slots[1]);
    token.Control().Remove(slots[0]);
    token.Control().Insert(slots[1]);
    EXPECT_EQ(module.DrainEvents(), (std::vector<CK_SLOT_ID>{slots[1], slots[0], slots[1]}));
}

TEST_F(TokenSimEvents, ChangesWhileFinalisedAreNoEvents)
{
    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    token.Control().Remove(token.Slot());
    ASSERT_EQ(module->C_Initialize(nullptr), CKR_OK);
    EXPECT_TRUE(module.DrainEvents().empty());
    EXPECT_TRUE(module.Slots(true).empty());

    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    token.Control().Insert(token.Slot());
    ASSERT_EQ(module->C_Initialize(nullptr), CKR_OK);
    EXPECT_TRUE(module.DrainEvents().empty());
    EXPECT_EQ(module.Slots(true).size(), 1u);
}

TEST_F(TokenSimEvents, BlockingWaitReturnsWithTheNextChange)
{
    auto waiting = WaitInThread(module);
    std::this_thread::sleep_for(100ms);
    token.Control().Remove(token.Slot());
    ASSERT_EQ(waiting.wait_for(Patience()), std::future_status::ready);
    EXPECT_EQ(waiting.get(), std::make_pair(CKR_OK, token.Slot()));
}

TEST_F(TokenSimEvents, FinalizeEndsABlockingWait)
{
    auto waiting = WaitInThread(module);
    std::this_thread::sleep_for(100ms);
    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(waiting.wait_for(Patience()), std::future_status::ready);
    EXPECT_EQ(waiting.get().first, CKR_CRYPTOKI_NOT_INITIALIZED);
}

// no-wait supports no wait at all; no-blocking-wait only waits with
// CKF_DONT_BLOCK, which report the change as usual.
TEST_F(TokenSimEvents, WaitsNotSupportedAnswerSo)
{
    struct SModeCase {
        ETokenSimMode mode;
        CK_RV poll;
        CK_RV blocking;
    };
    for (const SModeCase& c : {SModeCase{ETokenSimMode::NoWait, CKR_FUNCTION_NOT_SUPPORTED, CKR_FUNCTION_NOT_SUPPORTED},
                               SModeCase{ETokenSimMode::NoBlockingWait, CKR_OK, CKR_FUNCTION_NOT_SUPPORTED}}) {
        SCOPED_TRACE(CTokenSimState::ModeName(c.mode));
        token.Control().SetMode(c.mode);
        token.Control().Remove(token.Slot());
        CK_SLOT_ID slot = 0;
        EXPECT_EQ(module->C_WaitForSlotEvent(0, &slot, nullptr), c.blocking);
        EXPECT_EQ(Poll(module, &slot), c.poll);
        // The token is out all the same.
        EXPECT_TRUE(module.Slots(true).empty());
        token.Control().Insert(token.Slot());
        module.DrainEvents();
    }
}

TEST_F(TokenSimEvents, EventEveryPollModeReportsAnEventOnEveryPoll)
{
    token.Control().SetMode(ETokenSimMode::EventEveryPoll);
    token.Control().Remove(token.Slot());
    for (int i = 0; i < 3; ++i) {
        CK_SLOT_ID slot = 0;
        EXPECT_EQ(Poll(module, &slot), CKR_OK) << i;
        EXPECT_EQ(slot, token.Slot()) << i;
    }
    // The one real change was reported first; none is left.
    token.Control().SetMode(ETokenSimMode::Normal);
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(Poll(module, &slot), CKR_NO_EVENT);
}

TEST_F(TokenSimEvents, EventsAtInitModeReportsPresentTokensOnce)
{
    token.Control().SetMode(ETokenSimMode::EventsAtInit);
    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(module->C_Initialize(nullptr), CKR_OK);
    EXPECT_EQ(module.DrainEvents(), std::vector<CK_SLOT_ID>{token.Slot()});

    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    token.Control().Remove(token.Slot());
    ASSERT_EQ(module->C_Initialize(nullptr), CKR_OK);
    EXPECT_TRUE(module.DrainEvents().empty());
}

TEST_F(TokenSimEvents, SlowPollModeTakesASecondWithoutHoldingOtherCalls)
{
    token.Control().SetMode(ETokenSimMode::SlowPoll);
    token.Control().Remove(token.Slot());
    auto start = std::chrono::steady_clock::now();
    auto polling = std::async(std::launch::async, [this] {
        CK_SLOT_ID slot = 0;
        CK_RV rv = Poll(module, &slot);
        return std::make_pair(rv, slot);
    });
    std::this_thread::sleep_for(100ms);
    // Another thread's call is answered while the poll sleeps. The poll
    // cannot be over before a second has passed since its start; past that
    // (a loaded machine) the check says nothing.
    EXPECT_TRUE(module.Slots(true).empty());
    if (std::chrono::steady_clock::now() - start < 900ms) {
        EXPECT_EQ(polling.wait_for(0ms), std::future_status::timeout);
    }

    ASSERT_EQ(polling.wait_for(Patience()), std::future_status::ready);
    EXPECT_EQ(polling.get(), std::make_pair(CKR_OK, token.Slot()));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 900ms);
}

TEST_F(TokenSimEvents, BlockingWaitModeBlocksANonBlockingWaitUntilTheNextChange)
{
    token.Control().SetMode(ETokenSimMode::BlockingWait);
    auto waiting = WaitInThread(module, CKF_DONT_BLOCK);
    ASSERT_TRUE(AwaitBlockingNotes(token.Trace(), 1));
    EXPECT_EQ(waiting.wait_for(0ms), std::future_status::timeout);

    // Another thread's calls are answered while the wait blocks.
    auto other = std::async(std::launch::async, [this] {
        CK_SESSION_HANDLE session = module.OpenSession(token.Slot());
        return std::make_pair(module.Slots(true).size(), module->C_CloseSession(session));
    });
    bool answered = other.wait_for(Patience()) == std::future_status::ready;
    token.Control().Remove(token.Slot());
    EXPECT_TRUE(answered);
    EXPECT_EQ(other.get(), std::make_pair(std::size_t{1}, CKR_OK));

    ASSERT_EQ(waiting.wait_for(Patience()), std::future_status::ready);
    EXPECT_EQ(waiting.get(), std::make_pair(CKR_OK, token.Slot()));
    EXPECT_EQ(WaitLines(token.Trace()),
              (std::vector<std::string>{"C_WaitForSlotEvent flags=0x1 blocking",
                                        "C_WaitForSlotEvent flags=0x1 slot=" + std::to_string(token.Slot()) +
                                            " rv=CKR_OK"}));
    EXPECT_EQ(token.Trace().Count("C_WaitForSlotEvent"), 1u);
}

TEST_F(TokenSimEvents, BlockingWaitModeWaitEndsWithFinalize)
{
    token.Control().SetMode(ETokenSimMode::BlockingWait);
    auto waiting = WaitInThread(module, CKF_DONT_BLOCK);
    ASSERT_TRUE(AwaitBlockingNotes(token.Trace(), 1));
    ASSERT_EQ(module->C_Finalize(nullptr), CKR_OK);
    ASSERT_EQ(waiting.wait_for(Patience()), std::future_status::ready);
    EXPECT_EQ(waiting.get().first, CKR_CRYPTOKI_NOT_INITIALIZED);
    EXPECT_EQ(WaitLines(token.Trace()).back(), "C_WaitForSlotEvent flags=0x1 rv=CKR_CRYPTOKI_NOT_INITIALIZED");
}

TEST_F(TokenSimEvents, BlockingWaitModeAnswersAQueuedEventAtOnceWithoutANote)
{
    token.Control().SetMode(ETokenSimMode::BlockingWait);
    token.Control().Remove(token.Slot());
    token.Control().Insert(token.Slot());
    CK_SLOT_ID slot = 0;
    ASSERT_EQ(Poll(module, &slot), CKR_OK);
    EXPECT_EQ(slot, token.Slot());
    ASSERT_EQ(module->C_WaitForSlotEvent(0, &slot, nullptr), CKR_OK);
    EXPECT_EQ(slot, token.Slot());
    EXPECT_EQ(token.Trace().CountBlocking("C_WaitForSlotEvent"), 0u);
    EXPECT_EQ(token.Trace().Count("C_WaitForSlotEvent"), 2u);
}

TEST_F(TokenSimEvents, BlockingWaitModeNotesEachWaitAboutToBlockWithItsFlags)
{
    token.Control().SetMode(ETokenSimMode::BlockingWait);
    auto waiting = WaitInThread(module, 0);
    ASSERT_TRUE(AwaitBlockingNotes(token.Trace(), 1));
    token.Control().Remove(token.Slot());
    ASSERT_EQ(waiting.wait_for(Patience()), std::future_status::ready);
    EXPECT_EQ(waiting.get(), std::make_pair(CKR_OK, token.Slot()));

    waiting = WaitInThread(module, CKF_DONT_BLOCK);
    ASSERT_TRUE(AwaitBlockingNotes(token.Trace(), 2));
    token.Control().Insert(token.Slot());
    ASSERT_EQ(waiting.wait_for(Patience()), std::future_status::ready);
    EXPECT_EQ(waiting.get(), std::make_pair(CKR_OK, token.Slot()));

    std::vector<CTraceRecord> notes = token.Trace().BlockingNotes("C_WaitForSlotEvent");
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].Field("flags"), "0x0");
    EXPECT_EQ(notes[1].Field("flags"), "0x1");
}

TEST_F(TokenSimEvents, OtherModesWriteNoBlockingNote)
{
    CK_SLOT_ID slot = 0;
    for (ETokenSimMode mode : {ETokenSimMode::Normal, ETokenSimMode::EventsAtInit, ETokenSimMode::NoWait}) {
        token.Control().SetMode(mode);
        EXPECT_NE(Poll(module, &slot), CKR_OK) << CTokenSimState::ModeName(mode);
    }
    // A blocking wait in normal mode blocks without a note.
    token.Control().SetMode(ETokenSimMode::Normal);
    auto waiting = WaitInThread(module);
    token.Control().Remove(token.Slot());
    ASSERT_EQ(waiting.wait_for(Patience()), std::future_status::ready);
    EXPECT_EQ(waiting.get(), std::make_pair(CKR_OK, token.Slot()));
    EXPECT_EQ(token.Trace().CountBlocking("C_WaitForSlotEvent"), 0u);
}
