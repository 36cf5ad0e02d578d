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
    record.key = CCertKey::Of(*cert);
    CCertificate::Bytes issuer = cert->IssuerDer();
    record.strIssuerDer.assign(issuer.begin(), issuer.end());
    record.strIssuer = CX500NameRenderer::Render(cert->Issuer());
    record.eUse = cert->Use();
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
