#pragma once

#include "inventory/CertTable.h"
#include "inventory/CertTableRules.h"
#include "platform/CClock.h"
#include "token/CTokenModule.h"

// Fills `table` from the certificates `module` found last on session 0,
// orders it by issue date and marks the superseded and expired records.
// The scan stops at the first certificate it cannot read or decode; the
// table says where and why, and a warning is logged (the window shows no
// message for it).
void BuildCertTable(CTokenModule& module, CertTable& table, const CClock& clock = CClock::System());
