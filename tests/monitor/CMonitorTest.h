#pragma once

#include "CDialogTest.h"

#include <chrono>
#include <string>

// The presence monitor's tests: a token with two valid certificates.
class CMonitorTest : public CDialogTest {
protected:
    CMonitorTest() { m_bMonitor = true; }

    static constexpr std::size_t kRows = 2;

    void AddCerts()
    {
        AddCert("Ann", "20300101000000Z", "20400101000000Z", {1}, false);
        AddCert("Bob", "20300201000000Z", "20400101000000Z", {2}, false);
    }

    bool ListFilled() const { return Rows().size() == kRows; }
    bool ListEmpty() const { return Rows().empty(); }

    // The window started with the token out, on an empty list.
    void StartWithoutTheToken()
    {
        AddCerts();
        Sim().Remove(Slot());
        Start();
        EXPECT_TRUE(ListEmpty());
    }
    // Puts the token in and pulls it out, each seen in the list.
    void InsertAndRemove(std::chrono::milliseconds base = testsupport::kPatience)
    {
        Sim().Insert(Slot());
        EXPECT_TRUE(WaitUntil([&] { return ListFilled(); }, base));
        Sim().Remove(Slot());
        EXPECT_TRUE(WaitUntil([&] { return ListEmpty(); }, base));
    }
};
