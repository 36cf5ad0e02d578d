#include "inventory/CertTableRules.h"

#include <algorithm>
#include <cstdio>

namespace {

void MarkSuperseded(CertTable& table)
{
    for (CK_ULONG n = table.nCount; n-- > 1;) {
        for (CK_ULONG m = n; m-- > 0;) {
            if (Supersedes(table.records[n], table.records[m])) {
                table.records[m].nMark = 1;
                table.records[m].bSuperseded = true;
            }
        }
    }
}

// Expiry times are UTC, so they are held against the UTC clock: the local
// wall clock would expire certificates hours early east of Greenwich.
void MarkExpired(CertTable& table, const CClock& clock)
{
    for (CK_ULONG i = table.nCount; i-- > 0;) {
        std::string now = MakeDateString(clock.GetSystemTime());
        if (now.compare(table.records[i].strExpiryDate) > 0) {
            table.records[i].nMark = 1;
            table.records[i].bExpired = true;
        }
    }
}

}  // namespace

// A holder's signing and encryption certificates, certificates of two CAs,
// and twins issued in one second are each other's company, not successors.
// The display name is only what is shown: two people of one organisation
// share it. An empty one says nothing of whose certificate it is: it never
// supersedes.
bool Supersedes(const CertRecord& newer, const CertRecord& older)
{
    return !newer.strDisplayName.empty() && newer.strSubjectDer == older.strSubjectDer &&
           newer.strIssueDate.compare(older.strIssueDate) > 0 && newer.strIssuerDer == older.strIssuerDer &&
           newer.eUse == older.eUse;
}

// Equal issue dates keep the order they were found in.
void OrderByIssueDate(CertTable& table)
{
    auto* first = table.records.data();
    std::stable_sort(first, first + table.nCount, [](const CertRecord& a, const CertRecord& b) {
        return a.strIssueDate.compare(b.strIssueDate) < 0;
    });
}

void MarkOutOfDate(CertTable& table, const CClock& clock)
{
    MarkSuperseded(table);
    MarkExpired(table, clock);
}

std::string MakeDisplayName(const std::string& subject)
{
    std::string person;
    std::string organisation;
    std::size_t start = 0;
    for (;;) {
        std::size_t comma = subject.find(',', start);
        std::string field = subject.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::size_t eq = field.find('=');
        if (eq != std::string::npos) {
            std::string key = field.substr(0, eq);
            std::size_t next = field.find('=', eq + 1);
            std::string value = field.substr(eq + 1, next == std::string::npos ? std::string::npos : next - eq - 1);
            // The blank after each separator is part of the key: the first
            // field never matches.
            if (key == " CN")
                person += value + "'s ";
            else if (key == " O")
                organisation += value + " ID";
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return person + organisation;
}

std::string MakeDateString(const SYSTEMTIME& time)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", time.wYear, time.wMonth, time.wDay, time.wHour,
                  time.wMinute, time.wSecond);
    return buf;
}
