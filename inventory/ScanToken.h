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
// list the slots, and scan the first one's token (ScanListedToken).
ScanResult ScanToken(CTokenModule& module, const char* moduleName, CertTable& table,
                     const CClock& clock = CClock::System());

// The token of the first slot the last listing found, scanned into a fresh
// table: session 0 opened on it (and, when `identity` is given, who the
// token is read through it), its certificates found and the table built.
// The removal scans so, on the slot list of the last refresh, on a session
// that may write; a write-protected token refusing one is scanned on a
// session that reads (the module's SessionAccess(0) tells). An identity
// that cannot be read fails as the session does.
ScanResult ScanListedToken(CTokenModule& module, CertTable& table, const CClock& clock,
                           STokenIdentity* identity = nullptr,
                           CTokenModule::EAccess access = CTokenModule::EAccess::Read);

// The text a failed scan is reported with, or null for the results that
// are reported with none.
const char* ScanFailureMessage(ScanResult result);
