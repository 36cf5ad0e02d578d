// The icon theme's files: the PNGs are the window's own drawing, and the
// scalable SVG looks like it.
#include "res/AppIcon.h"

#include <gtest/gtest.h>

#include <QSvgRenderer>
#include <QPainter>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

QImage Straight(const QImage& image)
{
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage RenderSvg(int size)
{
    QSvgRenderer svg(QString::fromUtf8(CERTPURGE_ICON_SVG));
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p);
    p.end();
    return image;
}

// The share of pixels where any channel differs by more than a quarter of
// its range: antialiased edges differ a little between two renderers,
// another picture differs a lot.
double ShareOfDifferentPixels(const QImage& a, const QImage& b)
{
    QImage x = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage y = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int different = 0;
    for (int row = 0; row < x.height(); ++row) {
        for (int col = 0; col < x.width(); ++col) {
            QRgb p = x.pixel(col, row), q = y.pixel(col, row);
            int delta = std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                  std::abs(qBlue(p) - qBlue(q)), std::abs(qAlpha(p) - qAlpha(q))});
            if (delta > 64)
                ++different;
        }
    }
    return static_cast<double>(different) / (x.width() * x.height());
}

std::vector<int> ThemeSizes()
{
    std::vector<int> sizes;
    std::istringstream list(CERTPURGE_ICON_SIZES);
    for (std::string size; std::getline(list, size, ',');)
        sizes.push_back(std::stoi(size));
    return sizes;
}

}  // namespace

TEST(IconTest, ThemePngsAreTheWindowsDrawing)
{
    std::vector<int> sizes = ThemeSizes();
    for (int size : {16, 32, 48, 64, 128, 256})
        EXPECT_NE(std::find(sizes.begin(), sizes.end(), size), sizes.end()) << size;
    for (int size : sizes) {
        QImage png(QString::fromUtf8(CERTPURGE_ICON_DIR "/certpurge-%1.png").arg(size));
        ASSERT_FALSE(png.isNull()) << size;
        EXPECT_EQ(png.size(), QSize(size, size));
        EXPECT_EQ(Straight(png), Straight(AppIcon::Render(size))) << size;
    }
}

TEST(IconTest, SvgLooksLikeTheDrawing)
{
    QSvgRenderer svg(QString::fromUtf8(CERTPURGE_ICON_SVG));
    ASSERT_TRUE(svg.isValid());
    EXPECT_EQ(svg.viewBox(), QRect(0, 0, 48, 48));
    for (int size : {16, 48, 256})
        EXPECT_LT(ShareOfDifferentPixels(RenderSvg(size), AppIcon::Render(size)), 0.02) << size;
}

TEST(IconTest, ComparisonTellsAnotherPictureApart)
{
    QImage drawn = AppIcon::Render(48);
    EXPECT_GT(ShareOfDifferentPixels(drawn.mirrored(true, false), drawn), 0.1);
    EXPECT_GT(ShareOfDifferentPixels(drawn.mirrored(false, true), drawn), 0.1);
}
