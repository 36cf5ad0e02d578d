#include "inventory/BuildCertTable.h"

#include "inventory/CertTableRules.h"
#include "platform/CCertificate.h"
#include "platform/CX500NameRenderer.h"

#include <algorithm>
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

}  // namespace

void BuildCertTable(CTokenModule& module, CertTable& table, const CClock& clock)
{
    Scan(module, table);
    OrderByIssueDate(table);
    MarkOutOfDate(table, clock);
}
