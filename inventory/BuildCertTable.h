#pragma once

#include "inventory/CertTable.h"
#include "platform/CClock.h"

#include <string>

// Fills `table` from the certificates `module` found last on session 0,
// orders it by issue date and marks the superseded and expired records.
// The scan stops, silently, at the first certificate it cannot read or decode.
void BuildCertTable(CTokenModule& module, CertTable& table, const CClock& clock = CClock::System());

// "<CN>'s " for every CN and "<O> ID" for every O of a rendered subject,
// people first. Keys are matched with the blank that follows each ", ", so
// the first field of a rendered subject never matches.
std::string MakeDisplayName(const std::string& subject);

// Fourteen digits, YYYYMMDDhhmmss.
std::string MakeDateString(const SYSTEMTIME& time);
