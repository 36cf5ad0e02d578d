#pragma once

#include "token/Pkcs11.h"

#include <optional>
#include <string>

// Who a token is, from its CK_TOKEN_INFO: the padded fields trimmed, and
// its PKCS#11 URI of token attributes (RFC 7512).
struct STokenIdentity {
    std::string strLabel;
    std::string strManufacturer;
    std::string strModel;
    std::string strSerial;
    std::string strUri;
    bool bInitialized = false;
    // The token's flags as read: the user PIN's state and a keypad among them.
    CK_FLAGS ulFlags = 0;
    // The flags of its slot (removable, hardware), where a listing of the
    // tokens read them.
    std::optional<CK_FLAGS> slotFlags;

    static STokenIdentity Of(const CK_TOKEN_INFO& info);

    // One token is told from another by its label and serial.
    bool IsSameToken(const STokenIdentity& other) const
    {
        return strLabel == other.strLabel && strSerial == other.strSerial;
    }
};
