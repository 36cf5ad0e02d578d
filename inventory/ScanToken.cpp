#include "inventory/ScanToken.h"

#include "inventory/BuildCertTable.h"

ScanResult ScanToken(CTokenModule& module, const char* moduleName, CertTable& table, const CClock& clock)
{
    table.nCount = 0;
    if (module.Load(moduleName) != CKR_OK)
        return ScanResult::LoadFailed;
    if (module.GetSlotList() != CKR_OK)
        return ScanResult::SlotListFailed;
    if (module.m_ulSlotCount < 1)
        return ScanResult::NoToken;
    if (module.OpenSession(0) != CKR_OK)
        return ScanResult::SessionFailed;
    if (module.FindCertificates(module.m_hSessions[0], &module.m_ulCertCount) != CKR_OK)
        return ScanResult::FindFailed;
    if (module.m_ulCertCount == 0)
        return ScanResult::NoCertificates;
    BuildCertTable(module, table, clock);
    return ScanResult::Scanned;
}
