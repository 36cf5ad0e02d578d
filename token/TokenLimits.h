#pragma once

#include "token/Pkcs11.h"

// Certificates seen by one search, and rows of one certificate table.
constexpr CK_ULONG MAX_CERTS = 10;
