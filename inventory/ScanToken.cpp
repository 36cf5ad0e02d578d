#include "inventory/ScanToken.h"

#include "inventory/BuildCertTable.h"
#include "inventory/InventoryMessages.h"

namespace {

ScanResult Scan(CTokenModule& module, const char* moduleName, CertTable& table, const CClock& clock)
{
    table.nCount = 0;
    if (!module.Load(moduleName).Loaded())
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

ScanResult ScanListedToken(CTokenModule& module, CertTable& table, const CClock& clock, STokenIdentity* identity,
                           CTokenModule::EAccess access)
{
    table = CertTable();
    if (module.SlotCount() < 1)
        return ScanResult::NoToken;
    CK_RV rv = module.OpenSession(0, access);
    if (rv == CKR_TOKEN_WRITE_PROTECTED && access == CTokenModule::EAccess::ReadWrite) {
        module.Log().Debug(CTokenLog::ETopic::List, "the token is write-protected: read only");
        rv = module.OpenSession(0, CTokenModule::EAccess::Read);
    }
    if (rv != CKR_OK)
        return ScanResult::SessionFailed;
    if (identity != nullptr && module.ReadTokenIdentity(0, *identity) != CKR_OK)
        return ScanResult::SessionFailed;
    CK_ULONG count = 0;
    if (module.FindCertificates(module.Session(0), &count) != CKR_OK)
        return ScanResult::FindFailed;
    if (count == 0)
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
