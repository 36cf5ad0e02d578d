#include "inventory/BuildCertTable.h"

#include "inventory/CertTableRules.h"
#include "platform/CCertificate.h"
#include "platform/CX500NameRenderer.h"
#include "token/CCkrNames.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

// The subject buffer CryptoAPI callers give: 254 bytes of the Simplified
// Chinese ANSI code page and a terminator. Counting UTF-8 bytes instead
// would lose the CN of long Chinese subjects half again as soon.
constexpr std::size_t SUBJECT_BUFFER_SIZE = 255;

using ETopic = CTokenLog::ETopic;

const char* UseName(CCertificate::EUse use)
{
    switch (use) {
    case CCertificate::EUse::Signing: return "signing";
    case CCertificate::EUse::Encryption: return "encryption";
    case CCertificate::EUse::General: break;
    }
    return "general";
}

// What a failed read of a certificate is told by: the module's answer by
// name, or what this side made of it.
std::string ReadFailure(CK_RV rv)
{
    switch (rv) {
    case CTokenModule::RV_BAD_LENGTH: return "a length that cannot be true";
    case CTokenModule::RV_BUFFER_TOO_SMALL: return "a length that changed while it was read";
    case CTokenModule::RV_MODULE_BUSY: return "the module is busy";
    case CTokenModule::RV_NO_FUNCTION_LIST: return "no module loaded";
    default: return CCkrNames::Of(rv);
    }
}

// Why the scan stops at a certificate, or empty when it does not; the
// reason told to users goes to `told`.
std::string ScanRecord(CTokenModule& module, CK_ULONG index, CertRecord& record, std::string& told)
{
    CK_ULONG valueLen = 0;
    CK_ULONG idLen = 0;
    if (CK_RV rv = module.ReadCertificate(index, nullptr, &valueLen, nullptr, &idLen); rv != CKR_OK) {
        told = ReadFailure(rv);
        return "its sizes could not be read";
    }

    std::vector<unsigned char> value(valueLen + 1, 0);
    auto id = std::make_unique<unsigned char[]>(idLen + 1);  // zero-filled
    if (CK_RV rv = module.ReadCertificate(index, value.data(), &valueLen, id.get(), &idLen); rv != CKR_OK) {
        told = ReadFailure(rv);
        return "its value could not be read";
    }
    record.hCertObject = module.CertObject(index);
    record.pId = std::move(id);
    record.ulIdLen = idLen;

    told = "does not decode";
    std::unique_ptr<CCertificate> cert = CCertificate::Decode(value.data(), valueLen);
    if (!cert)
        return "it does not decode";
    // Dates that cannot be read would mark it expired: treated as undecodable.
    if (!cert->HasReadableValidity())
        return "its validity does not decode";
    told.clear();

    record.strDisplayName = MakeDisplayName(CX500NameRenderer::CertNameToAnsiStr(cert->Subject(), SUBJECT_BUFFER_SIZE));
    record.strIssueDate = MakeDateString(cert->NotBefore());
    record.strExpiryDate = MakeDateString(cert->NotAfter());
    record.eCertKey = cert->PublicKeyType();
    record.key = CCertKey::Of(*cert);
    CCertificate::Bytes subject = cert->SubjectDer();
    record.strSubjectDer.assign(subject.begin(), subject.end());
    CCertificate::Bytes issuer = cert->IssuerDer();
    record.strIssuerDer.assign(issuer.begin(), issuer.end());
    record.strIssuer = CX500NameRenderer::Render(cert->Issuer());
    record.eUse = cert->Use();
    record.bCanDecrypt = cert->CanDecrypt();
    CCertificate::Bytes der = cert->Der();
    record.strCertDer.assign(der.begin(), der.end());
    return {};
}

// A scan cut short is no failure of the listing, but whoever reads the log
// or the list must be able to tell it from a token holding fewer certificates.
void Scan(CTokenModule& module, CertTable& table)
{
    table.nCount = 0;
    table.strStopReason.clear();
    const CK_ULONG found = module.CertCount();
    table.nFound = found;
    table.records.clear();
    table.records.resize(found);
    module.Log().Debug(ETopic::List, std::to_string(found) + " certificates found");
    for (CK_ULONG i = 0; i < found; ++i) {
        std::string told;
        std::string stop = ScanRecord(module, i, table.records[i], told);
        if (!stop.empty()) {
            table.strStopReason = told;
            module.Log().Debug(ETopic::List, "certificate " + std::to_string(i + 1) + ": " + stop);
            module.Log().Warning(ETopic::List, "certificate " + std::to_string(i + 1) + " of " + std::to_string(found) +
                                                   " not read: " + told + "; the listing stops before it");
            table.records.resize(table.nCount);
            return;
        }
        table.nCount = i + 1;
    }
}

// Subject, dates, ID, use and mark of each record: what is red and why.
void LogTable(const CTokenLog& log, const CertTable& table)
{
    if (!log.On(ETopic::List))
        return;
    for (CK_ULONG i = 0; i < table.nCount; ++i) {
        const CertRecord& r = table.records[i];
        log.Debug(ETopic::List, "id " + CTokenLog::Id(r.pId.get(), r.ulIdLen) + " '" + r.strDisplayName + "' issued " +
                                    r.strIssueDate + " expires " + r.strExpiryDate + ", " + UseName(r.eUse) +
                                    ", issuer '" + r.strIssuer + "'" + (r.nMark == 1 ? ": red" : ""));
    }
}

}  // namespace

void BuildCertTable(CTokenModule& module, CertTable& table, const CClock& clock)
{
    Scan(module, table);
    OrderByIssueDate(table);
    MarkOutOfDate(table, clock);
    LogTable(module.Log(), table);
}
