#pragma once

#include "inventory/CertTable.h"
#include "inventory/CertTableRules.h"
#include "platform/CClock.h"
#include "token/CTokenModule.h"

// Fills `table` from the certificates `module` found last on session 0,
// orders it by issue date and marks the superseded and expired records.
// The scan stops, silently, at the first certificate it cannot read or decode.
void BuildCertTable(CTokenModule& module, CertTable& table, const CClock& clock = CClock::System());
