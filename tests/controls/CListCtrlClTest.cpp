#include "CControlsTest.h"

#include "controls/CListCtrlCl.h"
#include "platform/CGdiFont.h"

#include <QAbstractItemModel>

#include <string>

namespace {

constexpr COLORREF crRed = RGB(255, 0, 0);
const QRgb rgbRed = qRgb(255, 0, 0);
const QRgb rgbBlack = qRgb(0, 0, 0);
const QRgb rgbBlue = qRgb(0, 0, 255);
const QRgb rgbWhite = qRgb(255, 255, 255);

class CListCtrlClTest : public CControlsTest {
protected:
    void InsertColumns(int nFormat1 = LVCFMT_LEFT, int nFormat2 = LVCFMT_LEFT, int nWidth = 100)
    {
        m_list.resize(nWidth * 3 + 120, 200);
        m_list.InsertColumn(0, "A", LVCFMT_LEFT, nWidth);
        m_list.InsertColumn(1, "B", nFormat1, nWidth);
        m_list.InsertColumn(2, "C", nFormat2, nWidth);
    }
    void AddRow(int nItem, const char* szText = szSquares)
    {
        ASSERT_EQ(m_list.InsertItem(LVIF_TEXT, nItem, szText, 0, 0, 0, 0), nItem);
        m_list.SetItemText(nItem, 1, szText);
        m_list.SetItemText(nItem, 2, szText);
    }
    QRect Cell(int nItem, int nSubItem) const { return m_list.visualRect(m_list.model()->index(nItem, nSubItem)); }
    QImage Cells() { return Grab(*m_list.viewport()); }
    // Whole text pixels of the cell show rgb and none show rgbOther.
    bool DrawnIn(const QImage& image, int nItem, int nSubItem, QRgb rgb, QRgb rgbOther) const
    {
        const QRect cell = Cell(nItem, nSubItem);
        return CountColour(image, cell, rgb) > 0 && CountColour(image, cell, rgbOther) == 0;
    }

    CListCtrlCl m_list;
};

TEST_F(CListCtrlClTest, CellWithRedEntryIsDrawnRed)
{
    InsertColumns();
    m_list.SetItemTextColor(0, 0, crRed, true);
    AddRow(0);
    EXPECT_TRUE(DrawnIn(Cells(), 0, 0, rgbRed, rgbBlack));
    EXPECT_TRUE(DrawnIn(Cells(), 0, 1, rgbBlack, rgbRed));
}

TEST_F(CListCtrlClTest, EarlierEntryForTheSameCellWins)
{
    InsertColumns();
    m_list.SetItemTextColor(0, 0, crRed, false);
    m_list.SetItemTextColor(0, 0, RGB(0, 0, 0), false);
    AddRow(0);
    EXPECT_TRUE(DrawnIn(Cells(), 0, 0, rgbRed, rgbBlack));
}

TEST_F(CListCtrlClTest, ResetLeavesOnlyTheNewEntry)
{
    InsertColumns();
    EXPECT_TRUE(m_list.SetDefaultTextColor(RGB(0, 0, 255)));
    for (int nSubItem = 0; nSubItem < 3; ++nSubItem)
        m_list.SetItemTextColor(nSubItem, 0, crRed, true);
    ASSERT_EQ(m_list.m_lstCellTextColors.size(), 1U);
    AddRow(0);
    const QImage image = Cells();
    EXPECT_TRUE(DrawnIn(image, 0, 0, rgbBlue, rgbRed));
    EXPECT_TRUE(DrawnIn(image, 0, 1, rgbBlue, rgbRed));
    EXPECT_TRUE(DrawnIn(image, 0, 2, rgbRed, rgbBlue));
}

TEST_F(CListCtrlClTest, EntryOutlivesDeletedRowsAndColoursTheRowLaterAtItsIndex)
{
    InsertColumns();
    m_list.SetItemTextColor(1, 3, crRed, false);
    AddRow(0);
    EXPECT_TRUE(m_list.DeleteAllItems());
    EXPECT_EQ(m_list.GetItemCount(), 0);
    for (int nItem = 0; nItem < 4; ++nItem)
        AddRow(nItem);
    const QImage image = Cells();
    EXPECT_TRUE(DrawnIn(image, 3, 1, rgbRed, rgbBlack));
    EXPECT_TRUE(DrawnIn(image, 2, 1, rgbBlack, rgbRed));
    EXPECT_TRUE(DrawnIn(image, 3, 0, rgbBlack, rgbRed));
}

// The highlight stays without focus, reaches over column 0's label margin
// but not past the last column, and the cells keep their text colours.
TEST_F(CListCtrlClTest, SelectedRowHasHighlightBackgroundAndKeepsTextColours)
{
    InsertColumns();
    m_list.SetItemTextColor(1, 0, crRed, false);
    AddRow(0);
    AddRow(1);
    ASSERT_TRUE(m_list.SetItemState(0, LVIS_SELECTED, LVIS_SELECTED));
    ASSERT_FALSE(m_list.hasFocus());
    const QImage image = Cells();
    const QRgb rgbHighlight = m_list.palette().color(QPalette::Active, QPalette::Highlight).rgb();
    const QRect row = Cell(0, 0) | Cell(0, 2);
    EXPECT_EQ(image.pixel(row.topLeft()), rgbHighlight);
    EXPECT_EQ(image.pixel(row.bottomRight()), rgbHighlight);
    EXPECT_EQ(image.pixel(row.right() + 1, row.top()), rgbWhite);
    EXPECT_EQ(image.pixel(Cell(1, 0).topLeft()), rgbWhite);
    EXPECT_TRUE(DrawnIn(image, 0, 1, rgbRed, rgbBlack));
    EXPECT_TRUE(DrawnIn(image, 0, 0, rgbBlack, rgbRed));
}

// No operation of the list adds background or column text entries; the
// drawing still honours them in order: cell, then column, then the list.
TEST_F(CListCtrlClTest, CellEntryOverColumnEntryOverListColours)
{
    InsertColumns();
    m_list.m_lstColumnBkColors.push_back(ColorEntry{0, 1, RGB(0, 0, 255)});
    m_list.m_lstCellBkColors.push_back(ColorEntry{1, 1, RGB(0, 255, 0)});
    m_list.m_lstCellBkColors.push_back(ColorEntry{1, 0, RGB(255, 255, 0)});
    m_list.m_lstColumnTextColors.push_back(ColorEntry{0, 2, RGB(0, 0, 255)});
    m_list.SetItemTextColor(2, 1, crRed, false);
    AddRow(0, "");
    AddRow(1, "");
    const QImage image = Cells();
    EXPECT_EQ(image.pixel(Cell(0, 1).center()), rgbBlue);
    EXPECT_EQ(image.pixel(Cell(1, 1).center()), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(Cell(0, 2).center()), rgbWhite);
    EXPECT_EQ(image.pixel(Cell(1, 0).topLeft()), qRgb(255, 255, 0));
    EXPECT_EQ(m_list.CellTextColor(2, 1), crRed);
    EXPECT_EQ(m_list.CellTextColor(2, 0), RGB(0, 0, 255));
    EXPECT_EQ(m_list.CellTextColor(1, 1), RGB(0, 0, 0));
}

TEST_F(CListCtrlClTest, InsertColumnRecordsHeadingAndCodeBeforeInserting)
{
    EXPECT_EQ(m_list.InsertColumn(0, "left", LVCFMT_LEFT), 0);
    EXPECT_EQ(m_list.InsertColumn(1, "right", LVCFMT_RIGHT), 1);
    EXPECT_EQ(m_list.InsertColumn(2, "centre", LVCFMT_CENTER), 2);
    EXPECT_EQ(m_list.InsertColumn(9, "other", 3), 3);
    EXPECT_EQ(m_list.InsertColumn(-1, "failed", LVCFMT_RIGHT), -1);
    const CHeaderCtrlCl& header = *m_list.GetHeaderCtrl();
    EXPECT_EQ(header.m_strAlignCodes, "02112");
    EXPECT_EQ(header.m_astrHeadings.back(), "failed");
    EXPECT_EQ(m_list.model()->columnCount(), 4);
}

// No inset in the cells; a column past the codes is centred. The default
// interface font's height, not the cell font's, centres them vertically.
TEST_F(CListCtrlClTest, CellsAlignByRecordedCodesAndCentreOnTheDefaultFont)
{
    InsertColumns(LVCFMT_RIGHT, 3);
    m_list.model()->insertColumn(3);
    m_list.SetColumnWidth(3, 100);
    AddRow(0);
    m_list.SetItemText(0, 3, szSquares);
    const QImage image = Cells();
    const CGdiFont font(12, 0, "宋体");
    const int nDefaultHeight = CGdiFont::TextMetricsHeight(CGdiFont::DefaultGuiFont());
    ASSERT_NE(nDefaultHeight, font.TextMetricsHeight());
    const int flags[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter, Qt::AlignHCenter};
    for (int nSubItem = 0; nSubItem < 4; ++nSubItem) {
        QRect rect = Cell(0, nSubItem).adjusted(nSubItem == 0 ? 2 : 0, 0, 0, 0);
        rect.translate(0, (rect.height() - nDefaultHeight) / 2);
        EXPECT_EQ(InkBounds(image, Cell(0, nSubItem), rgbWhite),
                  ReferenceInk(font.Font(), QString::fromUtf8(szSquares), flags[nSubItem] | Qt::AlignTop, rect))
            << "column " << nSubItem;
    }
}

TEST_F(CListCtrlClTest, MeasureItemSetsOnlyAPositiveHeight)
{
    MEASUREITEMSTRUCT mis;
    mis.itemHeight = 17;
    for (int nHeight : {0, -4}) {
        m_list.m_nItemHeight = nHeight;
        m_list.MeasureItem(mis);
        EXPECT_EQ(mis.itemHeight, 17U);
    }
    m_list.m_nItemHeight = 30;
    InsertColumns();
    AddRow(0);
    Grab(m_list);
    EXPECT_EQ(Cell(0, 0).height(), 30);
}

// 300 bytes draw as their first 255; a character that would straddle the
// cut is left out whole.
TEST_F(CListCtrlClTest, DrawsAtMost255BytesAndNeverHalfACharacter)
{
    InsertColumns(LVCFMT_LEFT, LVCFMT_LEFT, 2000);
    const std::string strDashes(254, '-');
    const std::string rows[] = {strDashes + "-" + std::string(45, '#'), strDashes + "-", strDashes + "#",
                                strDashes + "中文", strDashes};
    for (int nItem = 0; nItem < 5; ++nItem)
        AddRow(nItem, rows[nItem].c_str());
    const QImage image = Cells();
    const auto cell = [&](int nItem) { return image.copy(Cell(nItem, 1)); };
    EXPECT_EQ(cell(0), cell(1));
    EXPECT_NE(cell(2), cell(1));
    EXPECT_EQ(cell(3), cell(4));
    char szText[256];
    EXPECT_EQ(m_list.GetItemText(0, 1, szText, sizeof szText), 255);
    EXPECT_EQ(std::string(szText), rows[1]);
    EXPECT_EQ(m_list.GetItemText(3, 1, szText, sizeof szText), 254);
}

TEST_F(CListCtrlClTest, RowOperationsFollowTheListView)
{
    InsertColumns();
    EXPECT_EQ(m_list.InsertItem(LVIF_TEXT, 5, szSquares, 0, 0, 0, 0), 0);
    EXPECT_EQ(m_list.InsertItem(LVIF_TEXT, 0, "second", 0, 0, 0, 0), 0);
    EXPECT_EQ(m_list.InsertItem(LVIF_TEXT, -1, "none", 0, 0, 0, 0), -1);
    EXPECT_FALSE(m_list.SetItemText(2, 0, "past the rows"));
    // The list's own text colour is kept but plays no part in the drawing.
    EXPECT_TRUE(m_list.SetTextColor(crRed));
    EXPECT_EQ(m_list.GetTextColor(), crRed);
    EXPECT_TRUE(DrawnIn(Cells(), 1, 0, rgbBlack, rgbRed));
}

}  // namespace
