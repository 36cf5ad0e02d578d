#include "CControlsTest.h"

#include "controls/CHeaderCtrlCl.h"
#include "controls/CListCtrlCl.h"
#include "platform/CGdiFont.h"

#include <QAbstractItemModel>

#include <algorithm>

namespace {

const QRgb rgbFlat = qRgb(171, 199, 235);

class CHeaderCtrlClTest : public CControlsTest {
protected:
    // Items of 100, 100 and 120 pixels, then a trailing area.
    void InsertColumns(const char* szHeading)
    {
        m_list.resize(420, 120);
        m_list.InsertColumn(0, szHeading, LVCFMT_LEFT, 100);
        m_list.InsertColumn(1, szHeading, LVCFMT_RIGHT, 100);
        m_list.InsertColumn(2, szHeading, LVCFMT_CENTER, 120);
    }
    CHeaderCtrlCl& Header() { return *m_list.GetHeaderCtrl(); }
    // An item without its unpainted left seam.
    QRect ItemArea(int nItem) { return QRect(100 * nItem + 1, 0, nItem == 2 ? 119 : 99, Header().height()); }

    CListCtrlCl m_list;
};

// The seams show the erased background: the button face.
TEST_F(CHeaderCtrlClTest, FillsItemsAndTrailingAreaFlatLeavingOnePixelSeams)
{
    InsertColumns("");
    const QImage image = Grab(Header());
    const QRgb rgbSeam = Header().viewport()->palette().color(QPalette::Button).rgb();
    ASSERT_NE(rgbSeam, rgbFlat);
    for (int x = 0; x < image.width(); ++x) {
        const bool bSeam = x == 0 || x == 100 || x == 200 || x == 320;
        for (int y = 0; y < image.height(); ++y)
            ASSERT_EQ(image.pixel(x, y), bSeam ? rgbSeam : rgbFlat) << "x " << x << " y " << y;
    }
}

TEST_F(CHeaderCtrlClTest, PositiveStepDarkensRowByRowFromEachTopAndClampsAtZero)
{
    InsertColumns("");
    Header().m_nGradStep = 40;
    const QImage image = Grab(Header());
    ASSERT_GT(image.height(), 6);
    const QRgb expected[] = {qRgb(171, 199, 235), qRgb(131, 159, 195), qRgb(91, 119, 155), qRgb(51, 79, 115),
                             qRgb(11, 39, 75),    qRgb(0, 0, 35),      qRgb(0, 0, 0)};
    for (int x : {1, 99, 101, 201, 319, 321, image.width() - 1}) {
        for (int y = 0; y < image.height(); ++y)
            EXPECT_EQ(image.pixel(x, y), expected[std::min(y, 6)]) << "x " << x << " y " << y;
    }
}

TEST_F(CHeaderCtrlClTest, WithoutItemsKeepsItsHeightAndFillsItAll)
{
    m_list.resize(200, 100);
    const QImage image = Grab(Header());
    CListCtrlCl withItem;
    withItem.InsertColumn(0, "");
    EXPECT_EQ(image.height(), withItem.GetHeaderCtrl()->sizeHint().height());
    EXPECT_EQ(CountColour(image, image.rect(), rgbFlat), image.width() * image.height());
}

// Left and right headings keep 3 pixels from the edge, centred ones none;
// the heading font's own height centres them vertically.
TEST_F(CHeaderCtrlClTest, DrawsRecordedHeadingsAlignedInsetAndCentred)
{
    InsertColumns(szSquares);
    const QImage image = Grab(Header());
    const CGdiFont font(15, 0, "宋体");
    const int nTop = (Header().height() - font.TextMetricsHeight()) / 2;
    const int nHeight = font.TextMetricsHeight();
    const QRect rects[] = {QRect(3, nTop, 97, nHeight), QRect(100, nTop, 97, nHeight), QRect(200, nTop, 120, nHeight)};
    const int flags[] = {Qt::AlignLeft, Qt::AlignRight, Qt::AlignHCenter};
    for (int i = 0; i < 3; ++i) {
        const QRect ink = InkBounds(image, ItemArea(i), rgbFlat);
        EXPECT_EQ(ink, ReferenceInk(font.Font(), QString::fromUtf8(szSquares), flags[i] | Qt::AlignTop, rects[i]))
            << "item " << i;
        EXPECT_GT(CountColour(image, ink, qRgb(0, 0, 0)), 0) << "item " << i;
    }
}

TEST_F(CHeaderCtrlClTest, HeadingChangedOnTheListStillShowsTheRecordedOne)
{
    InsertColumns(szSquares);
    const QImage before = Grab(Header());
    m_list.model()->setHeaderData(0, Qt::Horizontal, QStringLiteral("changed"));
    EXPECT_TRUE(InkBounds(before, ItemArea(0), rgbFlat).isValid());
    EXPECT_EQ(Grab(Header()), before);
}

// The layout sets the top of the list's item area to the scaled height.
TEST_F(CHeaderCtrlClTest, HeightScaleSetsHeaderHeightAndTopOfItemArea)
{
    InsertColumns("");
    const int nDefault = Header().QHeaderView::sizeHint().height();
    EXPECT_EQ(Header().sizeHint().height(), nDefault);
    Header().m_fHeightScale = 1.5F;
    RECT rcArea{0, 7, 300, 200};
    WINDOWPOS wpos;
    HDLAYOUT layout{&rcArea, &wpos};
    ASSERT_TRUE(Header().OnHeaderLayout(layout));
    const int nScaled = nDefault * 3 / 2;
    EXPECT_EQ(wpos.y, 7);
    EXPECT_EQ(wpos.cy, nScaled);
    EXPECT_EQ(rcArea.top, nScaled);
    Grab(m_list);
    EXPECT_EQ(Header().height(), nScaled);
    EXPECT_EQ(m_list.viewport()->y() - Header().y(), nScaled);
}

}  // namespace
