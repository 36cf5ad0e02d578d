#pragma once

#include "inventory/CertTable.h"
#include "platform/CClock.h"
#include "token/CTokenModule.h"

// Where a scan of the token ended.
enum class ScanResult {
    Scanned,          // the table holds what the scan completed
    LoadFailed,       // the module could not be (re)initialised
    SlotListFailed,   // the slot listing failed
    NoToken,          // no slot holds a token
    SessionFailed,    // session 0 could not be opened
    FindFailed,       // the certificate search failed
    NoCertificates,   // the token holds no certificate
};

// The scan behind every listing of the token: (re)initialise the module,
// find the first slot with a token, open session 0 on it, find the
// certificates and build the table.
ScanResult ScanToken(CTokenModule& module, const char* moduleName, CertTable& table,
                     const CClock& clock = CClock::System());

// The text a failed scan is reported with, or null for the results that
// are reported with none.
const char* ScanFailureMessage(ScanResult result);
