// Refreshes for token events come at most once a poll interval.
#include "CDialogTest.h"

#include "app/CRefreshPacing.h"
#include "token/TokenMessages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Duration = CRefreshPacing::Duration;

struct SPacingStep {
    int nAtMs;
    bool bRefreshRuns;  // a refresh ran at that moment, rather than an event asking for one
    std::optional<Duration> answer;
};

TEST(RefreshPacing, EventsOfOneIntervalWaitForOneRefreshAtItsEnd)
{
    const std::optional<Duration> joins;
    const std::vector<SPacingStep> steps = {
        {0, false, 0ms},       // nothing refreshed yet: at once
        {0, true, {}},
        {100, false, 400ms},   // too soon: waits for the interval's end
        {150, false, joins},   // one is waiting: this event joins it
        {499, false, joins},
        {500, true, {}},       // the waiting refresh runs
        {600, false, 400ms},
        {1000, true, {}},
        {1700, false, 0ms},    // an interval after the last: at once
        {1700, true, {}},
        {1701, false, 499ms},
    };
    CRefreshPacing pacing(500ms);
    const CRefreshPacing::Clock::time_point start{};
    for (const SPacingStep& step : steps) {
        const auto now = start + std::chrono::milliseconds(step.nAtMs);
        if (step.bRefreshRuns) {
            pacing.Ran(now);
            continue;
        }
        EXPECT_EQ(pacing.Ask(now), step.answer) << "at " << step.nAtMs << " ms";
    }
}

using RefreshPacingTest = CDialogTest;

// However many events come in one interval, the token is read once for them.
TEST_F(RefreshPacingTest, AFloodOfInsertionsGivesOneRefresh)
{
    AddCert("Ann", "20300101000000Z", "20400101000000Z", {1}, false);
    Start();
    const auto frozen = CRefreshPacing::Clock::now();
    Dlg().Follower().SetPacingClock([frozen] { return frozen; });
    Dlg().RefreshList();
    const std::size_t searches = Trace().Count("C_FindObjectsInit");

    for (int i = 0; i < 100; ++i)
        Dlg().Follower().OnMessage(WM_TOKEN_INSERTED, Slot());
    EXPECT_EQ(Dlg().TokenEventsHandled(), 100u);
    EXPECT_EQ(Trace().Count("C_FindObjectsInit"), searches);
    ASSERT_TRUE(WaitUntil([&] { return !Dlg().Follower().RefreshWaiting(); }));
    EXPECT_EQ(Trace().Count("C_FindObjectsInit"), searches + 1);
    EXPECT_EQ(Rows().size(), 1u);
}

}  // namespace
