#include "inventory/ScanToken.h"

#include "inventory/BuildCertTable.h"
#include "inventory/InventoryMessages.h"

namespace {

ScanResult Scan(CTokenModule& module, const char* moduleName, CertTable& table, const CClock& clock)
{
    table.nCount = 0;
    if (module.Load(moduleName) != CKR_OK)
        return ScanResult::LoadFailed;
    if (module.GetSlotList() != CKR_OK)
        return ScanResult::SlotListFailed;
    return ScanListedToken(module, table, clock);
}

const char* ResultText(ScanResult result)
{
    switch (result) {
    case ScanResult::Scanned: return "read";
    case ScanResult::LoadFailed: return "the module did not initialise";
    case ScanResult::SlotListFailed: return "the slots could not be listed";
    case ScanResult::NoToken: return "no token to list";
    case ScanResult::SessionFailed: return "no session could be opened";
    case ScanResult::FindFailed: return "the certificate search failed";
    case ScanResult::NoCertificates: return "the token holds no certificate";
    }
    return "";
}

}  // namespace

ScanResult ScanToken(CTokenModule& module, const char* moduleName, CertTable& table, const CClock& clock)
{
    ScanResult result = Scan(module, moduleName, table, clock);
    module.Log().Debug(CTokenLog::ETopic::List, std::string("scan: ") + ResultText(result));
    return result;
}

ScanResult ScanListedToken(CTokenModule& module, CertTable& table, const CClock& clock, STokenIdentity* identity)
{
    table = CertTable();
    if (module.m_ulSlotCount < 1)
        return ScanResult::NoToken;
    if (module.OpenSession(0) != CKR_OK)
        return ScanResult::SessionFailed;
    if (identity != nullptr && module.ReadTokenIdentity(0, *identity) != CKR_OK)
        return ScanResult::SessionFailed;
    if (module.FindCertificates(module.m_hSessions[0], &module.m_ulCertCount) != CKR_OK)
        return ScanResult::FindFailed;
    if (module.m_ulCertCount == 0)
        return ScanResult::NoCertificates;
    BuildCertTable(module, table, clock);
    return ScanResult::Scanned;
}

const char* ScanFailureMessage(ScanResult result)
{
    switch (result) {
    case ScanResult::LoadFailed: return Messages::kReloadModuleFailed;
    case ScanResult::SlotListFailed: return Messages::kInsertToken;
    case ScanResult::SessionFailed: return Messages::kCommunicationFailed;
    case ScanResult::FindFailed: return Messages::kFindCertificatesFailed;
    case ScanResult::Scanned:
    case ScanResult::NoToken:
    case ScanResult::NoCertificates: break;
    }
    return nullptr;
}
