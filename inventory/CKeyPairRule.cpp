#include "inventory/CKeyPairRule.h"

#include <algorithm>
#include <cstring>

CKeyPairRule::SVerdict CKeyPairRule::Judge(const CertTable& table, const CertRecord& record,
                                           const std::vector<CK_OBJECT_HANDLE>& holders)
{
    SVerdict verdict;
    if (!HasId(record))
        return verdict;
    // Named by the first the table holds, so the user can find it in the
    // list. The table holds every certificate the scan read: one kept there
    // under the same ID keeps the keys even where the module's search by ID
    // did not hand it out.
    for (CK_ULONG i = 0; i < table.nCount && verdict.pKeeper == nullptr; ++i) {
        const CertRecord& r = table.records[i];
        const bool bHolder = std::find(holders.begin(), holders.end(), r.hCertObject) != holders.end() ||
                             (r.ulIdLen == record.ulIdLen && std::memcmp(r.pId.get(), record.pId.get(), r.ulIdLen) == 0);
        if (r.nMark != 1 && bHolder)
            verdict.pKeeper = &r;
    }
    auto kept = [&table](CK_OBJECT_HANDLE h) { return !IsDeleted(table, h); };
    verdict.eFate = verdict.pKeeper != nullptr || std::any_of(holders.begin(), holders.end(), kept) ? EFate::KeptInUse
                                                                                                     : EFate::Goes;
    return verdict;
}

bool CKeyPairRule::IsDeleted(const CertTable& table, CK_OBJECT_HANDLE object)
{
    return std::any_of(table.records.begin(), table.records.begin() + table.nCount,
                       [object](const CertRecord& r) { return r.nMark == 1 && r.hCertObject == object; });
}
