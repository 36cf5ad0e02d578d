#include "app/CertListView.h"

#include "app/AppMessages.h"

namespace {

constexpr std::size_t kDateChars = 8;  // YYYYMMDD

}  // namespace

void FillCertList(CListCtrlCl& list, const CertTable& table)
{
    // The first colour entry of every refresh forgets those of earlier
    // refreshes, which would otherwise win the lookup for rows they cover.
    bool bForgetOld = true;
    auto colour = [&](int col, int row, COLORREF cr, bool reset) {
        list.SetItemTextColor(col, row, cr, reset || bForgetOld);
        bForgetOld = false;
    };

    bool bMarkedRowSeen = false;
    for (CK_ULONG i = 0; i < table.nCount; ++i) {
        const CertRecord& record = table.records[i];
        int row = static_cast<int>(i);
        if (record.nMark == 1) {
            bMarkedRowSeen = true;
            for (int col = 0; col < 3; ++col)
                colour(col, row, kMarkedText, false);
        } else {
            for (int col = 0; col < 3; ++col)
                colour(col, row, kNormalText, !bMarkedRowSeen);
            list.SetDefaultTextColor(kNormalText);
        }
        list.InsertItem(LVIF_TEXT, row, record.strIssueDate.substr(0, kDateChars).c_str(), 0, 0, 0, 0);
        list.SetItemText(row, 1, record.strExpiryDate.substr(0, kDateChars).c_str());
        list.SetItemText(row, 2, record.strDisplayName.c_str());
        list.SetItemDescription(row, OutOfDateReason(record).c_str());
    }
}

std::string OutOfDateReason(const CertRecord& record)
{
    std::string reason = record.bExpired ? Messages::kExpiredReason : "";
    if (record.bSuperseded)
        reason += (reason.empty() ? "" : Messages::kReasonSeparator) + std::string(Messages::kSupersededReason);
    return reason;
}
