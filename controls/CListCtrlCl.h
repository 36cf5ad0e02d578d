#pragma once
// The report list of the main window. It draws every row itself, cell by
// cell: a background fill and the cell's text in a colour looked up per
// cell, per column or taken from the default, in the Song face. Columns
// record their heading and alignment in the header as they are inserted;
// the header and the cells both align from that record.
//
// Colour entries are keyed by row and column index, not by item: deleting
// rows keeps them, and a row inserted later at the same index takes them up.
// The first entry in list order for a cell is the one that counts.

#include "controls/CHeaderCtrlCl.h"
#include "controls/ListCtrlDefs.h"

#include <QTreeView>

#include <cstddef>
#include <list>
#include <string>
#include <string_view>

class CPainterDC;
class QStandardItemModel;

class CListCtrlCl : public QTreeView {
    Q_OBJECT

public:
    // The list's colours, the same whatever the desktop's palette: black and
    // red text on white, and a highlight light enough for both to read on.
    static constexpr COLORREF kBkColor = RGB(255, 255, 255);
    static constexpr COLORREF kTextColor = RGB(0, 0, 0);
    static constexpr COLORREF kRedTextColor = RGB(255, 0, 0);
    static constexpr COLORREF kHighlightColor = RGB(204, 232, 255);

    explicit CListCtrlCl(QWidget* pParent = nullptr);
    ~CListCtrlCl() override;

    // Records the heading and the alignment code in the header first, then
    // inserts the column; the record stays even when the insertion fails.
    // Returns the new column's index or -1.
    int InsertColumn(int nCol, const char* lpszColumnHeading, int nFormat = LVCFMT_LEFT,
                     int nWidth = -1, int nSubItem = -1);
    bool SetColumnWidth(int nCol, int cx);

    int InsertItem(UINT nMask, int nItem, const char* lpszItem, UINT nState, UINT nStateMask,
                   int nImage, LPARAM lParam);
    bool SetItemText(int nItem, int nSubItem, const char* lpszText);
    std::string GetItemText(int nItem, int nSubItem) const;
    // Copies at most nLen - 1 bytes and a terminator, never half a
    // character; returns the bytes copied.
    int GetItemText(int nItem, int nSubItem, char* lpszText, int nLen) const;
    // What assistive technology tells of every cell of the row beside its
    // text (the row's colour, say); empty says nothing.
    bool SetItemDescription(int nItem, const char* lpszDescription);
    bool SetItemState(int nItem, UINT nState, UINT nStateMask);
    int GetItemCount() const;
    bool DeleteAllItems();
    bool GetSubItemRect(int nItem, int nSubItem, int nArea, RECT& rect) const;

    // The list's own item text colour: kept, but the rows are drawn from
    // the colour entries and the default text colour instead.
    bool SetTextColor(COLORREF cr);
    COLORREF GetTextColor() const;
    COLORREF GetBkColor() const;
    CHeaderCtrlCl* GetHeaderCtrl();

    // Appends an entry for (nItem, nSubItem); bReset forgets every cell
    // text entry first.
    void SetItemTextColor(int nSubItem, int nItem, COLORREF crColor, bool bReset);
    bool SetDefaultTextColor(COLORREF crColor);

    bool LookupColumnBkColor(int nSubItem, COLORREF& crColor) const;
    bool LookupCellBkColor(int nSubItem, int nItem, COLORREF& crColor) const;
    bool LookupColumnTextColor(int nSubItem, COLORREF& crColor) const;
    bool LookupCellTextColor(int nSubItem, int nItem, COLORREF& crColor) const;

    void DrawItem(const DRAWITEMSTRUCT& dis) const;
    void MeasureItem(MEASUREITEMSTRUCT& mis) const;

    // Default, then the column's entry, then the cell's entry.
    COLORREF CellTextColor(int nSubItem, int nItem) const;
    static char AlignCodeFromFormat(int nFormat);
    // Column 0's fill reaches back over the 2-pixel margin left of its label.
    static RECT CellFillRect(const RECT& rcText, int nSubItem);

    CHeaderCtrlCl m_ctlHeader;
    int m_nItemHeight = 0;
    std::list<ColorEntry> m_lstColumnBkColors;
    std::list<ColorEntry> m_lstCellBkColors;
    std::list<ColorEntry> m_lstColumnTextColors;
    std::list<ColorEntry> m_lstCellTextColors;
    COLORREF m_crDefaultText = 0;
    int m_nCellFontHeight = 12;
    int m_nCellFontWidth = 0;

protected:
    void drawRow(QPainter* pPainter, const QStyleOptionViewItem& option,
                 const QModelIndex& index) const override;

private:
    int InsertReportColumn(int nCol, const char* lpszColumnHeading, int nWidth);
    bool HasColumn(int nCol) const;
    void DrawCell(CPainterDC& dc, int nItem, int nSubItem, bool bSelected) const;
    void FillCellBackground(CPainterDC& dc, const RECT& rc, int nSubItem, int nItem,
                            bool bSelected) const;
    COLORREF HighlightColor() const;
    void KeepLightColours();

    static bool FindColumnEntry(const std::list<ColorEntry>& lstEntries, int nSubItem,
                                COLORREF& crColor);
    static bool FindCellEntry(const std::list<ColorEntry>& lstEntries, int nSubItem, int nItem,
                              COLORREF& crColor);

    QStandardItemModel* m_pModel;  // a child of the list, deleted with it
    COLORREF m_crListText = 0;
};
