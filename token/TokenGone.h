#pragma once

#include "token/Pkcs11.h"

// The module's answers that mean the token left, or the session with it
// ended. After the last two the module still counts the session as open,
// dead, until it is closed.
inline bool TokenGone(CK_RV rv)
{
    return rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_SESSION_CLOSED || rv == CKR_DEVICE_REMOVED ||
           rv == CKR_TOKEN_NOT_PRESENT;
}
