#include "controls/CPainterDC.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QString>

CPainterDC::CPainterDC(QPainter& painter)
    : m_painter(painter)
{
}

void CPainterDC::FillSolidRect(const RECT& rc, COLORREF cr)
{
    const QColor color = ToQColor(cr);
    const QRect rect = ToQRect(rc);
    if (!rect.isEmpty())
        m_painter.fillRect(rect, color);
    m_painter.setBackground(color);
}

void CPainterDC::FillRect(const RECT& rc, COLORREF cr)
{
    // An inverted rectangle fills nothing, as in GDI; Qt would normalise it.
    const QRect rect = ToQRect(rc);
    if (rect.isEmpty())
        return;
    const QBrush brush(ToQColor(cr));
    m_painter.fillRect(rect, brush);
}

void CPainterDC::SetBkModeTransparent()
{
    m_painter.setBackgroundMode(Qt::TransparentMode);
}

void CPainterDC::SetTextColor(COLORREF cr)
{
    m_painter.setPen(ToQColor(cr));
}

QFont CPainterDC::SelectFont(const QFont& font)
{
    QFont previous = m_painter.font();
    m_painter.setFont(font);
    return previous;
}

int CPainterDC::GetTextMetricsHeight() const
{
    return m_painter.fontMetrics().height();
}

void CPainterDC::DrawText(std::string_view text, const RECT& rc, UINT nFormat)
{
    const QRect rect = ToQRect(rc);
    if (rect.isEmpty())
        return;
    Qt::Alignment alignment = Qt::AlignTop | Qt::AlignLeft;
    if (nFormat == DT_CENTER)
        alignment = Qt::AlignTop | Qt::AlignHCenter;
    else if (nFormat == DT_RIGHT)
        alignment = Qt::AlignTop | Qt::AlignRight;
    m_painter.save();
    m_painter.setClipRect(rect, Qt::IntersectClip);
    m_painter.drawText(rect, static_cast<int>(alignment),
                       QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    m_painter.restore();
}

QColor CPainterDC::ToQColor(COLORREF cr)
{
    return QColor(GetRValue(cr), GetGValue(cr), GetBValue(cr));
}

COLORREF CPainterDC::ToColorRef(const QColor& color)
{
    return RGB(color.red(), color.green(), color.blue());
}

QRect CPainterDC::ToQRect(const RECT& rc)
{
    return QRect(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
}

RECT CPainterDC::ToRect(const QRect& rc)
{
    return RECT{rc.left(), rc.top(), rc.left() + rc.width(), rc.top() + rc.height()};
}
