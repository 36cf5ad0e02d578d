#pragma once

#include "token/Pkcs11.h"

// Certificates asked for by each C_FindObjects call of the certificate
// search; it asks again until a call gives fewer.
constexpr CK_ULONG MAX_CERTS = 10;
// The most certificates believed of one token: a search handing out more
// does not end, and fails.
constexpr CK_ULONG MAX_TOKEN_CERTS = 16384;
