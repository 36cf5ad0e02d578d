#include "CListProgramTest.h"
#include "CSimulatedToken.h"

#include <algorithm>
#include <string>

using testsupport::CSimulatedToken;
using testsupport::CTestCertificate;

// certpurge-list over the token simulator, lying in one way per test as
// vendors' modules have been seen to.
class MisbehavingModuleTest : public CListProgramTest {
protected:
    MisbehavingModuleTest()
    {
        m_sim.SoftHsm().ImportCertificate(
            CTestCertificate().Add("C", "CN").Add("CN", "one").NotBefore("20200101000000Z").NotAfter("20990101000000Z").Der(), {1});
        LinkDefault(CSimulatedToken::ModulePath());
    }

    CSimulatedToken m_sim;
    static constexpr const char* kOneLine = "20200101000000\t20990101000000\t0\tone's \n";
};

// A token that comes between the count and the listing of the slots leaves
// the listing no room: the pair is asked again, but not without end.
TEST_F(MisbehavingModuleTest, SlotListThatGrewIsAskedAgain)
{
    m_sim.Control().AddFault("C_GetSlotList:2:lie=grown");
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), kOneLine);
    EXPECT_EQ(m_run.Err(), "");
    EXPECT_EQ(m_sim.Trace().Count("C_GetSlotList"), 4u);  // the pair, twice

    m_sim.Control().ClearFaults();
    m_sim.Control().AddFault("C_GetSlotList:*:lie=grown");
    EXPECT_EQ(Run(), 1);
    EXPECT_EQ(m_run.Out(), "");
    EXPECT_EQ(m_sim.Trace().Count("C_GetSlotList"), 4u + 2 * 4);  // four pairs, then it gives up
}

// The standard says a module that answers CKR_CRYPTOKI_ALREADY_INITIALIZED
// is ready for use, on the first C_Initialize as on any other.
TEST_F(MisbehavingModuleTest, AlreadyInitialisedIsReadyForUse)
{
    m_sim.Control().AddFault("C_Initialize:*:lie=already-initialized");
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), kOneLine);
    EXPECT_EQ(m_run.Err(), "");
}

// A module whose thread runs on after C_Finalize is never unloaded under it.
TEST_F(MisbehavingModuleTest, ModuleThreadOutlivingFinalizeCrashesNothing)
{
    m_sim.Control().AddFault("C_Initialize:1:lie=lingering-thread");
    EXPECT_EQ(Run(), 0) << m_run.Err();
    EXPECT_EQ(m_run.Out(), kOneLine);
    EXPECT_EQ(m_run.Err(), "");
    EXPECT_GE(m_sim.Trace().Count("C_Finalize"), 1u);  // the module was done with
}
