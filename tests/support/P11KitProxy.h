#pragma once

#include "token/CModuleChoice.h"

#include <filesystem>
#include <string>

namespace testsupport {

// p11-kit's proxy, which shows the slots of every registered module, where
// p11-kit's build put it.
inline const std::string kP11KitProxy = CModuleChoice::ProxyModule();

// True when the proxy is installed and SoftHSM2 is registered with it.
inline bool P11KitProxyReachesSoftHsm()
{
    return std::filesystem::exists(kP11KitProxy) &&
           std::filesystem::exists("/usr/share/p11-kit/modules/softhsm2.module");
}

}  // namespace testsupport
