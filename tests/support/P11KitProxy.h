#pragma once

#include <filesystem>

namespace testsupport {

// p11-kit's proxy, which shows the slots of every registered module.
inline constexpr const char* kP11KitProxy = "/usr/lib/x86_64-linux-gnu/p11-kit-proxy.so";

// True when the proxy is installed and SoftHSM2 is registered with it.
inline bool P11KitProxyReachesSoftHsm()
{
    return std::filesystem::exists(kP11KitProxy) &&
           std::filesystem::exists("/usr/share/p11-kit/modules/softhsm2.module");
}

}  // namespace testsupport
