#include "CSimulatedToken.h"
#include "token/CTokenModule.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

using testsupport::CSimulatedToken;

namespace {

// Slot listings the token simulator can give and SoftHSM2 cannot: a reader
// without its token, and no reader at all.
class TokenModuleSlotsTest : public ::testing::Test {
protected:
    CSimulatedToken m_sim;
    CTokenModule m_module;
};

}  // namespace

TEST_F(TokenModuleSlotsTest, SlotWithoutTokenFinalisesAndLoadBringsItBack)
{
    m_sim.Control().Remove(m_sim.Slot());
    ASSERT_EQ(m_module.Load(CSimulatedToken::ModulePath()), CKR_OK);
    EXPECT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_EQ(m_module.m_ulSlotCount, 0u);
    EXPECT_EQ(m_sim.Trace().Count("C_Finalize"), 1u);
    EXPECT_EQ(m_module.OpenSession(0), CKR_ARGUMENTS_BAD);

    m_sim.Control().Insert(m_sim.Slot());
    EXPECT_EQ(m_module.Load("ignored"), CKR_OK);
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_EQ(m_module.m_ulSlotCount, 1u);
    EXPECT_EQ(m_module.SlotList(), std::vector<CK_SLOT_ID>{m_sim.Slot()});
    EXPECT_EQ(m_module.OpenSession(0), CKR_OK);
}

TEST_F(TokenModuleSlotsTest, NoSlotsAtAll)
{
    // A SoftHSM2 with no initialised token: the simulator shows no slot.
    std::string dir = m_sim.SoftHsm().Folder().File("empty");
    std::filesystem::create_directory(dir);
    std::ofstream(dir + "/softhsm2.conf") << "directories.tokendir = " << dir << "\nobjectstore.backend = file\n";
    setenv("SOFTHSM2_CONF", (dir + "/softhsm2.conf").c_str(), 1);

    ASSERT_EQ(m_module.Load(CSimulatedToken::ModulePath()), CKR_OK);
    EXPECT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_EQ(m_module.m_ulSlotCount, 0u);
    EXPECT_EQ(m_sim.Trace().Count("C_GetSlotList"), 1u);  // no second listing
    EXPECT_EQ(m_sim.Trace().Count("C_Finalize"), 1u);
    EXPECT_EQ(m_module.Load("ignored"), CKR_OK);
}

TEST_F(TokenModuleSlotsTest, FailedListingFinalises)
{
    ASSERT_EQ(m_module.Load(CSimulatedToken::ModulePath()), CKR_OK);
    m_sim.Control().AddFault("C_GetSlotList:2:CKR_DEVICE_ERROR");
    EXPECT_EQ(m_module.GetSlotList(), CKR_DEVICE_ERROR);
    EXPECT_EQ(m_module.m_ulSlotCount, 0u);
    EXPECT_TRUE(m_module.SlotList().empty());
    EXPECT_EQ(m_sim.Trace().Count("C_Finalize"), 1u);
}

TEST_F(TokenModuleSlotsTest, FailedReinitialisationUnloads)
{
    ASSERT_EQ(m_module.Load(CSimulatedToken::ModulePath()), CKR_OK);
    m_sim.Control().Remove(m_sim.Slot());
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);  // finalised
    m_sim.Control().AddFault("C_Initialize:*:CKR_DEVICE_ERROR");
    EXPECT_EQ(m_module.Load("ignored"), CKR_DEVICE_ERROR);
    EXPECT_FALSE(m_module.HasFunctionList());
    EXPECT_EQ(m_module.GetSlotList(), CTokenModule::RV_NO_FUNCTION_LIST);
}

TEST_F(TokenModuleSlotsTest, MonitorBringsAFinalisedModuleBack)
{
    m_sim.Control().Remove(m_sim.Slot());
    ASSERT_EQ(m_module.Load(CSimulatedToken::ModulePath()), CKR_OK);
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(m_module.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_CRYPTOKI_NOT_INITIALIZED);

    m_sim.Control().Insert(m_sim.Slot());
    std::vector<CK_SLOT_ID> present;
    EXPECT_EQ(m_module.ReinitializeForMonitor(present), CKR_OK);
    EXPECT_EQ(present, std::vector<CK_SLOT_ID>{m_sim.Slot()});
    EXPECT_EQ(m_module.m_ulSlotCount, 0u);  // the window's listing is its own
    EXPECT_EQ(m_module.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
    EXPECT_EQ(m_module.Load("ignored"), CKR_OK);  // already initialised counts as done
}
