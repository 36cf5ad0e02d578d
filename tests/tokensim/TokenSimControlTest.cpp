#include "CTempDir.h"
#include "tools/tokensim/control/CTextFile.h"
#include "tools/tokensim/control/CTokenSimControl.h"
#include "tools/tokensim/control/CTokenSimTrace.h"

#include <fstream>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

TEST(TokenSimSlotSelector, ParsesIdsIndexesAndAll)
{
    EXPECT_EQ(CSlotSelector::Parse("all"), CSlotSelector::All());
    EXPECT_EQ(CSlotSelector::Parse("#2"), CSlotSelector::Index(2));
    EXPECT_EQ(CSlotSelector::Parse("17"), CSlotSelector::Id(17));
    EXPECT_EQ(CSlotSelector::Parse("0x11"), CSlotSelector::Id(17));
    for (const char* bad : {"", "#", "x", "#-1", "1a", "-3", "all1", "0x"})
        EXPECT_FALSE(CSlotSelector::Parse(bad).has_value()) << bad;
    EXPECT_EQ(CSlotSelector::Index(3).Text(), "#3");
    EXPECT_EQ(CSlotSelector::Id(1758023457).Text(), "1758023457");
}

TEST(TokenSimSlotSelector, MatchesByIdOrByIndex)
{
    EXPECT_TRUE(CSlotSelector::Id(7).Matches(7, 0));
    EXPECT_FALSE(CSlotSelector::Id(7).Matches(0, 7));
    EXPECT_TRUE(CSlotSelector::Index(1).Matches(99, 1));
    EXPECT_FALSE(CSlotSelector::Index(1).Matches(1, 0));
    EXPECT_TRUE(CSlotSelector::All().Matches(5, 5));
}

TEST(TokenSimFaultRule, ParsesCountsResultsAndLengths)
{
    std::optional<CFaultRule> second = CFaultRule::Parse("C_DestroyObject:2:CKR_ACTION_PROHIBITED");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->Function(), "C_DestroyObject");
    EXPECT_FALSE(second->FiresOn(1));
    EXPECT_TRUE(second->FiresOn(2));
    EXPECT_FALSE(second->FiresOn(3));
    EXPECT_EQ(second->Rv(), CKR_ACTION_PROHIBITED);

    std::optional<CFaultRule> every = CFaultRule::Parse("C_Login:*:0xa4");
    ASSERT_TRUE(every);
    EXPECT_TRUE(every->FiresOn(1) && every->FiresOn(1000));
    EXPECT_EQ(every->Text(), "C_Login:*:CKR_PIN_LOCKED");

    std::optional<CFaultRule> unavailable = CFaultRule::Parse("C_GetAttributeValue:1:len=unavailable");
    ASSERT_TRUE(unavailable && unavailable->IsLengthFault());
    EXPECT_EQ(unavailable->Length(), CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(unavailable->Rv(), CKR_OK);
    EXPECT_EQ(unavailable->Text(), "C_GetAttributeValue:1:len=unavailable");

    std::optional<CFaultRule> count = CFaultRule::Parse("C_FindObjects:1:count=50");
    ASSERT_TRUE(count.has_value());
    EXPECT_TRUE(count->IsCountFault());
    EXPECT_EQ(count->Count(), 50u);
    EXPECT_EQ(count->Text(), "C_FindObjects:1:count=50");
    EXPECT_FALSE(CFaultRule::Parse("C_FindObjectsInit:1:count=5").has_value());

    std::optional<CFaultRule> huge = CFaultRule::Parse("C_GetAttributeValue:*:len=2147483648");
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->Length(), 0x80000000UL);
    EXPECT_EQ(huge->Text(), "C_GetAttributeValue:*:len=0x80000000");
}

TEST(TokenSimFaultRule, RejectsMalformedRules)
{
    for (const char* bad :
         {"", "C_Login", "C_Login:1", "C_Login::CKR_OK", "C_Login:0:CKR_OK", "C_Login:x:CKR_OK", "C_Nothing:1:CKR_OK",
          "C_Login:1:CKR_NOTHING", "C_Login:1:len=4", "C_GetAttributeValue:1:len=", "C_GetFunctionList:1:CKR_OK"})
        EXPECT_FALSE(CFaultRule::Parse(bad).has_value()) << bad;
}

TEST(TokenSimFaultRule, ParsesLiesOfTheirOwnFunctionOnly)
{
    std::optional<CFaultRule> lie = CFaultRule::Parse("C_FindObjectsInit:*:lie=key-id-cstring");
    ASSERT_TRUE(lie && lie->IsLie());
    EXPECT_EQ(lie->Lie(), "key-id-cstring");
    EXPECT_EQ(lie->Rv(), CKR_OK);
    EXPECT_EQ(lie->Text(), "C_FindObjectsInit:*:lie=key-id-cstring");
    for (const char* bad : {"C_FindObjects:*:lie=id-ignored", "C_GetSlotList:1:lie=", "C_GetSlotList:1:lie=shrunk",
                            "C_Finalize:1:lie=lingering-thread", "C_Logout:1:lie=incorrect-then-locked"})
        EXPECT_FALSE(CFaultRule::Parse(bad).has_value()) << bad;
}

TEST(TokenSimState, LaterPresenceWinsAndAllStartsAfresh)
{
    CTokenSimState state;
    EXPECT_TRUE(state.IsPresent(5, 0));
    state.SetPresence(CSlotSelector::Index(0), false);
    EXPECT_FALSE(state.IsPresent(5, 0));
    EXPECT_TRUE(state.IsPresent(6, 1));
    state.SetPresence(CSlotSelector::Id(5), true);
    EXPECT_TRUE(state.IsPresent(5, 0));
    state.SetPresence(CSlotSelector::Index(0), false);
    EXPECT_FALSE(state.IsPresent(5, 0));
    state.SetPresence(CSlotSelector::All(), false);
    EXPECT_FALSE(state.IsPresent(6, 1));
    state.SetPresence(CSlotSelector::All(), true);
    EXPECT_TRUE(state.IsPresent(5, 0));
    EXPECT_EQ(state.Sequence(), 5u);
    ASSERT_EQ(state.Changes().size(), 5u);
    EXPECT_EQ(state.Changes().front().seq, 1u);
    EXPECT_FALSE(state.Changes().front().presence.present);
}

TEST(TokenSimState, KeepsOnlyTheLatestChanges)
{
    CTokenSimState state;
    for (std::size_t i = 0; i < CTokenSimState::kMaxChanges + 10; ++i)
        state.SetPresence(CSlotSelector::Index(0), i % 2 == 0);
    EXPECT_EQ(state.Changes().size(), CTokenSimState::kMaxChanges);
    EXPECT_EQ(state.Changes().back().seq, state.Sequence());
    EXPECT_EQ(state.Sequence(), CTokenSimState::kMaxChanges + 10);
}

TEST(TokenSimState, SurvivesItsTextForm)
{
    CTokenSimState state;
    state.SetPresence(CSlotSelector::Id(1758023457), false);
    state.SetPresence(CSlotSelector::Index(1), true);
    state.AddRule(*CFaultRule::Parse("C_DestroyObject:2:CKR_ACTION_PROHIBITED"));
    state.AddRule(*CFaultRule::Parse("C_GetAttributeValue:*:len=unavailable"));
    state.SetMode(ETokenSimMode::EventsAtInit);

    std::optional<CTokenSimState> copy = CTokenSimState::Parse(state.Serialize());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->Serialize(), state.Serialize());
    EXPECT_FALSE(copy->IsPresent(1758023457, 0));
    EXPECT_EQ(copy->Mode(), ETokenSimMode::EventsAtInit);
    ASSERT_EQ(copy->Rules().size(), 2u);
    EXPECT_EQ(copy->Rules()[0].Id(), state.Rules()[0].Id());
    EXPECT_NE(copy->Rules()[0].Id(), copy->Rules()[1].Id());
}

TEST(TokenSimState, KeepsTheFindOrderInItsTextFormUntilReset)
{
    CTokenSimState state;
    EXPECT_EQ(state.FindOrder(), ETokenSimFindOrder::Module);
    state.SetFindOrder(ETokenSimFindOrder::Label);
    std::optional<CTokenSimState> copy = CTokenSimState::Parse(state.Serialize());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->FindOrder(), ETokenSimFindOrder::Label);
    EXPECT_NE(copy->Describe().find("order: label\n"), std::string::npos) << copy->Describe();

    copy->Reset();
    EXPECT_EQ(copy->FindOrder(), ETokenSimFindOrder::Module);
    // A file from before the find order existed reads as module order.
    copy = CTokenSimState::Parse("tokensim-state 1\nmode normal\nend\n");
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->FindOrder(), ETokenSimFindOrder::Module);
}

TEST(TokenSimState, NamesFindOrders)
{
    EXPECT_EQ(CTokenSimState::ParseFindOrder("label"), ETokenSimFindOrder::Label);
    EXPECT_EQ(CTokenSimState::ParseFindOrder("module"), ETokenSimFindOrder::Module);
    EXPECT_EQ(CTokenSimState::FindOrderName(ETokenSimFindOrder::Label), "label");
    for (const char* bad : {"", "Label", "labels", "normal"})
        EXPECT_FALSE(CTokenSimState::ParseFindOrder(bad).has_value()) << bad;
}

TEST(TokenSimState, RejectsIncompleteOrForeignText)
{
    std::string text = CTokenSimState().Serialize();
    EXPECT_TRUE(CTokenSimState::Parse(text));
    EXPECT_FALSE(CTokenSimState::Parse(text.substr(0, text.size() - 4)));
    EXPECT_FALSE(CTokenSimState::Parse(""));
    EXPECT_FALSE(CTokenSimState::Parse("tokensim-state 2\nend\n"));
    EXPECT_FALSE(CTokenSimState::Parse("tokensim-state 1\nmode fast\nend\n"));
    EXPECT_FALSE(CTokenSimState::Parse("tokensim-state 1\norder random\nend\n"));
    EXPECT_FALSE(CTokenSimState::Parse("tokensim-state 1\norder\nend\n"));
    EXPECT_FALSE(CTokenSimState::Parse("tokensim-state 1\nrule 0 C_Login:1:CKR_OK\nend\n"));
    EXPECT_FALSE(CTokenSimState::Parse("tokensim-state 1\ncolour blue\nend\n"));
}

TEST(TokenSimControl, WritesEveryChangeToTheFile)
{
    testsupport::CTempDir dir;
    CTokenSimControl control(dir.File("state"));
    EXPECT_TRUE(control.State().IsPresent(1, 0));  // no file yet

    control.Remove(CSlotSelector::Index(0));
    control.AddFault("C_Login:*:CKR_PIN_LOCKED");
    control.SetMode(ETokenSimMode::NoWait);
    CTokenSimState state = CTokenSimControl(dir.File("state")).State();
    EXPECT_FALSE(state.IsPresent(1, 0));
    ASSERT_EQ(state.Rules().size(), 1u);
    EXPECT_EQ(state.Mode(), ETokenSimMode::NoWait);
    EXPECT_THROW(control.AddFault("C_Login:*"), std::invalid_argument);

    control.Clear();
    state = control.State();
    EXPECT_TRUE(state.IsPresent(1, 0));
    EXPECT_TRUE(state.Rules().empty());
    EXPECT_EQ(state.Mode(), ETokenSimMode::Normal);
    // Putting the token back is a change like any other.
    EXPECT_EQ(state.Sequence(), 2u);
}

TEST(TokenSimControl, SetsTheFindOrderUntilCleared)
{
    testsupport::CTempDir dir;
    CTokenSimControl control(dir.File("state"));
    control.SetFindOrder(ETokenSimFindOrder::Label);
    control.SetMode(ETokenSimMode::NoWait);
    EXPECT_EQ(CTokenSimControl(dir.File("state")).State().FindOrder(), ETokenSimFindOrder::Label);

    control.SetFindOrder(ETokenSimFindOrder::Module);
    EXPECT_EQ(control.State().FindOrder(), ETokenSimFindOrder::Module);
    // The mode is a setting of its own.
    EXPECT_EQ(control.State().Mode(), ETokenSimMode::NoWait);

    control.SetFindOrder(ETokenSimFindOrder::Label);
    control.Clear();
    EXPECT_EQ(control.State().FindOrder(), ETokenSimFindOrder::Module);
}

TEST(TokenSimControl, RefusesToOverwriteAForeignFile)
{
    testsupport::CTempDir dir;
    std::ofstream(dir.File("state")) << "not a state\n";
    CTokenSimControl control(dir.File("state"));
    EXPECT_THROW(control.Remove(CSlotSelector::All()), std::runtime_error);
    EXPECT_EQ(CTextFile::Read(dir.File("state")), "not a state\n");
}

TEST(TokenSimControl, ConcurrentWritersLoseNoChange)
{
    testsupport::CTempDir dir;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t) {
        writers.emplace_back([&dir] {
            CTokenSimControl control(dir.File("state"));
            for (int i = 0; i < 20; ++i)
                control.AddFault("C_Logout:*:CKR_DEVICE_ERROR");
        });
    }
    for (std::thread& w : writers)
        w.join();
    EXPECT_EQ(CTokenSimControl(dir.File("state")).State().Rules().size(), 80u);
}

TEST(TokenSimTraceRecord, SplitsALineIntoItsParts)
{
    std::optional<CTraceRecord> r = CTraceRecord::Parse("C_DestroyObject session=1 object=5 rv=CKR_ACTION_PROHIBITED fault");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Function(), "C_DestroyObject");
    EXPECT_EQ(r->Field("session"), "1");
    EXPECT_EQ(r->Field("object"), "5");
    EXPECT_FALSE(r->Field("slot"));
    EXPECT_EQ(r->Rv(), "CKR_ACTION_PROHIBITED");
    EXPECT_TRUE(r->Faulted());

    r = CTraceRecord::Parse("C_FindObjectsInit session=2 attrs= rv=CKR_OK");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->Field("attrs"), "");
    EXPECT_FALSE(r->Faulted());

    for (const char* bad : {"", "C_Login session=1", "garbage rv=CKR_OK", "C_Login oops rv=CKR_OK"})
        EXPECT_FALSE(CTraceRecord::Parse(bad)) << bad;
}

TEST(TokenSimTraceRecord, ReadsTheNoteOfACallAboutToBlock)
{
    std::optional<CTraceRecord> r = CTraceRecord::Parse("C_WaitForSlotEvent flags=0x1 blocking");
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->Blocking());
    EXPECT_EQ(r->Function(), "C_WaitForSlotEvent");
    EXPECT_EQ(r->Field("flags"), "0x1");
    EXPECT_EQ(r->Fields().size(), 1u);
    EXPECT_EQ(r->Rv(), "");
    EXPECT_FALSE(r->Faulted());

    r = CTraceRecord::Parse("C_WaitForSlotEvent flags=0x1 slot=3 rv=CKR_OK");
    ASSERT_TRUE(r);
    EXPECT_FALSE(r->Blocking());
    // A note has no answer yet; an answered call is no note.
    for (const char* bad : {"C_WaitForSlotEvent flags=0x1 rv=CKR_OK blocking", "blocking", "blocking flags=0x1",
                            "C_WaitForSlotEvent flags=0x1 blocked"})
        EXPECT_FALSE(CTraceRecord::Parse(bad)) << bad;
}

TEST(TokenSimTraceFile, CountsAndOrdersCalls)
{
    testsupport::CTempDir dir;
    CTokenSimTrace trace(dir.File("trace"));
    EXPECT_TRUE(trace.Calls().empty());
    std::ofstream(dir.File("trace")) << "C_Initialize rv=CKR_OK\n"
                                        "C_Login session=1 user=CKU_USER pinlen=6 rv=CKR_OK\n"
                                        "half a line\n"
                                        "C_DestroyObject session=1 object=5 rv=CKR_OK\n"
                                        "C_DestroyObject session=1 object=6 rv=CKR_OK\n";
    EXPECT_EQ(trace.Lines().size(), 5u);
    EXPECT_EQ(trace.Count("C_DestroyObject"), 2u);
    EXPECT_EQ(trace.Count("C_Logout"), 0u);
    EXPECT_TRUE(trace.InOrder({"C_Initialize", "C_DestroyObject", "C_DestroyObject"}));
    EXPECT_FALSE(trace.InOrder({"C_DestroyObject", "C_Login"}));
    EXPECT_EQ(trace.Records("C_DestroyObject")[1].Field("object"), "6");
    trace.Truncate();
    EXPECT_TRUE(trace.Lines().empty());
}

TEST(TokenSimTraceFile, CountsNotesOfBlockingCallsApart)
{
    testsupport::CTempDir dir;
    CTokenSimTrace trace(dir.File("trace"));
    std::ofstream(dir.File("trace")) << "C_WaitForSlotEvent flags=0x1 blocking\n"
                                        "C_GetSlotList present=1 count=1 rv=CKR_OK\n"
                                        "C_WaitForSlotEvent flags=0x0 blocking\n"
                                        "C_WaitForSlotEvent flags=0x1 slot=3 rv=CKR_OK\n"
                                        "C_WaitForSlotEvent flags=0x0 rv=CKR_CRYPTOKI_NOT_INITIALIZED\n";
    EXPECT_EQ(trace.CountBlocking("C_WaitForSlotEvent"), 2u);
    EXPECT_EQ(trace.CountBlocking("C_GetSlotList"), 0u);
    std::vector<CTraceRecord> notes = trace.BlockingNotes("C_WaitForSlotEvent");
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[1].Field("flags"), "0x0");

    // A call that blocked is one call.
    EXPECT_EQ(trace.Count("C_WaitForSlotEvent"), 2u);
    EXPECT_EQ(trace.Calls(), (std::vector<std::string>{"C_GetSlotList", "C_WaitForSlotEvent", "C_WaitForSlotEvent"}));
    EXPECT_EQ(trace.Records("C_WaitForSlotEvent")[0].Rv(), "CKR_OK");
    EXPECT_FALSE(trace.InOrder({"C_WaitForSlotEvent", "C_GetSlotList"}));
}
