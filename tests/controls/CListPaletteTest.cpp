#include "CControlsTest.h"

#include "controls/CListCtrlCl.h"

#include <QApplication>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <string>

namespace {

// WCAG 2 relative luminance of an sRGB colour, and the contrast ratio.
double Luminance(QRgb rgb)
{
    auto linear = [](int c) {
        const double s = c / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb)) + 0.0722 * linear(qBlue(rgb));
}

double Contrast(QRgb a, QRgb b)
{
    const double la = Luminance(a);
    const double lb = Luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QPalette DesktopPalette(QColor base, QColor text, QColor highlight)
{
    QPalette palette;
    palette.setColor(QPalette::Window, base);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Highlight, highlight);
    palette.setColor(QPalette::HighlightedText, text);
    return palette;
}

struct SPaletteCase {
    const char* pszName;
    QPalette palette;
};

class CListPaletteTest : public CControlsTest {
protected:
    void TearDown() override { QApplication::setPalette(QPalette()); }

    // Row 0 red, row 1 in the default colour, under the desktop's palette.
    std::unique_ptr<CListCtrlCl> MakeList(const QPalette& desktop)
    {
        QApplication::setPalette(desktop);
        auto list = std::make_unique<CListCtrlCl>();
        list->resize(420, 200);
        for (int col = 0; col < 3; ++col)
            list->InsertColumn(col, "A", LVCFMT_LEFT, 100);
        list->SetDefaultTextColor(CListCtrlCl::kTextColor);
        for (int row = 0; row < 2; ++row) {
            for (int col = 0; col < 3; ++col)
                list->SetItemTextColor(col, row, row == 0 ? CListCtrlCl::kRedTextColor : CListCtrlCl::kTextColor, false);
            list->InsertItem(LVIF_TEXT, row, szSquares, 0, 0, 0, 0);
            list->SetItemText(row, 1, szSquares);
            list->SetItemText(row, 2, szSquares);
        }
        return list;
    }

    // The text's contrast on the cell: its commonest colour (the solid
    // glyphs' inside, not their blended edges) against the fill at the
    // cell's corner, where no text reaches.
    static double TextContrast(const QImage& image, const QRect& cell)
    {
        const QRgb background = image.pixel(cell.topLeft());
        std::map<QRgb, int> counts;
        for (int y = cell.top(); y <= cell.bottom(); ++y) {
            for (int x = cell.left(); x <= cell.right(); ++x) {
                if (image.pixel(x, y) != background)
                    ++counts[image.pixel(x, y)];
            }
        }
        const auto text = std::max_element(counts.begin(), counts.end(),
                                           [](const auto& a, const auto& b) { return a.second < b.second; });
        return text != counts.end() ? Contrast(text->first, background) : 1.0;
    }
};

}  // namespace

// Default text at least 4.5:1 and red at least 3:1 on the list's
// background, and both at least 3:1 on the highlight of a selected row,
// under a light and a dark desktop palette.
TEST_F(CListPaletteTest, TextReadsOnTheBackgroundAndOnTheHighlightInAnyPalette)
{
    const SPaletteCase cases[] = {
        {"light", DesktopPalette(Qt::white, Qt::black, QColor(0x30, 0x8c, 0xc6))},
        {"dark", DesktopPalette(QColor(0x3c, 0x3c, 0x3c), Qt::white, QColor(0x2a, 0x82, 0xda))},
    };
    for (const SPaletteCase& c : cases) {
        for (int selected : {-1, 0, 1}) {
            SCOPED_TRACE(std::string(c.pszName) + ", selected row " + std::to_string(selected));
            std::unique_ptr<CListCtrlCl> list = MakeList(c.palette);
            if (selected >= 0) {
                ASSERT_TRUE(list->SetItemState(selected, LVIS_SELECTED, LVIS_SELECTED));
            }
            const QImage image = Grab(*list->viewport());
            const double red = TextContrast(image, list->visualRect(list->model()->index(0, 1)));
            const double text = TextContrast(image, list->visualRect(list->model()->index(1, 1)));
            const std::string key = std::string(c.pszName) + (selected < 0 ? "" : "_selected" + std::to_string(selected));
            RecordProperty(key + "_red", std::to_string(red));
            RecordProperty(key + "_text", std::to_string(text));
            EXPECT_GE(red, 3.0) << "red";
            EXPECT_GE(text, selected == 1 ? 3.0 : 4.5) << "default text";
        }
    }
}

// The light colours stay when the desktop's palette changes under a list
// already shown, and a selected row stands out from the others.
TEST_F(CListPaletteTest, TheListKeepsItsColoursWhenThePaletteChanges)
{
    std::unique_ptr<CListCtrlCl> list = MakeList(QPalette());
    ASSERT_TRUE(list->SetItemState(0, LVIS_SELECTED, LVIS_SELECTED));
    Grab(*list->viewport());
    QApplication::setPalette(DesktopPalette(QColor(0x3c, 0x3c, 0x3c), Qt::white, QColor(0x2a, 0x82, 0xda)));
    const QImage image = Grab(*list->viewport());
    EXPECT_EQ(image.pixel(list->visualRect(list->model()->index(1, 1)).topLeft()), qRgb(255, 255, 255));
    EXPECT_EQ(image.pixel(list->visualRect(list->model()->index(0, 1)).topLeft()), qRgb(204, 232, 255));
    EXPECT_EQ(image.pixel(list->viewport()->rect().bottomRight()), qRgb(255, 255, 255));  // below the rows
    EXPECT_EQ(list->GetBkColor(), CListCtrlCl::kBkColor);
}
