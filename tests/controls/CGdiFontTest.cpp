#include "CControlsTest.h"

#include "platform/CGdiFont.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>

namespace {

using CGdiFontTest = CControlsTest;

// A positive height is the cell height, a negative one the em height.
TEST_F(CGdiFontTest, SongFaceMapsToTheMingFamilyAndHeightSignPicksCellOrEm)
{
    const CGdiFont cell(15, 0, "宋体");
    EXPECT_EQ(QFontInfo(cell.Font()).family(), QStringLiteral("AR PL UMing CN"));
    EXPECT_EQ(cell.TextMetricsHeight(), 15);
    EXPECT_EQ(CGdiFont(-12, 0, "宋体").Font().pixelSize(), 12);
    EXPECT_EQ(CGdiFont(-10, 0, "DejaVu Sans").Font().families().front(), QStringLiteral("DejaVu Sans"));
    EXPECT_EQ(CGdiFont(0, 0, "宋体").Font().pointSizeF(), CGdiFont::DefaultGuiFont().pointSizeF());
    EXPECT_EQ(CGdiFont::DefaultGuiFont(), QApplication::font());
}

// Points convert like MulDiv at the logical DPI; a width is the average
// character width.
TEST_F(CGdiFontTest, PointsAndWidthFollowTheGdiRules)
{
    EXPECT_EQ(CGdiFont::HeightFromPoints(9, 96), -12);
    EXPECT_EQ(CGdiFont::HeightFromPoints(10, 96), -13);
    EXPECT_EQ(CGdiFont::HeightFromPoints(9, 120), -15);
    const CGdiFont font(CGdiFont::Points{9}, "宋体");
    EXPECT_EQ(font.Font().pixelSize(), -CGdiFont::HeightFromPoints(9, CGdiFont::ScreenLogicalDpi()));
    const int nNatural = QFontMetrics(CGdiFont(-12, 0, "宋体").Font()).averageCharWidth();
    EXPECT_NEAR(QFontMetrics(CGdiFont(-12, 2 * nNatural, "宋体").Font()).averageCharWidth(), 2 * nNatural, 1);
}

}  // namespace
