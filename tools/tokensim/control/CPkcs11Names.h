#pragma once

#include "token/Pkcs11.h"

#include <optional>
#include <string>
#include <string_view>

// Names of the constants the simulator writes into its trace and accepts in
// fault rules. Values without a name print as 0x hex.
class CPkcs11Names {
public:
    static std::string Rv(CK_RV rv);
    // A CKR_ name, or a number in decimal or 0x hex.
    static std::optional<CK_RV> ParseRv(std::string_view text);

    static std::string Attribute(CK_ATTRIBUTE_TYPE type);
    static std::string UserType(CK_USER_TYPE type);

    // Whether `name` is one of the entry points of CK_FUNCTION_LIST.
    static bool IsFunction(std::string_view name);

    static std::string Hex(CK_ULONG value);
    // A decimal or 0x-hex number that fits a CK_ULONG.
    static std::optional<CK_ULONG> ParseNumber(std::string_view text);
};
