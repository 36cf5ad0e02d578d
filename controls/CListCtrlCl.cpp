#include "controls/CListCtrlCl.h"

#include "controls/CListItemDelegate.h"
#include "controls/CPainterDC.h"
#include "platform/CGdiFont.h"
#include "platform/Utf8.h"

#include <QItemSelectionModel>
#include <QStandardItemModel>

#include <algorithm>
#include <array>

namespace {

// The cell text as the UTF-8 bytes it was given; the display role carries
// the same text decoded.
constexpr int kTextRole = Qt::UserRole;
// Room for 255 bytes of cell text and the terminator.
constexpr int kTextBufferSize = 256;
// The report view keeps column 0's label this far in from the column edge.
constexpr int kLabelMargin = 2;

}  // namespace

CListCtrlCl::CListCtrlCl(QWidget* pParent)
    : QTreeView(pParent)
    , m_pModel(new QStandardItemModel(this))
{
    setHeader(&m_ctlHeader);
    setModel(m_pModel);
    setItemDelegate(new CListItemDelegate(*this));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAllColumnsShowFocus(true);
    KeepLightColours();
}

CListCtrlCl::~CListCtrlCl() = default;

int CListCtrlCl::InsertColumn(int nCol, const char* lpszColumnHeading, int nFormat, int nWidth,
                              int /*nSubItem*/)
{
    m_ctlHeader.m_astrHeadings.emplace_back(lpszColumnHeading ? lpszColumnHeading : "");
    m_ctlHeader.m_strAlignCodes.push_back(AlignCodeFromFormat(nFormat));
    return InsertReportColumn(nCol, lpszColumnHeading, nWidth);
}

bool CListCtrlCl::SetColumnWidth(int nCol, int cx)
{
    if (!HasColumn(nCol) || cx < 0)
        return false;
    m_ctlHeader.resizeSection(nCol, cx);
    return true;
}

// nImage and lParam have no place here: the list has no image list and
// keeps no item data.
int CListCtrlCl::InsertItem(UINT nMask, int nItem, const char* lpszItem, UINT nState,
                            UINT nStateMask, int /*nImage*/, LPARAM /*lParam*/)
{
    if (nItem < 0)
        return -1;
    const int nIndex = std::min(nItem, GetItemCount());
    if (!m_pModel->insertRow(nIndex))
        return -1;
    if ((nMask & LVIF_TEXT) != 0)
        SetItemText(nIndex, 0, lpszItem);
    if ((nMask & LVIF_STATE) != 0)
        SetItemState(nIndex, nState, nStateMask);
    return nIndex;
}

bool CListCtrlCl::SetItemText(int nItem, int nSubItem, const char* lpszText)
{
    const QModelIndex index = m_pModel->index(nItem, nSubItem);
    if (!index.isValid())
        return false;
    const QByteArray text(lpszText ? lpszText : "");
    m_pModel->setData(index, text, kTextRole);
    m_pModel->setData(index, QString::fromUtf8(text), Qt::DisplayRole);
    return true;
}

std::string CListCtrlCl::GetItemText(int nItem, int nSubItem) const
{
    return m_pModel->index(nItem, nSubItem).data(kTextRole).toByteArray().toStdString();
}

int CListCtrlCl::GetItemText(int nItem, int nSubItem, char* lpszText, int nLen) const
{
    if (lpszText == nullptr || nLen <= 0)
        return 0;
    const std::string strText = GetItemText(nItem, nSubItem);
    const std::size_t nCopy = Utf8::SafePrefixLength(strText, static_cast<std::size_t>(nLen - 1));
    std::copy_n(strText.data(), nCopy, lpszText);
    lpszText[nCopy] = '\0';
    return static_cast<int>(nCopy);
}

bool CListCtrlCl::SetItemDescription(int nItem, const char* lpszDescription)
{
    if (nItem < 0 || nItem >= GetItemCount())
        return false;
    const QString description = QString::fromUtf8(lpszDescription ? lpszDescription : "");
    for (int nSubItem = 0; HasColumn(nSubItem); ++nSubItem)
        m_pModel->setData(m_pModel->index(nItem, nSubItem), description, Qt::AccessibleDescriptionRole);
    return true;
}

// Only the selection state is kept; selecting a row clears any other, as
// the list allows one selected row.
bool CListCtrlCl::SetItemState(int nItem, UINT nState, UINT nStateMask)
{
    if (nItem < 0 || nItem >= GetItemCount())
        return false;
    if ((nStateMask & LVIS_SELECTED) == 0)
        return true;
    const QItemSelectionModel::SelectionFlags command =
        (nState & LVIS_SELECTED) != 0 ? QItemSelectionModel::ClearAndSelect : QItemSelectionModel::Deselect;
    selectionModel()->select(m_pModel->index(nItem, 0), command | QItemSelectionModel::Rows);
    return true;
}

int CListCtrlCl::GetItemCount() const
{
    return m_pModel->rowCount();
}

// The colour entries stay: they belong to row indexes, not to the rows.
bool CListCtrlCl::DeleteAllItems()
{
    return GetItemCount() == 0 || m_pModel->removeRows(0, GetItemCount());
}

bool CListCtrlCl::GetSubItemRect(int nItem, int nSubItem, int nArea, RECT& rect) const
{
    const QModelIndex index = m_pModel->index(nItem, nSubItem);
    if (!index.isValid())
        return false;
    const QRect rcCell = visualRect(index);
    if (!rcCell.isValid())
        return false;
    rect = CPainterDC::ToRect(rcCell);
    if (nArea == LVIR_LABEL && nSubItem == 0)
        rect.left += kLabelMargin;
    return true;
}

bool CListCtrlCl::SetTextColor(COLORREF cr)
{
    m_crListText = cr;
    return true;
}

COLORREF CListCtrlCl::GetTextColor() const
{
    return m_crListText;
}

COLORREF CListCtrlCl::GetBkColor() const
{
    return CPainterDC::ToColorRef(viewport()->palette().color(viewport()->backgroundRole()));
}

CHeaderCtrlCl* CListCtrlCl::GetHeaderCtrl()
{
    return &m_ctlHeader;
}

void CListCtrlCl::SetItemTextColor(int nSubItem, int nItem, COLORREF crColor, bool bReset)
{
    if (bReset)
        m_lstCellTextColors.clear();
    m_lstCellTextColors.push_back(ColorEntry{nItem, nSubItem, crColor});
}

bool CListCtrlCl::SetDefaultTextColor(COLORREF crColor)
{
    m_crDefaultText = crColor;
    return true;
}

bool CListCtrlCl::LookupColumnBkColor(int nSubItem, COLORREF& crColor) const
{
    return FindColumnEntry(m_lstColumnBkColors, nSubItem, crColor);
}

bool CListCtrlCl::LookupCellBkColor(int nSubItem, int nItem, COLORREF& crColor) const
{
    return FindCellEntry(m_lstCellBkColors, nSubItem, nItem, crColor);
}

bool CListCtrlCl::LookupColumnTextColor(int nSubItem, COLORREF& crColor) const
{
    return FindColumnEntry(m_lstColumnTextColors, nSubItem, crColor);
}

bool CListCtrlCl::LookupCellTextColor(int nSubItem, int nItem, COLORREF& crColor) const
{
    return FindCellEntry(m_lstCellTextColors, nSubItem, nItem, crColor);
}

// Draws the whole row whatever the request's action; of the state only the
// selection counts. Stops at the first column the list does not have.
void CListCtrlCl::DrawItem(const DRAWITEMSTRUCT& dis) const
{
    if (dis.hDC == nullptr)
        return;
    CPainterDC dc(*dis.hDC);
    const int nItem = static_cast<int>(dis.itemID);
    const bool bSelected = (dis.itemState & ODS_SELECTED) != 0;
    for (int i = 0; HasColumn(i); ++i)
        DrawCell(dc, nItem, i, bSelected);
}

void CListCtrlCl::MeasureItem(MEASUREITEMSTRUCT& mis) const
{
    if (m_nItemHeight > 0)
        mis.itemHeight = static_cast<UINT>(m_nItemHeight);
}

COLORREF CListCtrlCl::CellTextColor(int nSubItem, int nItem) const
{
    COLORREF crText = m_crDefaultText;
    LookupColumnTextColor(nSubItem, crText);
    LookupCellTextColor(nSubItem, nItem, crText);
    return crText;
}

char CListCtrlCl::AlignCodeFromFormat(int nFormat)
{
    switch (nFormat) {
    case LVCFMT_LEFT:
        return '0';
    case LVCFMT_RIGHT:
        return '2';
    default:
        return '1';
    }
}

RECT CListCtrlCl::CellFillRect(const RECT& rcText, int nSubItem)
{
    RECT rcFill = rcText;
    if (nSubItem == 0)
        rcFill.left -= kLabelMargin;
    return rcFill;
}

void CListCtrlCl::drawRow(QPainter* pPainter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const
{
    DRAWITEMSTRUCT dis;
    dis.itemID = static_cast<UINT>(index.row());
    dis.itemState = selectionModel()->isRowSelected(index.row(), index.parent()) ? ODS_SELECTED : 0;
    dis.hDC = pPainter;
    dis.rcItem = CPainterDC::ToRect(option.rect);
    DrawItem(dis);
}

// The list's own column format and sub-item number play no part: the
// header and the cells align from the recorded codes.
int CListCtrlCl::InsertReportColumn(int nCol, const char* lpszColumnHeading, int nWidth)
{
    if (nCol < 0)
        return -1;
    const int nIndex = std::min(nCol, m_pModel->columnCount());
    if (!m_pModel->insertColumn(nIndex))
        return -1;
    m_pModel->setHeaderData(nIndex, Qt::Horizontal,
                            QString::fromUtf8(lpszColumnHeading ? lpszColumnHeading : ""));
    if (nWidth >= 0)
        m_ctlHeader.resizeSection(nIndex, nWidth);
    return nIndex;
}

bool CListCtrlCl::HasColumn(int nCol) const
{
    return nCol >= 0 && nCol < m_pModel->columnCount();
}

void CListCtrlCl::DrawCell(CPainterDC& dc, int nItem, int nSubItem, bool bSelected) const
{
    RECT rcText;
    if (!GetSubItemRect(nItem, nSubItem, LVIR_LABEL, rcText))
        return;
    std::array<char, kTextBufferSize> szText{};
    GetItemText(nItem, nSubItem, szText.data(), kTextBufferSize);
    FillCellBackground(dc, CellFillRect(rcText, nSubItem), nSubItem, nItem, bSelected);
    // Centred as text of the default interface font would be, though the
    // cell is drawn in the Song face.
    dc.SelectFont(CGdiFont::DefaultGuiFont());
    const UINT nFormat = CHeaderCtrlCl::DrawTextFormat(m_ctlHeader.m_strAlignCodes, nSubItem);
    OffsetRect(rcText, 0, CentringOffset(rcText, dc.GetTextMetricsHeight()));
    // Selected rows keep their cells' own text colours on the highlight.
    dc.SetTextColor(CellTextColor(nSubItem, nItem));
    const CGdiFont font(m_nCellFontHeight, m_nCellFontWidth, szSongFace);
    dc.SelectFont(font.Font());
    dc.DrawText(szText.data(), rcText, nFormat);
}

// Each fill covers the one before: cell entry over column entry over the
// list's background.
void CListCtrlCl::FillCellBackground(CPainterDC& dc, const RECT& rc, int nSubItem, int nItem,
                                     bool bSelected) const
{
    if (bSelected) {
        dc.FillSolidRect(rc, HighlightColor());
        return;
    }
    dc.FillSolidRect(rc, GetBkColor());
    COLORREF crFill = 0;
    if (LookupColumnBkColor(nSubItem, crFill))
        dc.FillSolidRect(rc, crFill);
    if (LookupCellBkColor(nSubItem, nItem, crFill))
        dc.FillSolidRect(rc, crFill);
}

// Roles set on the widget survive a change of the desktop's palette: the
// rows' own black and red would not read on a dark theme's base.
void CListCtrlCl::KeepLightColours()
{
    QPalette pal = palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, CPainterDC::ToQColor(kBkColor));
        pal.setColor(group, QPalette::Text, CPainterDC::ToQColor(kTextColor));
        pal.setColor(group, QPalette::Highlight, CPainterDC::ToQColor(kHighlightColor));
        pal.setColor(group, QPalette::HighlightedText, CPainterDC::ToQColor(kTextColor));
    }
    setPalette(pal);
}

// The highlight stays the active one when the list loses focus.
COLORREF CListCtrlCl::HighlightColor() const
{
    return CPainterDC::ToColorRef(palette().color(QPalette::Active, QPalette::Highlight));
}

bool CListCtrlCl::FindColumnEntry(const std::list<ColorEntry>& lstEntries, int nSubItem,
                                  COLORREF& crColor)
{
    const auto it = std::find_if(lstEntries.begin(), lstEntries.end(),
                                 [nSubItem](const ColorEntry& entry) { return entry.nSubItem == nSubItem; });
    if (it == lstEntries.end())
        return false;
    crColor = it->crColor;
    return true;
}

bool CListCtrlCl::FindCellEntry(const std::list<ColorEntry>& lstEntries, int nSubItem, int nItem,
                                COLORREF& crColor)
{
    const auto it = std::find_if(lstEntries.begin(), lstEntries.end(), [nSubItem, nItem](const ColorEntry& entry) {
        return entry.nSubItem == nSubItem && entry.nItem == nItem;
    });
    if (it == lstEntries.end())
        return false;
    crColor = it->crColor;
    return true;
}
