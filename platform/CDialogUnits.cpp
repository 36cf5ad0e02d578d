#include "platform/CDialogUnits.h"

#include <QFontMetrics>

namespace {

// Windows measures the average width over the 52 Latin letters.
int AverageCharWidth(const QFontMetrics& fm)
{
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return (fm.horizontalAdvance(letters) / 26 + 1) / 2;
}

}  // namespace

CDialogUnits::CDialogUnits(const QFont& font)
{
    QFontMetrics fm(font);
    m_nBaseX = AverageCharWidth(fm);
    m_nBaseY = fm.height();
}

int CDialogUnits::MulDiv(int a, int b, int c)
{
    if (c == 0)
        return -1;
    long long p = static_cast<long long>(a) * b;
    long long q = c;
    if (q < 0) {
        p = -p;
        q = -q;
    }
    long long r = p >= 0 ? (p + q / 2) / q : -((-p + q / 2) / q);
    return static_cast<int>(r);
}

int CDialogUnits::MapX(int dlu) const
{
    return MulDiv(dlu, m_nBaseX, 4);
}

int CDialogUnits::MapY(int dlu) const
{
    return MulDiv(dlu, m_nBaseY, 8);
}

QRect CDialogUnits::MapDialogRect(int x, int y, int cx, int cy) const
{
    int left = MapX(x);
    int top = MapY(y);
    int right = MapX(x + cx);
    int bottom = MapY(y + cy);
    return QRect(left, top, right - left, bottom - top);
}
