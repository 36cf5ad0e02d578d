#pragma once
// The rules of the certificate table, apart from the token that fills it:
// its order, its marks, and how records are named and dated.

#include "inventory/CertTable.h"
#include "platform/CClock.h"
#include "platform/WinTypes.h"

#include <string>

// By issue date, oldest first; equal dates keep the order they were found in.
void OrderByIssueDate(CertTable& table);

// A renewal: `newer` is strictly newer, of the same subject, issuer and use.
bool Supersedes(const CertRecord& newer, const CertRecord& older);

// Marks the superseded records (those a later record of the same subject,
// issuer and use renews) and the expired ones.
void MarkOutOfDate(CertTable& table, const CClock& clock);

// "<CN>'s " for every CN and "<O> ID" for every O of a rendered subject,
// people first. Keys are matched with the blank that follows each ", ", so
// the first field of a rendered subject never matches.
std::string MakeDisplayName(const std::string& subject);

// Fourteen digits, YYYYMMDDhhmmss.
std::string MakeDateString(const SYSTEMTIME& time);
