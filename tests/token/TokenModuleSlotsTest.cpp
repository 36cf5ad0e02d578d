#include "CSimulatedToken.h"
#include "token/CPresenceMonitor.h"
#include "token/CTokenModule.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

using testsupport::CSimulatedToken;

namespace {

// What the token simulator can give and SoftHSM2 cannot: a reader without
// its token, no reader at all, a login on the reader's keypad.
class TokenModuleSlotsTest : public ::testing::Test {
protected:
    // How long a rescue waits before it steps in for a test gone wrong,
    // stretched under the sanitizers.
    static std::chrono::seconds Patience()
    {
        const char* slack = std::getenv("CERTPURGE_TIME_SLACK");
        return std::chrono::seconds(30) * (slack != nullptr ? std::max(1, std::atoi(slack)) : 1);
    }

    CSimulatedToken m_sim;
    CTokenModule m_module;
};

class CIgnoringSink final : public IPresenceSink {
public:
    void OnSlotEvent(SlotEvent, CK_SLOT_ID) override {}
};

}  // namespace

TEST_F(TokenModuleSlotsTest, SlotWithoutTokenFinalisesAndLoadBringsItBack)
{
    m_sim.Control().Remove(m_sim.Slot());
    ASSERT_TRUE(m_module.Load(CSimulatedToken::ModulePath()).Loaded());
    EXPECT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_EQ(m_module.SlotCount(), 0u);
    EXPECT_EQ(m_sim.Trace().Count("C_Finalize"), 1u);
    EXPECT_EQ(m_module.OpenSession(0), CKR_ARGUMENTS_BAD);

    m_sim.Control().Insert(m_sim.Slot());
    EXPECT_TRUE(m_module.Load("ignored").Loaded());
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_EQ(m_module.SlotCount(), 1u);
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

    ASSERT_TRUE(m_module.Load(CSimulatedToken::ModulePath()).Loaded());
    EXPECT_EQ(m_module.GetSlotList(), CKR_OK);
    EXPECT_EQ(m_module.SlotCount(), 0u);
    EXPECT_EQ(m_sim.Trace().Count("C_GetSlotList"), 1u);  // no second listing
    EXPECT_EQ(m_sim.Trace().Count("C_Finalize"), 1u);
    EXPECT_TRUE(m_module.Load("ignored").Loaded());
}

TEST_F(TokenModuleSlotsTest, FailedListingFinalises)
{
    ASSERT_TRUE(m_module.Load(CSimulatedToken::ModulePath()).Loaded());
    m_sim.Control().AddFault("C_GetSlotList:2:CKR_DEVICE_ERROR");
    EXPECT_EQ(m_module.GetSlotList(), CKR_DEVICE_ERROR);
    EXPECT_EQ(m_module.SlotCount(), 0u);
    EXPECT_TRUE(m_module.SlotList().empty());
    EXPECT_EQ(m_sim.Trace().Count("C_Finalize"), 1u);
}

TEST_F(TokenModuleSlotsTest, FailedReinitialisationUnloads)
{
    ASSERT_TRUE(m_module.Load(CSimulatedToken::ModulePath()).Loaded());
    m_sim.Control().Remove(m_sim.Slot());
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);  // finalised
    m_sim.Control().AddFault("C_Initialize:*:CKR_DEVICE_ERROR");
    SLoadResult result = m_module.Load("ignored");
    EXPECT_EQ(result.eStep, SLoadResult::EStep::Initialize);
    EXPECT_EQ(result.rv, static_cast<CK_RV>(CKR_DEVICE_ERROR));
    EXPECT_FALSE(m_module.HasFunctionList());
    EXPECT_EQ(m_module.GetSlotList(), CTokenModule::RV_NO_FUNCTION_LIST);
}

TEST_F(TokenModuleSlotsTest, MonitorBringsAFinalisedModuleBack)
{
    m_sim.Control().Remove(m_sim.Slot());
    ASSERT_TRUE(m_module.Load(CSimulatedToken::ModulePath()).Loaded());
    ASSERT_EQ(m_module.GetSlotList(), CKR_OK);
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(m_module.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_CRYPTOKI_NOT_INITIALIZED);

    m_sim.Control().Insert(m_sim.Slot());
    std::vector<CK_SLOT_ID> present;
    EXPECT_EQ(m_module.ReinitializeForMonitor(present), CKR_OK);
    EXPECT_EQ(present, std::vector<CK_SLOT_ID>{m_sim.Slot()});
    EXPECT_EQ(m_module.SlotCount(), 0u);  // the window's listing is its own
    EXPECT_EQ(m_module.WaitForSlotEvent(CKF_DONT_BLOCK, &slot), CKR_NO_EVENT);
    EXPECT_TRUE(m_module.Load("ignored").Loaded());  // already initialised counts as done
}

// While a login waits for the PIN on the reader's keypad, holding the
// module, every other caller is turned away at once with the busy answer,
// however long it would otherwise wait: the window's calls, and the
// monitor's polls, which see nothing yet.
TEST_F(TokenModuleSlotsTest, AKeypadLoginTurnsEveryOtherCallerAwayAtOnce)
{
    m_sim.Control().SetTokenFlags(m_sim.Slot(), CKF_PROTECTED_AUTHENTICATION_PATH);
    // Callers that waited would wait as long as the login.
    auto module = std::make_shared<CTokenModule>(std::chrono::hours(1));
    ASSERT_TRUE(module->Load(CSimulatedToken::ModulePath()).Loaded());
    ASSERT_EQ(module->GetSlotList(), CKR_OK);
    ASSERT_EQ(module->OpenSession(0), CKR_OK);
    CIgnoringSink sink;
    std::shared_ptr<CPresenceMonitor> monitor = CPresenceMonitor::Create(module, sink);
    m_sim.Trace().Truncate();

    CK_RV login = CKR_GENERAL_ERROR;
    std::thread keypad([&] { login = module->Login(0, nullptr, 0); });
    // Should the calls below wait for the module, the PIN typed after a
    // while ends the login and lets them through: the test fails rather
    // than hangs.
    std::mutex mutex;
    std::condition_variable done;
    bool bAsked = false;
    std::thread rescue([&] {
        std::unique_lock<std::mutex> lock(mutex);
        if (!done.wait_for(lock, Patience(), [&] { return bAsked; }))
            m_sim.Control().EnterOnKeypad(testsupport::CSoftHsmToken::kUserPin);
    });
    const auto giveUp = std::chrono::steady_clock::now() + Patience();
    while (m_sim.Trace().CountBlocking("C_Login") == 0 && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(m_sim.Trace().CountBlocking("C_Login"), 1u);

    CK_TOKEN_INFO info{};
    EXPECT_EQ(module->GetTokenInfo(m_sim.Slot(), &info), CTokenModule::RV_MODULE_BUSY);
    EXPECT_EQ(module->OpenSession(0), CTokenModule::RV_MODULE_BUSY);
    EXPECT_EQ(module->Load("ignored").eStep, SLoadResult::EStep::Busy);
    EXPECT_FALSE(module->HasFunctionList());
    CK_SLOT_ID slot = 0;
    IPresencePort::EOrigin origin = IPresencePort::EOrigin::Module;
    EXPECT_EQ(module->WaitForSlotEvent(CKF_DONT_BLOCK, &slot, &origin), CTokenModule::RV_MODULE_BUSY);
    EXPECT_EQ(origin, IPresencePort::EOrigin::Wrapper);
    EXPECT_EQ(monitor->PollSlotEvent(&slot), SLOT_EVENT_NONE);
    {
        std::lock_guard<std::mutex> lock(mutex);
        bAsked = true;
    }
    done.notify_all();
    rescue.join();
    EXPECT_EQ(m_sim.Trace().Calls(), std::vector<std::string>{});  // nothing reached the module meanwhile

    m_sim.Control().EnterOnKeypad(testsupport::CSoftHsmToken::kUserPin);
    keypad.join();
    EXPECT_EQ(login, static_cast<CK_RV>(CKR_OK));
    // Let go, the module answers everyone again.
    EXPECT_EQ(module->GetTokenInfo(m_sim.Slot(), &info), static_cast<CK_RV>(CKR_OK));
    EXPECT_TRUE(module->HasFunctionList());
}
