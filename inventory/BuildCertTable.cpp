#include "inventory/BuildCertTable.h"

#include "platform/CCertificate.h"
#include "platform/CX500NameRenderer.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace {

// The subject buffer CryptoAPI callers give: 254 bytes of the Simplified
// Chinese ANSI code page and a terminator. Counting UTF-8 bytes instead
// would lose the CN of long Chinese subjects half again as soon.
constexpr std::size_t SUBJECT_BUFFER_SIZE = 255;

// The token's key type for a certificate's public key. RSA-PSS keys are
// RSA keys to PKCS#11; any other key keeps the RSA search.
CK_KEY_TYPE TokenKeyType(CCertificate::EKeyType type)
{
    switch (type) {
    case CCertificate::EKeyType::Ec: return CKK_EC;
    case CCertificate::EKeyType::Ed25519:
    case CCertificate::EKeyType::Ed448: return CKK_EC_EDWARDS;
    case CCertificate::EKeyType::Rsa:
    case CCertificate::EKeyType::RsaPss:
    case CCertificate::EKeyType::Other: break;
    }
    return CKK_RSA;
}

bool ScanRecord(CTokenModule& module, CK_ULONG index, CertRecord& record)
{
    CK_ULONG valueLen = 0;
    CK_ULONG idLen = 0;
    if (module.ReadCertificate(index, nullptr, &valueLen, nullptr, &idLen) != CKR_OK)
        return false;

    std::vector<unsigned char> value(valueLen + 1, 0);
    auto id = std::make_unique<unsigned char[]>(idLen + 1);  // zero-filled
    if (module.ReadCertificate(index, value.data(), &valueLen, id.get(), &idLen) != CKR_OK)
        return false;
    record.hCertObject = module.m_hCerts[index];
    record.pId = std::move(id);
    record.ulIdLen = idLen;

    std::unique_ptr<CCertificate> cert = CCertificate::Decode(value.data(), valueLen);
    // Dates that cannot be read would mark it expired: treated as undecodable.
    if (!cert || !cert->HasReadableValidity())
        return false;

    record.strDisplayName = MakeDisplayName(CX500NameRenderer::CertNameToAnsiStr(cert->Subject(), SUBJECT_BUFFER_SIZE));
    record.strIssueDate = MakeDateString(cert->NotBefore());
    record.strExpiryDate = MakeDateString(cert->NotAfter());
    record.eCertKey = cert->PublicKeyType();
    record.ulKeyType = TokenKeyType(record.eCertKey);
    return true;
}

void Scan(CTokenModule& module, CertTable& table)
{
    table.nCount = 0;
    CK_ULONG found = std::min(module.m_ulCertCount, MAX_CERTS);
    for (CK_ULONG i = 0; i < found; ++i) {
        if (!ScanRecord(module, i, table.records[i]))
            return;
        table.nCount = i + 1;
    }
}

// A stable bubble sort: equal issue dates keep the order they were found in.
void OrderByIssueDate(CertTable& table)
{
    CK_ULONG n = table.nCount;
    for (CK_ULONG pass = 0; pass + 1 < n; ++pass) {
        for (CK_ULONG j = 0; j + 1 < n - pass; ++j) {
            if (table.records[j].strIssueDate.compare(table.records[j + 1].strIssueDate) > 0)
                std::swap(table.records[j], table.records[j + 1]);
        }
    }
}

// Of every group sharing a display name, all but the last in table order.
// An empty name says nothing of whose certificate it is: it never supersedes.
void MarkSuperseded(CertTable& table)
{
    for (CK_ULONG n = table.nCount; n-- > 1;) {
        if (table.records[n].strDisplayName.empty())
            continue;
        for (CK_ULONG m = n; m-- > 0;) {
            if (table.records[m].strDisplayName == table.records[n].strDisplayName)
                table.records[m].nMark = 1;
        }
    }
}

// Expiry times are UTC, so they are held against the UTC clock: the local
// wall clock would expire certificates hours early east of Greenwich.
void MarkExpired(CertTable& table, const CClock& clock)
{
    for (CK_ULONG i = table.nCount; i-- > 0;) {
        std::string now = MakeDateString(clock.GetSystemTime());
        if (now.compare(table.records[i].strExpiryDate) > 0)
            table.records[i].nMark = 1;
    }
}

}  // namespace

void BuildCertTable(CTokenModule& module, CertTable& table, const CClock& clock)
{
    Scan(module, table);
    OrderByIssueDate(table);
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
