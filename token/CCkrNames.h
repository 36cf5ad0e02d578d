#pragma once

#include "token/Pkcs11.h"

#include <optional>
#include <string>
#include <string_view>

// The CKR_ name of a PKCS#11 return value, for messages meant for people.
class CCkrNames {
public:
    // "CKR_…", or "0x…" for a value without a name.
    static std::string Of(CK_RV rv);
    // The name alone; null for a value without one.
    static const char* Name(CK_RV rv);
    static std::optional<CK_RV> Parse(std::string_view name);
};
