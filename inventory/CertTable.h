#pragma once

#include "inventory/CertRecord.h"
#include "token/Pkcs11.h"

#include <string>
#include <vector>

// The certificates of one scan, as many as the token holds; records at or
// past nCount are never read.
struct CertTable {
    std::vector<CertRecord> records;
    CK_ULONG nCount = 0;
    // How many certificates the search found; the scan read the first
    // nCount of them and stopped at the next, when it did.
    CK_ULONG nFound = 0;
    // Why the scan stopped before certificate nCount + 1 of those found
    // (counted from 1): the module's answer by name ("CKR_DEVICE_REMOVED")
    // or "does not decode". Empty when it read every one.
    std::string strStopReason;

    bool IsComplete() const { return strStopReason.empty(); }
};
