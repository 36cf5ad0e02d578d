#pragma once

#include <QFont>
#include <QRect>

// Dialog units to pixels, from the dialog font's metrics, as Windows maps a
// dialog template: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height.
class CDialogUnits {
public:
    explicit CDialogUnits(const QFont& font);
    CDialogUnits(int baseUnitX, int baseUnitY) : m_nBaseX(baseUnitX), m_nBaseY(baseUnitY) {}

    int BaseUnitX() const { return m_nBaseX; }
    int BaseUnitY() const { return m_nBaseY; }

    int MapX(int dlu) const;
    int MapY(int dlu) const;
    QRect MapDialogRect(int x, int y, int cx, int cy) const;

    // Win32's MulDiv: a * b / c rounded half away from zero.
    static int MulDiv(int a, int b, int c);

private:
    int m_nBaseX;
    int m_nBaseY;
};
