#pragma once

#include "CSimulatedToken.h"
#include "CTokenSimModule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

// A SoftHSM2 token behind the simulator, with the simulator loaded and
// initialised. The environment is set before C_Initialize, so a derived
// fixture may add to it in its constructor.
class CSimulatorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(module.Initialize()); }

    CK_FLAGS SlotFlags(CK_SLOT_ID slot) const
    {
        CK_SLOT_INFO info{};
        EXPECT_EQ(module->C_GetSlotInfo(slot, &info), CKR_OK);
        return info.flags;
    }

    // The answers of every traced call of a function, "fault" after those a
    // fault rule decided.
    std::vector<std::string> Answers(const char* function) const
    {
        std::vector<std::string> rvs;
        for (const CTraceRecord& r : token.Trace().Records(function))
            rvs.push_back(r.Rv() + (r.Faulted() ? " fault" : ""));
        return rvs;
    }

    testsupport::CSimulatedToken token;
    testsupport::CTokenSimModule module{testsupport::CSimulatedToken::ModulePath()};
};

// The same, with every slot of SoftHSM2 shown, the empty one too.
class CAllSlotsSimulatorTest : public CSimulatorTest {
protected:
    CAllSlotsSimulatorTest() { setenv("TOKENSIM_ALL_SLOTS", "1", 1); }
};
