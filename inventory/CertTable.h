#pragma once

#include "inventory/CertRecord.h"
#include "token/TokenLimits.h"

#include <array>

// The certificates of one scan; records at or past nCount are never read.
struct CertTable {
    std::array<CertRecord, MAX_CERTS> records;
    CK_ULONG nCount = 0;
};
