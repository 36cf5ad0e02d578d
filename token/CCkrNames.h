#pragma once

#include "token/Pkcs11.h"

#include <string>

// The CKR_ name of a PKCS#11 return value, for messages meant for people.
class CCkrNames {
public:
    // "CKR_…", or "0x…" for a value without a name here.
    static std::string Of(CK_RV rv);
};
