// The main dialog's refresh of the certificate list from the token.

#include "app/CCertPurgeDlg.h"

#include "inventory/ScanToken.h"
#include "platform/CMessageBox.h"
#include "platform/CWaitCursor.h"
#include "res/Messages.h"

namespace {

constexpr COLORREF kMarkedText = RGB(255, 0, 0);
constexpr COLORREF kNormalText = RGB(0, 0, 0);
constexpr std::size_t kDateChars = 8;  // YYYYMMDD

}  // namespace

void CCertPurgeDlg::RefreshList()
{
    m_list.DeleteAllItems();
    m_list.SetTextColor(kNormalText);

    CertTable table;
    ScanResult result;
    {
        // A real token takes seconds to read.
        CWaitCursor wait;
        result = ScanToken(m_token, m_strModuleFile.c_str(), table, *m_pClock);
    }
    if (result == ScanResult::Scanned) {
        m_list.DeleteAllItems();
        FillList(table);
        return;
    }
    if (result == ScanResult::NoCertificates)
        m_list.DeleteAllItems();
    ShowScanFailure(result);
}

void CCertPurgeDlg::ShowScanFailure(ScanResult result)
{
    switch (result) {
    case ScanResult::LoadFailed:
        MessageBox(Messages::kReloadModuleFailed, nullptr, MB_OK);
        break;
    case ScanResult::SlotListFailed:
        MessageBox(Messages::kInsertToken, Messages::kNoticeCaption, MB_OK | MB_ICONINFORMATION);
        break;
    case ScanResult::SessionFailed:
        MessageBox(Messages::kCommunicationFailed, Messages::kNoticeCaption, MB_OK | MB_ICONINFORMATION);
        break;
    case ScanResult::FindFailed:
        MessageBox(Messages::kFindCertificatesFailed, Messages::kNoticeCaption, MB_OK | MB_ICONINFORMATION);
        break;
    case ScanResult::Scanned:
    case ScanResult::NoToken:
    case ScanResult::NoCertificates:
        break;
    }
}

void CCertPurgeDlg::FillList(const CertTable& table)
{
    // The first colour entry of every refresh forgets those of earlier
    // refreshes, which would otherwise win the lookup for rows they cover.
    bool bForgetOld = true;
    auto colour = [&](int col, int row, COLORREF cr, bool reset) {
        m_list.SetItemTextColor(col, row, cr, reset || bForgetOld);
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
            m_list.SetDefaultTextColor(kNormalText);
        }
        m_list.InsertItem(LVIF_TEXT, row, record.strIssueDate.substr(0, kDateChars).c_str(), 0, 0, 0, 0);
        m_list.SetItemText(row, 1, record.strExpiryDate.substr(0, kDateChars).c_str());
        m_list.SetItemText(row, 2, record.strDisplayName.c_str());
    }
}
