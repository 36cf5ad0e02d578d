#include "inventory/CKeyPairRule.h"

#include <algorithm>

CKeyPairRule::SVerdict CKeyPairRule::Judge(const CertTable& table, const CertRecord& record,
                                           const std::vector<CK_OBJECT_HANDLE>& holders)
{
    SVerdict verdict;
    if (!HasId(record))
        return verdict;
    auto kept = [&table](CK_OBJECT_HANDLE h) { return !IsDeleted(table, h); };
    if (std::none_of(holders.begin(), holders.end(), kept)) {
        verdict.eFate = EFate::Goes;
        return verdict;
    }
    verdict.eFate = EFate::KeptInUse;
    // Named by the first the table holds, so the user can find it in the list.
    for (CK_ULONG i = 0; i < table.nCount && verdict.pKeeper == nullptr; ++i) {
        const CertRecord& r = table.records[i];
        if (r.nMark != 1 && std::find(holders.begin(), holders.end(), r.hCertObject) != holders.end())
            verdict.pKeeper = &r;
    }
    return verdict;
}

bool CKeyPairRule::IsDeleted(const CertTable& table, CK_OBJECT_HANDLE object)
{
    return std::any_of(table.records.begin(), table.records.begin() + table.nCount,
                       [object](const CertRecord& r) { return r.nMark == 1 && r.hCertObject == object; });
}
