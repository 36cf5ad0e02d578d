#pragma once

#include "token/Pkcs11.h"

#include <string>

// Who a token is, from its CK_TOKEN_INFO: the blank-padded fields trimmed,
// and its PKCS#11 URI of token attributes (RFC 7512).
struct STokenIdentity {
    std::string strLabel;
    std::string strManufacturer;
    std::string strModel;
    std::string strSerial;
    std::string strUri;
    bool bInitialized = false;

    static STokenIdentity Of(const CK_TOKEN_INFO& info);

    // One token is told from another by its label and serial.
    bool IsSameToken(const STokenIdentity& other) const
    {
        return strLabel == other.strLabel && strSerial == other.strSerial;
    }
};
