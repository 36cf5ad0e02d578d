#include "platform/CGdiFont.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QScreen>
#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kReferenceDpi = 96;
constexpr int kPointsPerInch = 72;
// QFont accepts stretch factors from 1 to 4000 per cent.
constexpr int kMaxStretch = 4000;

// Win32 MulDiv: a * b / c in 64 bits, rounded half away from zero.
int MulDiv(int a, int b, int c)
{
    const long long product = static_cast<long long>(a) * b;
    const long long half = c / 2;
    return static_cast<int>((product >= 0 ? product + half : product - half) / c);
}

}  // namespace

CGdiFont::CGdiFont(int nHeight, int nWidth, std::string_view strFace)
    : m_font(FaceFont(strFace))
{
    ApplyHeight(m_font, nHeight);
    ApplyWidth(m_font, nWidth);
}

CGdiFont::CGdiFont(Points size, std::string_view strFace)
    : CGdiFont(HeightFromPoints(size.nPoints, ScreenLogicalDpi()), 0, strFace)
{
}

QFont CGdiFont::DefaultGuiFont()
{
    return QGuiApplication::font();
}

int CGdiFont::TextMetricsHeight(const QFont& font)
{
    return QFontMetrics(font).height();
}

int CGdiFont::HeightFromPoints(int nPoints, int nDpi)
{
    return -MulDiv(nPoints, nDpi, kPointsPerInch);
}

int CGdiFont::ScreenLogicalDpi()
{
    const QScreen* pScreen = QGuiApplication::primaryScreen();
    return pScreen ? qRound(pScreen->logicalDotsPerInchY()) : kReferenceDpi;
}

// The Song face of the Chinese interface is not installed under its GDI
// name; the AR PL Ming faces are its stand-in. Other names pass through.
QFont CGdiFont::FaceFont(std::string_view strFace)
{
    const QString face = QString::fromUtf8(strFace.data(), static_cast<qsizetype>(strFace.size()));
    QFont font;
    if (face == QStringLiteral("宋体"))
        font.setFamilies({QStringLiteral("AR PL UMing CN"), QStringLiteral("SimSun"), face});
    else
        font.setFamilies({face});
    return font;
}

// The largest em size whose ascent + descent fits the requested cell height,
// which is how the GDI font mapper reads a positive height.
int CGdiFont::EmPixelsForCellHeight(QFont font, int nCellHeight)
{
    for (int nPixels = nCellHeight; nPixels > 1; --nPixels) {
        font.setPixelSize(nPixels);
        if (TextMetricsHeight(font) <= nCellHeight)
            return nPixels;
    }
    return 1;
}

void CGdiFont::ApplyHeight(QFont& font, int nHeight)
{
    if (nHeight < 0) {
        font.setPixelSize(-nHeight);
    } else if (nHeight > 0) {
        font.setPixelSize(EmPixelsForCellHeight(font, nHeight));
    } else {
        const QFont defaultFont = DefaultGuiFont();
        if (defaultFont.pixelSize() > 0)
            font.setPixelSize(defaultFont.pixelSize());
        else
            font.setPointSizeF(defaultFont.pointSizeF());
    }
}

// A width is the average character width; Qt reaches it by stretching.
void CGdiFont::ApplyWidth(QFont& font, int nWidth)
{
    if (nWidth == 0)
        return;
    const int nAverage = QFontMetrics(font).averageCharWidth();
    if (nAverage <= 0)
        return;
    font.setStretch(std::clamp(MulDiv(std::abs(nWidth), 100, nAverage), 1, kMaxStretch));
}
