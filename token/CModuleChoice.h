#pragma once

#include <optional>
#include <string>

// Which PKCS#11 module a program loads: the --module option, else the
// CERTPURGE_MODULE variable, else the token maker's file name, looked up in
// the program's folder first and then by the system's search order.
class CModuleChoice {
public:
    static constexpr const char* kDefaultFileName = "qemva_11.dll";
    static constexpr const char* kVariable = "CERTPURGE_MODULE";

    // An empty variable counts as unset.
    static std::string Resolve(const std::optional<std::string>& option);
};
