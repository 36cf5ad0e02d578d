#include "P11KitProxy.h"
#include "token/CModuleLibrary.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <optional>
#include <thread>

// While one caller holds the module, another gets the busy answer once the
// library's wait is over, and what it meant to do with the module is never
// done; once the module is let go, the next caller has it.
TEST(ModuleLibraryTest, AHeldModuleIsBusyToAnotherCaller)
{
    CModuleLibrary library(std::chrono::milliseconds(20));
    auto attempt = [&library](bool& ran) {
        CK_RV rv = CKR_GENERAL_ERROR;
        std::thread caller([&] {
            rv = library.Run([&](CModuleLibrary::CGuard&) -> CK_RV {
                ran = true;
                return CKR_OK;
            });
        });
        caller.join();
        return rv;
    };
    bool ran = false;
    {
        std::optional<CModuleLibrary::CGuard> held = library.Lock();
        ASSERT_TRUE(held);
        EXPECT_EQ(attempt(ran), CModuleLibrary::RV_MODULE_BUSY);
        EXPECT_FALSE(ran);
        EXPECT_FALSE(library.Lock());
    }
    EXPECT_EQ(attempt(ran), CKR_OK);
    EXPECT_TRUE(ran);
    // Held, but no module loaded: no call reaches anything.
    std::optional<CModuleLibrary::CGuard> module = library.Lock();
    ASSERT_TRUE(module);
    CK_SLOT_ID slot = 0;
    EXPECT_EQ(module->Call(&CK_FUNCTION_LIST::C_WaitForSlotEvent, CK_FLAGS{CKF_DONT_BLOCK}, &slot, nullptr),
              CModuleLibrary::RV_NO_FUNCTION_LIST);
}

// p11-kit's proxy counts its initialisations and finalises only at the last
// C_Finalize. Initialised again at every refresh, it must still be
// finalised by the one finalisation that ends every session and login.
TEST(ModuleLibraryTest, AModuleCountingItsInitialisationsIsFinalisedByOneFinalisation)
{
    const std::string& proxy = testsupport::kP11KitProxy;
    if (!std::filesystem::exists(proxy))
        GTEST_SKIP() << "p11-kit's proxy is not installed";
    CModuleLibrary library;
    std::optional<CModuleLibrary::CGuard> module = library.Lock();
    ASSERT_TRUE(module);
    ASSERT_TRUE(module->Load(proxy.c_str()).Loaded());
    ASSERT_TRUE(module->Load(proxy.c_str()).Loaded());  // a refresh's
    CK_INFO info{};
    EXPECT_EQ(module->Call(&CK_FUNCTION_LIST::C_GetInfo, &info), CKR_OK);
    module->Finalize();
    EXPECT_EQ(module->Call(&CK_FUNCTION_LIST::C_GetInfo, &info), CKR_CRYPTOKI_NOT_INITIALIZED);
}
