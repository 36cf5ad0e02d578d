#pragma once
// The few device-context operations the colour list controls draw with,
// carried out on a QPainter. Rectangles are GDI rectangles (exclusive right
// and bottom), colours COLORREF values.

#include "controls/ListCtrlDefs.h"

#include <QColor>
#include <QRect>

#include <string_view>

class QFont;
class QPainter;

class CPainterDC {
public:
    explicit CPainterDC(QPainter& painter);

    // Fills rc and keeps cr as the background colour, as FillSolidRect does.
    void FillSolidRect(const RECT& rc, COLORREF cr);
    // Fills rc through a brush made for this one fill.
    void FillRect(const RECT& rc, COLORREF cr);
    void SetBkModeTransparent();
    void SetTextColor(COLORREF cr);
    // Returns the font that was selected before.
    QFont SelectFont(const QFont& font);
    int GetTextMetricsHeight() const;
    // Draws UTF-8 text in rc, clipped to it, aligned by DT_LEFT, DT_CENTER
    // or DT_RIGHT and top-aligned.
    void DrawText(std::string_view text, const RECT& rc, UINT nFormat);

    static QColor ToQColor(COLORREF cr);
    static COLORREF ToColorRef(const QColor& color);
    static QRect ToQRect(const RECT& rc);
    static RECT ToRect(const QRect& rc);

private:
    QPainter& m_painter;
};
