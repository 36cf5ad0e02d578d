#pragma once
// A font made the way Win32 CreateFont makes one: from a height, a width and
// a face name. The GDI face names the windows ask for are mapped to the
// installed families that stand in for them.

#include <QFont>

#include <string_view>

class CGdiFont {
public:
    // A size in typographic points, converted at the screen's logical DPI.
    struct Points {
        int nPoints = 0;
    };

    // nHeight > 0: cell height (ascent + descent) in pixels; nHeight < 0: the
    // character (em) height; 0: the default interface font's size.
    // nWidth 0 keeps the face's own proportions.
    CGdiFont(int nHeight, int nWidth, std::string_view strFace);
    CGdiFont(Points size, std::string_view strFace);

    const QFont& Font() const { return m_font; }
    int TextMetricsHeight() const { return TextMetricsHeight(m_font); }

    // Stands in for the stock DEFAULT_GUI_FONT: the application's font.
    static QFont DefaultGuiFont();
    // tmHeight: ascent + descent in pixels.
    static int TextMetricsHeight(const QFont& font);
    // -MulDiv(nPoints, nDpi, 72), the height CreatePointFont would pass on.
    static int HeightFromPoints(int nPoints, int nDpi);
    static int ScreenLogicalDpi();

private:
    static QFont FaceFont(std::string_view strFace);
    static int EmPixelsForCellHeight(QFont font, int nCellHeight);
    static void ApplyHeight(QFont& font, int nHeight);
    static void ApplyWidth(QFont& font, int nWidth);

    QFont m_font;
};
